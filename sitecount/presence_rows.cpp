#include "sitecount/presence_rows.h"

#include <algorithm>
#include <atomic>
#include <charconv>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <exception>
#include <mutex>
#include <new>
#include <optional>
#include <stdexcept>
#include <thread>
#include <utility>
#include <vector>

#include "common/background_writer.h"
#include "common/number_text.h"

namespace {

constexpr int kFormatPresence = 0;
constexpr int kFormatCount = 1;

// A double as the stream writes it by default: "%g" with six significant digits.
void AppendDouble(std::string& text, double value) {
  char buffer[32];
  const int length = std::snprintf(buffer, sizeof buffer, "%.*g", 6, value);
  text.append(buffer, static_cast<std::size_t>(length));
}

// A stretch of one record's residues and the counts found in it.
struct Piece {
  std::size_t row = 0;  // index into the batch's rows
  std::vector<NucleotideCode> codes;
  std::size_t start_limit = 0;
  std::vector<std::uint64_t> counts;
};

// A record, or the part of a long record that a batch holds.
struct Row {
  std::string header;
  std::size_t first_piece = 0;
  std::size_t piece_count = 0;
  bool continued = false;  // the record began in an earlier batch
};

// Records read together, counted together and written together. Batches are reused: their
// vectors keep their storage, and only the first *_used elements are live.
struct Batch {
  std::vector<Piece> pieces;
  std::size_t pieces_used = 0;
  std::vector<Row> rows;
  std::size_t rows_used = 0;
  bool last_row_goes_on = false;   // the last record goes on in the next batch
  std::vector<std::string> texts;  // the formatted rows, one text per formatting share
};

// Cuts the input into batches. A long record is read in pieces; each piece after the
// first starts with the last `overlap` residues of the one before, and counts only the
// starts that the next piece does not.
class BatchFiller {
 public:
  BatchFiller(FastaReader& reader, const PresenceSettings& settings)
      : reader_(reader),
        settings_(settings),
        overlap_(settings.longest_motif > 0 ? settings.longest_motif - 1 : 0),
        piece_residues_(std::max(settings.piece_residues, 4 * settings.longest_motif + 1)) {}

  // Fills `batch` with what comes next; false when the input had nothing left.
  bool Fill(Batch& batch) {
    batch.pieces_used = 0;
    batch.rows_used = 0;
    std::size_t residues = 0;
    while (residues < settings_.batch_residues && batch.rows_used < settings_.batch_records) {
      Row* row = nullptr;
      if (!record_open_) {
        // Counted first, so that a failure while reading the header names this record.
        ++records_started_;
        if (!reader_.NextHeader(header_)) {
          --records_started_;
          break;
        }
        row = &NextRow(batch);
        row->header.swap(header_);
        row->continued = false;
        record_open_ = true;
        tail_.clear();
      } else if (batch.rows_used == 0) {
        row = &NextRow(batch);
        row->header.clear();
        row->continued = true;
      } else {
        row = &batch.rows[batch.rows_used - 1];
      }
      Piece& piece = NextPiece(batch, batch.rows_used - 1);
      if (row->piece_count++ == 0) row->first_piece = batch.pieces_used - 1;
      piece.codes.assign(tail_.begin(), tail_.end());
      const std::size_t new_from = piece.codes.size();
      reader_.AppendResidues(piece.codes, piece_residues_);
      if (reader_.AtRecordEnd()) {
        piece.start_limit = piece.codes.size();
        record_open_ = false;
      } else {
        piece.start_limit = piece.codes.size() - overlap_;
        tail_.assign(piece.codes.end() - static_cast<std::ptrdiff_t>(overlap_), piece.codes.end());
      }
      residues += piece.codes.size();
      if (settings_.progress != nullptr) {
        settings_.progress->records.store(records_started_, std::memory_order_relaxed);
        settings_.progress->residues.fetch_add(piece.codes.size() - new_from,
                                               std::memory_order_relaxed);
      }
    }
    batch.last_row_goes_on = record_open_ && batch.rows_used > 0;
    return batch.rows_used > 0;
  }

  // Records whose header has been read so far.
  std::uint64_t records_started() const { return records_started_; }

 private:
  static Row& NextRow(Batch& batch) {
    if (batch.rows_used == batch.rows.size()) batch.rows.emplace_back();
    Row& row = batch.rows[batch.rows_used++];
    row.piece_count = 0;
    return row;
  }

  static Piece& NextPiece(Batch& batch, std::size_t row) {
    if (batch.pieces_used == batch.pieces.size()) batch.pieces.emplace_back();
    Piece& piece = batch.pieces[batch.pieces_used++];
    piece.row = row;
    return piece;
  }

  FastaReader& reader_;
  const PresenceSettings& settings_;
  const std::size_t overlap_;
  const std::size_t piece_residues_;
  bool record_open_ = false;
  std::uint64_t records_started_ = 0;
  std::string header_;
  std::vector<NucleotideCode> tail_;
};

// Threads that run one job together with the calling thread and return when all are done.
class WorkerPool {
 public:
  explicit WorkerPool(std::size_t helpers) {
    for (std::size_t index = 0; index < helpers; ++index) {
      threads_.emplace_back([this, index] { Work(index + 1); });
    }
  }
  ~WorkerPool() {
    {
      const std::lock_guard lock(mutex_);
      stopping_ = true;
    }
    wake_.notify_all();
    for (std::thread& thread : threads_) thread.join();
  }
  WorkerPool(const WorkerPool&) = delete;
  WorkerPool& operator=(const WorkerPool&) = delete;

  std::size_t size() const { return threads_.size() + 1; }

  // Runs job(thread_index) on every thread, the caller being thread 0.
  void Run(const std::function<void(std::size_t)>& job) {
    {
      const std::lock_guard lock(mutex_);
      job_ = &job;
      running_ = threads_.size();
      ++generation_;
    }
    wake_.notify_all();
    std::exception_ptr own_error;
    try {
      job(0);
    } catch (...) {
      own_error = std::current_exception();
    }
    std::unique_lock lock(mutex_);
    done_.wait(lock, [this] { return running_ == 0; });
    job_ = nullptr;
    // A failure on any thread (running out of memory) goes on from the caller's.
    if (own_error == nullptr) own_error = std::exchange(error_, nullptr);
    if (own_error != nullptr) std::rethrow_exception(own_error);
  }

 private:
  void Work(std::size_t thread_index) {
    std::uint64_t seen = 0;
    for (;;) {
      const std::function<void(std::size_t)>* job = nullptr;
      {
        std::unique_lock lock(mutex_);
        wake_.wait(lock, [&] { return stopping_ || generation_ != seen; });
        if (stopping_) return;
        seen = generation_;
        job = job_;
      }
      std::exception_ptr error;
      try {
        (*job)(thread_index);
      } catch (...) {
        error = std::current_exception();
      }
      {
        const std::lock_guard lock(mutex_);
        if (error != nullptr && error_ == nullptr) error_ = error;
        --running_;
      }
      done_.notify_one();
    }
  }

  std::vector<std::thread> threads_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::condition_variable done_;
  const std::function<void(std::size_t)>* job_ = nullptr;
  std::size_t running_ = 0;
  std::exception_ptr error_;
  std::uint64_t generation_ = 0;
  bool stopping_ = false;
};

// Filled batches handed from the reader thread to the counting threads, and empty ones
// back; at most `capacity` batches exist, which bounds the memory.
class BatchQueue {
 public:
  explicit BatchQueue(std::size_t capacity) {
    for (std::size_t index = 0; index < capacity; ++index) {
      free_.push_back(std::make_unique<Batch>());
    }
  }

  std::unique_ptr<Batch> TakeFree() { return Take(free_); }
  void GiveFree(std::unique_ptr<Batch> batch) { Give(free_, std::move(batch)); }
  // Null once the reader has finished and every filled batch was taken.
  std::unique_ptr<Batch> TakeFilled() { return Take(filled_); }
  void GiveFilled(std::unique_ptr<Batch> batch) { Give(filled_, std::move(batch)); }

  void Finish() {
    {
      const std::lock_guard lock(mutex_);
      finished_ = true;
    }
    changed_.notify_all();
  }

  // Tells the reader to stop: it gets no free batch any more.
  void Stop() {
    {
      const std::lock_guard lock(mutex_);
      stopped_ = true;
    }
    changed_.notify_all();
  }

 private:
  std::unique_ptr<Batch> Take(std::deque<std::unique_ptr<Batch>>& from) {
    std::unique_lock lock(mutex_);
    const bool taking_free = &from == &free_;
    changed_.wait(lock, [&] { return !from.empty() || (taking_free ? stopped_ : finished_); });
    if (from.empty() || (taking_free && stopped_)) return nullptr;
    std::unique_ptr<Batch> batch = std::move(from.front());
    from.pop_front();
    return batch;
  }
  void Give(std::deque<std::unique_ptr<Batch>>& to, std::unique_ptr<Batch> batch) {
    {
      const std::lock_guard lock(mutex_);
      to.push_back(std::move(batch));
    }
    changed_.notify_all();
  }

  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<std::unique_ptr<Batch>> free_;
  std::deque<std::unique_ptr<Batch>> filled_;
  bool finished_ = false;
  bool stopped_ = false;
};

// Counts and formats batches, and carries the counts of a record that goes on into the
// next batch.
class BatchCounter {
 public:
  BatchCounter(const PresenceSettings& settings, WorkerPool* pool)
      : settings_(settings), pool_(pool), carry_(settings.motif_count, 0) {
    const std::size_t threads = pool != nullptr ? pool->size() : 1;
    for (std::size_t index = 0; index < threads; ++index) {
      counters_.push_back(settings.make_counter());
      row_counts_.emplace_back(settings.motif_count, 0);
    }
  }

  // Counts every piece of `batch`, then formats every finished row into batch.texts.
  void Process(Batch& batch) {
    std::atomic<std::size_t> next_piece{0};
    RunOnAll([&](std::size_t thread_index) {
      for (std::size_t index; (index = next_piece.fetch_add(1)) < batch.pieces_used;) {
        Piece& piece = batch.pieces[index];
        piece.counts.assign(settings_.motif_count, 0);
        counters_[thread_index]->Count(piece.codes, piece.start_limit, piece.counts);
      }
    });

    // Rows are formatted in contiguous shares, one text per share, so that the texts in
    // order are the rows in order.
    const std::size_t shares = counters_.size();
    batch.texts.resize(shares);
    RunOnAll([&](std::size_t thread_index) {
      std::string& text = batch.texts[thread_index];
      text.clear();
      const std::size_t rows = batch.rows_used;
      const std::size_t first = rows * thread_index / shares;
      const std::size_t last = rows * (thread_index + 1) / shares;
      std::vector<std::uint64_t>& counts = row_counts_[thread_index];
      for (std::size_t row_index = first; row_index < last; ++row_index) {
        const Row& row = batch.rows[row_index];
        if (row_index + 1 == rows && batch.last_row_goes_on) continue;
        SumRow(batch, row, row_index == 0 && row.continued, counts);
        AppendPresenceRow(text, row_index == 0 && row.continued ? carry_header_ : row.header,
                          counts, settings_.output_format);
      }
    });

    // A record that goes on keeps its counts, and its header, for the batch that ends it.
    if (batch.last_row_goes_on) {
      const std::size_t last = batch.rows_used - 1;
      const Row& row = batch.rows[last];
      const bool continues_carry = last == 0 && row.continued;
      std::vector<std::uint64_t> counts(settings_.motif_count, 0);
      SumRow(batch, row, continues_carry, counts);
      carry_.swap(counts);
      if (!continues_carry) carry_header_ = row.header;
    }
  }

 private:
  void RunOnAll(const std::function<void(std::size_t)>& job) {
    if (pool_ != nullptr) {
      pool_->Run(job);
    } else {
      job(0);
    }
  }

  // The counts of a row: its pieces, plus what earlier batches found when it goes on from
  // one of them.
  void SumRow(const Batch& batch, const Row& row, bool add_carry,
              std::vector<std::uint64_t>& counts) const {
    if (add_carry) {
      counts.assign(carry_.begin(), carry_.end());
    } else {
      counts.assign(settings_.motif_count, 0);
    }
    for (std::size_t index = 0; index < row.piece_count; ++index) {
      const std::vector<std::uint64_t>& piece_counts = batch.pieces[row.first_piece + index].counts;
      for (std::size_t motif = 0; motif < counts.size(); ++motif) {
        counts[motif] += piece_counts[motif];
      }
    }
  }

  const PresenceSettings& settings_;
  WorkerPool* pool_;
  std::vector<std::unique_ptr<PieceCounter>> counters_;
  std::vector<std::vector<std::uint64_t>> row_counts_;
  std::vector<std::uint64_t> carry_;
  std::string carry_header_;
};

bool WriteTexts(const Batch& batch, std::ostream& out) {
  for (const std::string& text : batch.texts) {
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
  }
  return static_cast<bool>(out);
}

// Hands the batch's texts to the writer thread; they come back empty, with the storage of
// earlier ones to fill again.
bool WriteTexts(Batch& batch, BackgroundWriter& writer) {
  for (std::string& text : batch.texts) {
    if (!writer.Write(text)) return false;
  }
  return true;
}

}  // namespace

void AppendPresenceRow(std::string& text, const std::string& header,
                       std::span<const std::uint64_t> counts, int output_format) {
  const std::size_t last_tab = header.rfind('\t');
  if (last_tab != std::string::npos) {
    // A score that is not a number is written as nan in both columns.
    const double score = StringToDouble(std::string_view(header).substr(last_tab));
    AppendDouble(text, score);
    text += '\t';
    AppendDouble(text, std::log(score));
  }
  // The cells are written through a pointer into a buffer kept by the thread, then added
  // to the text at once: a row of hundreds of cells costs one append, not two per cell.
  constexpr std::size_t kLongestCell = 1 + 20;  // a tab and the digits of a 64-bit count
  thread_local std::string cells;
  if (cells.size() < counts.size() * kLongestCell + 1)
    cells.resize(counts.size() * kLongestCell + 1);
  char* out = cells.data();
  // One loop per format, each without a branch on the usual cells: in a presence table
  // most counts are 0 and nearly all are below 10.
  if (output_format == kFormatCount) {
    for (const std::uint64_t count : counts) {
      *out++ = '\t';
      if (count < 10) [[likely]] {
        *out++ = static_cast<char>('0' + count);
      } else {
        out = std::to_chars(out, out + 20, count).ptr;
      }
    }
  } else if (output_format == kFormatPresence) {
    for (const std::uint64_t count : counts) {
      *out++ = '\t';
      *out++ = count != 0 ? '1' : '0';
    }
  } else {
    // Any other format: an absent motif is "0", a present one an empty cell.
    for (const std::uint64_t count : counts) {
      *out++ = '\t';
      *out = '0';
      out += count == 0 ? 1 : 0;
    }
  }
  *out++ = '\n';
  text.append(cells.data(), static_cast<std::size_t>(out - cells.data()));
}

namespace {

bool IsOutOfMemory(const std::exception_ptr& error) {
  try {
    std::rethrow_exception(error);
  } catch (const std::bad_alloc&) {
    return true;
  } catch (const std::length_error&) {
    return true;
  } catch (...) {
    return false;
  }
}

PresenceOutcome WriteRowsOnThreads(BatchFiller& filler, const PresenceSettings& settings,
                                   std::ostream& out) {
  using Status = PresenceOutcome::Status;
  // One thread reads ahead while the others count: three batches are enough for the
  // reader never to wait on a free one while a batch is counted and one is written.
  WorkerPool pool(settings.threads - 1);
  BatchCounter counter(settings, &pool);
  BatchQueue queue(3);
  // The rows go out from a thread of their own while the next batch is counted.
  BackgroundWriter writer(out);
  std::exception_ptr reader_error;
  std::thread reader_thread([&] {
    try {
      for (std::unique_ptr<Batch> batch; (batch = queue.TakeFree()) != nullptr;) {
        if (!filler.Fill(*batch)) break;
        queue.GiveFilled(std::move(batch));
      }
    } catch (...) {
      reader_error = std::current_exception();
    }
    queue.Finish();
  });
  Status status = Status::kDone;
  std::exception_ptr counting_error;
  for (std::unique_ptr<Batch> batch; (batch = queue.TakeFilled()) != nullptr;) {
    if (status == Status::kDone && counting_error == nullptr) {
      try {
        counter.Process(*batch);
        if (!WriteTexts(*batch, writer)) status = Status::kWriteFailed;
      } catch (...) {
        counting_error = std::current_exception();
      }
      if (status != Status::kDone || counting_error != nullptr) queue.Stop();
    }
    queue.GiveFree(std::move(batch));
  }
  reader_thread.join();
  if (!writer.Finish() && status == Status::kDone) status = Status::kWriteFailed;
  for (const std::exception_ptr& error : {reader_error, counting_error}) {
    if (error == nullptr) continue;
    if (!IsOutOfMemory(error)) std::rethrow_exception(error);
    return {Status::kOutOfMemory, filler.records_started()};
  }
  if (status == Status::kDone && !out) status = Status::kWriteFailed;
  return {status, filler.records_started()};
}

}  // namespace

PresenceOutcome WritePresenceRows(FastaReader& reader, const PresenceSettings& settings,
                                  std::ostream& out) {
  using Status = PresenceOutcome::Status;
  BatchFiller filler(reader, settings);
  try {
    if (settings.threads > 1) return WriteRowsOnThreads(filler, settings, out);
    Batch batch;
    BatchCounter counter(settings, nullptr);
    while (filler.Fill(batch)) {
      counter.Process(batch);
      if (!WriteTexts(batch, out)) return {Status::kWriteFailed, filler.records_started()};
    }
  } catch (const std::bad_alloc&) {
    return {Status::kOutOfMemory, filler.records_started()};
  } catch (const std::length_error&) {
    return {Status::kOutOfMemory, filler.records_started()};
  }
  return {out ? Status::kDone : Status::kWriteFailed, filler.records_started()};
}
