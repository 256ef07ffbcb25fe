#include "sitecount/presence_rows.h"

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <exception>
#include <functional>
#include <limits>
#include <new>
#include <span>
#include <stdexcept>
#include <utility>
#include <vector>

#include "common/thread_pool.h"
#include "sitecount/presence_format.h"

namespace {

using PieceCount = std::uint32_t;

// Pieces a batch holds at most: as many as the count bytes allow, one at least, so that the
// memory of a batch stays the same whatever the motif count.
std::size_t PiecesPerBatch(const PresenceSettings& settings) {
  if (settings.motif_count == 0) return std::numeric_limits<std::size_t>::max();
  return std::max<std::size_t>(
      1, settings.batch_count_bytes / (settings.motif_count * sizeof(PieceCount)));
}

// A stretch of one record's residues and the counts found in it.
struct Piece {
  std::size_t row = 0;  // index into the batch's rows
  std::vector<std::uint8_t> codes;
  std::size_t start_limit = 0;
  // A piece is far shorter than 2^32 residues, so its counts always fit 32 bits: half
  // the memory of a batch of many motifs.
  std::vector<PieceCount> counts;
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
  std::vector<std::string> texts;  // the formatted rows in row order, in runs
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
        piece_residues_(std::max(settings.piece_residues, 4 * settings.longest_motif + 1)),
        batch_pieces_(PiecesPerBatch(settings)) {}

  // Fills `batch` with what comes next; false when the input had nothing left.
  bool Fill(Batch& batch) {
    batch.pieces_used = 0;
    batch.rows_used = 0;
    std::size_t residues = 0;
    // Batches start small and double up to the settings, so that a small input touches
    // little memory and a large one is handed out in few, large batches.
    const std::size_t batch_residues = std::min(settings_.batch_residues, growing_residues_);
    const std::size_t batch_records = std::min(settings_.batch_records, growing_records_);
    growing_residues_ = std::min(growing_residues_, batch_residues) * 2;
    growing_records_ = std::min(growing_records_, batch_records) * 2;
    while (residues < batch_residues && batch.rows_used < batch_records &&
           batch.pieces_used < batch_pieces_) {
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
  const std::size_t batch_pieces_;
  bool record_open_ = false;
  std::uint64_t records_started_ = 0;
  std::size_t growing_residues_ = std::size_t{1} << 15;
  std::size_t growing_records_ = 16;
  std::string header_;
  std::vector<std::uint8_t> tail_;
};

// Counts and formats batches, and carries the counts of a record that goes on into the
// next batch.
class BatchCounter {
 public:
  BatchCounter(const PresenceSettings& settings, WorkerPool& pool)
      : settings_(settings), pool_(pool), carry_(settings.motif_count, 0) {
    for (std::size_t index = 0; index < pool.size(); ++index) {
      counters_.push_back(settings.make_counter());
      row_counts_.emplace_back(settings.motif_count, 0);
    }
  }

  // Counts every piece of `batch` and formats every finished row into batch.texts, in
  // row order. A row of one piece (any record shorter than a piece) is counted and
  // formatted at once, in runs of rows that a thread takes together; the pieces of longer
  // records are counted one by one, on every thread, and their rows formatted after.
  // Each of `side_tasks` runs once, on whichever thread comes first, beside the counting.
  void Process(Batch& batch, std::span<const std::function<void()>> side_tasks = {}) {
    PlanWork(batch);
    std::atomic<std::size_t> next_item{0};
    const std::size_t item_count = side_tasks.size() + items_.size();
    pool_.Run([&](std::size_t thread_index) {
      std::vector<std::uint64_t>& counts = row_counts_[thread_index];
      for (std::size_t index; (index = next_item.fetch_add(1)) < item_count;) {
        if (index < side_tasks.size()) {
          side_tasks[index]();
          continue;
        }
        const WorkItem& item = items_[index - side_tasks.size()];
        if (item.text == kNoText) {
          Piece& piece = batch.pieces[item.first];
          counts.assign(settings_.motif_count, 0);
          counters_[thread_index]->Count(piece.codes, piece.start_limit, counts);
          piece.counts.assign(counts.begin(), counts.end());
          continue;
        }
        std::string& text = batch.texts[item.text];
        text.clear();
        // Room for the rows at once, as most rows need it: a text that grew by doubling
        // would touch twice its memory, fresh pages that each cost a fault.
        text.reserve((item.last - item.first) * RowBytes());
        for (std::size_t row_index = item.first; row_index < item.last; ++row_index) {
          const Row& row = batch.rows[row_index];
          const Piece& piece = batch.pieces[row.first_piece];
          counts.assign(settings_.motif_count, 0);
          counters_[thread_index]->Count(piece.codes, piece.start_limit, counts);
          AppendPresenceRow(text, row.header, counts, settings_.output_format);
        }
      }
    });

    if (!long_rows_.empty()) {
      std::atomic<std::size_t> next_row{0};
      pool_.Run([&](std::size_t thread_index) {
        std::vector<std::uint64_t>& counts = row_counts_[thread_index];
        for (std::size_t index; (index = next_row.fetch_add(1)) < long_rows_.size();) {
          const auto [row_index, text_index] = long_rows_[index];
          std::string& text = batch.texts[text_index];
          text.clear();
          SumRow(batch, row_index, counts);
          AppendPresenceRow(
              text, ContinuesCarry(batch, row_index) ? carry_header_ : batch.rows[row_index].header,
              counts, settings_.output_format);
        }
      });
    }

    // A record that goes on keeps its counts, and its header, for the batch that ends it.
    if (batch.last_row_goes_on) {
      const std::size_t last = batch.rows_used - 1;
      std::vector<std::uint64_t> counts(settings_.motif_count, 0);
      SumRow(batch, last, counts);
      carry_.swap(counts);
      if (!ContinuesCarry(batch, last)) carry_header_ = batch.rows[last].header;
    }
  }

 private:
  // The bytes of a usual row: a tab and one digit per motif, the score, its logarithm and
  // the line's end.
  std::size_t RowBytes() const { return 2 * settings_.motif_count + 32; }

  // True for the first row of a batch when it goes on with a record that an earlier batch
  // began: its header and the counts so far are in the carry.
  static bool ContinuesCarry(const Batch& batch, std::size_t row_index) {
    return row_index == 0 && batch.rows[0].continued;
  }

  // The counts of a row: its pieces, plus what earlier batches found when it goes on from
  // one of them.
  void SumRow(const Batch& batch, std::size_t row_index, std::vector<std::uint64_t>& counts) const {
    const Row& row = batch.rows[row_index];
    // Every row holds one piece at least: a row that does not go on from the carry starts
    // from its first piece's counts rather than from zeros.
    std::size_t index = 0;
    if (ContinuesCarry(batch, row_index)) {
      counts.assign(carry_.begin(), carry_.end());
    } else {
      const std::vector<PieceCount>& piece_counts = batch.pieces[row.first_piece].counts;
      counts.assign(piece_counts.begin(), piece_counts.end());
      index = 1;
    }
    for (; index < row.piece_count; ++index) {
      const std::vector<PieceCount>& piece_counts = batch.pieces[row.first_piece + index].counts;
      for (std::size_t motif = 0; motif < counts.size(); ++motif) {
        counts[motif] += piece_counts[motif];
      }
    }
  }

  // Cuts the batch into work: runs of one-piece rows, each with a text of its own, and the
  // pieces of every other row, which gets a text of its own too unless it goes on into
  // the next batch. Texts are numbered in row order.
  void PlanWork(Batch& batch) {
    items_.clear();
    long_rows_.clear();
    std::size_t texts = 0;
    for (std::size_t row_index = 0; row_index < batch.rows_used; ++row_index) {
      const Row& row = batch.rows[row_index];
      const bool goes_on = row_index + 1 == batch.rows_used && batch.last_row_goes_on;
      if (row.piece_count == 1 && !goes_on && !ContinuesCarry(batch, row_index)) {
        if (items_.empty() || items_.back().text == kNoText ||
            items_.back().last - items_.back().first == kRowsPerItem) {
          items_.push_back({row_index, row_index, texts++});
        }
        items_.back().last = row_index + 1;
        continue;
      }
      for (std::size_t piece = 0; piece < row.piece_count; ++piece) {
        items_.push_back({row.first_piece + piece, 0, kNoText});
      }
      if (!goes_on) long_rows_.emplace_back(row_index, texts++);
    }
    batch.texts.resize(texts);
  }

  // Rows of one piece that a thread counts and formats together: enough for the handing
  // out to cost little, few enough for the threads to finish together.
  static constexpr std::size_t kRowsPerItem = 64;
  static constexpr std::size_t kNoText = std::numeric_limits<std::size_t>::max();
  // Rows [first, last) of one piece each, formatted into texts[text]; or, with kNoText,
  // the piece `first` of a longer row, counted into its own counts.
  struct WorkItem {
    std::size_t first;
    std::size_t last;
    std::size_t text;
  };

  const PresenceSettings& settings_;
  WorkerPool& pool_;
  std::vector<std::unique_ptr<PieceCounter>> counters_;
  std::vector<std::vector<std::uint64_t>> row_counts_;
  std::vector<WorkItem> items_;
  std::vector<std::pair<std::size_t, std::size_t>> long_rows_;  // row and its text
  std::vector<std::uint64_t> carry_;
  std::string carry_header_;
};

bool WriteTexts(const Batch& batch, std::ostream& out) {
  for (const std::string& text : batch.texts) {
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
  }
  return static_cast<bool>(out);
}

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

// Every thread of the pool counts, and the pool also reads the next batch and writes the
// last one: each pass over the pool hands those two tasks out first, beside the counting
// of this batch, so that no thread of its own waits for a core, nor makes the pool wait
// for one that has lost its core to it.
PresenceOutcome::Status WriteRowsOnThreads(BatchFiller& filler, const PresenceSettings& settings,
                                           std::ostream& out) {
  using Status = PresenceOutcome::Status;
  WorkerPool pool(settings.threads - 1);
  BatchCounter counter(settings, pool);
  Batch batches[3];
  Batch* counting = &batches[0];
  Batch* filling = &batches[1];
  Batch* written = &batches[2];
  bool count_next = filler.Fill(*counting);
  bool write_next = false;  // `written` holds texts still to write
  bool written_ok = true;
  std::vector<std::function<void()>> tasks;
  try {
    while (count_next || write_next) {
      bool filled = false;
      tasks.clear();
      if (count_next) tasks.emplace_back([&] { filled = filler.Fill(*filling); });
      if (write_next) tasks.emplace_back([&] { written_ok = WriteTexts(*written, out); });
      if (count_next) {
        counter.Process(*counting, tasks);
      } else {
        tasks.front()();
      }
      if (!written_ok) return Status::kWriteFailed;
      // The batch counted now waits to be written; the one written takes the next input.
      write_next = count_next;
      std::swap(written, counting);
      std::swap(counting, filling);
      count_next = count_next && filled;
    }
  } catch (...) {
    if (!IsOutOfMemory(std::current_exception())) throw;
    return Status::kOutOfMemory;
  }
  return Status::kDone;
}

PresenceOutcome::Status WriteRowsOnOneThread(BatchFiller& filler, const PresenceSettings& settings,
                                             std::ostream& out) {
  using Status = PresenceOutcome::Status;
  WorkerPool pool(0);
  BatchCounter counter(settings, pool);
  Batch batch;
  while (filler.Fill(batch)) {
    counter.Process(batch);
    if (!WriteTexts(batch, out)) return Status::kWriteFailed;
  }
  return Status::kDone;
}

}  // namespace

PresenceOutcome WritePresenceRows(FastaReader& reader, const PresenceSettings& settings,
                                  std::ostream& out) {
  using Status = PresenceOutcome::Status;
  BatchFiller filler(reader, settings);
  Status status = Status::kDone;
  try {
    status = settings.threads > 1 ? WriteRowsOnThreads(filler, settings, out)
                                  : WriteRowsOnOneThread(filler, settings, out);
  } catch (const std::bad_alloc&) {
    status = Status::kOutOfMemory;
  } catch (const std::length_error&) {
    status = Status::kOutOfMemory;
  }
  // A failed read ends the input early: the rows written are short of records, which
  // matters more than a write that failed after it.
  if (status != Status::kOutOfMemory && reader.failed()) status = Status::kReadFailed;
  if (status == Status::kDone && !out) status = Status::kWriteFailed;
  return {status, filler.records_started()};
}
