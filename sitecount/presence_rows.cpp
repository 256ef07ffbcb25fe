#include "sitecount/presence_rows.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <exception>
#include <limits>
#include <mutex>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "common/thread_pool.h"
#include "sitecount/presence_format.h"

namespace {

// Pieces a batch holds at most, one at least (see batch_count_bytes).
std::size_t PiecesPerBatch(const PresenceSettings& settings) {
  if (settings.motif_count == 0) return std::numeric_limits<std::size_t>::max();
  return std::max<std::size_t>(
      1, settings.batch_count_bytes / (settings.motif_count * sizeof(std::uint32_t)));
}

// A stretch of one record's residues.
struct Piece {
  std::size_t row = 0;  // index into the batch's rows
  std::vector<std::uint8_t> codes;
  std::size_t start_limit = 0;
};

// A record, or the part of a long record that a batch holds.
struct Row {
  std::string header;
  std::size_t first_piece = 0;
  std::size_t piece_count = 0;
  bool continued = false;  // the record began in an earlier batch
};

// Records read together, counted and formatted together by one thread, and written
// together. Batches are reused: their vectors keep their storage, and only the first
// *_used elements are live.
struct Batch {
  std::vector<Piece> pieces;
  std::size_t pieces_used = 0;
  std::vector<Row> rows;
  std::size_t rows_used = 0;
  bool last_row_goes_on = false;  // the last record goes on in the next batch
  std::string text;               // the rows whole in this batch, formatted
  // The counts of the first row when it goes on from the batch before, and of the last
  // when it goes on into the next: they are finished when the batch is written.
  std::vector<std::uint64_t> first_counts;
  std::vector<std::uint64_t> last_counts;
  std::vector<std::uint64_t> counts;  // a whole row's
  std::string first_text;             // the first row's, formatted when it is written
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

// The counts and header of a record that goes on into the next batch, handed on from
// batch to batch in file order.
struct Carry {
  std::vector<std::uint64_t> counts;
  std::string header;
};

// Counts every piece of `batch` and formats every row whole in it into batch.text, in row
// order. A row that goes on from the batch before, or into the next, keeps its counts for
// WriteBatch, which alone sees the batches in file order.
void CountBatch(Batch& batch, const PresenceSettings& settings, PieceCounter& counter) {
  // Room for the rows at once, as most rows need it: a text that grew by doubling would
  // touch twice its memory, fresh pages that each cost a fault. A usual row is a tab and
  // one digit per motif, the score, its logarithm and the line's end.
  batch.text.clear();
  batch.text.reserve(batch.rows_used * (2 * settings.motif_count + 32));
  for (std::size_t row_index = 0; row_index < batch.rows_used; ++row_index) {
    const Row& row = batch.rows[row_index];
    const bool continued = row_index == 0 && row.continued;
    const bool goes_on = row_index + 1 == batch.rows_used && batch.last_row_goes_on;
    std::vector<std::uint64_t>& counts =
        continued ? batch.first_counts : (goes_on ? batch.last_counts : batch.counts);
    counts.assign(settings.motif_count, 0);
    for (std::size_t index = 0; index < row.piece_count; ++index) {
      const Piece& piece = batch.pieces[row.first_piece + index];
      counter.Count(piece.codes, piece.start_limit, counts);
    }
    if (!continued && !goes_on) {
      AppendPresenceRow(batch.text, row.header, counts, settings.output_format);
    }
  }
}

// Writes what `batch` adds to the table, the batches coming in file order: the record that
// goes on from the batch before, with the counts carried, once it ends here, and the rows
// whole in the batch; then carries the counts of a record that goes on into the next.
bool WriteBatch(Batch& batch, const PresenceSettings& settings, Carry& carry, std::ostream& out) {
  const std::size_t last = batch.rows_used - 1;
  if (batch.rows[0].continued) {
    for (std::size_t motif = 0; motif < settings.motif_count; ++motif) {
      batch.first_counts[motif] += carry.counts[motif];
    }
    if (last == 0 && batch.last_row_goes_on) {
      carry.counts.swap(batch.first_counts);
      return true;
    }
    batch.first_text.clear();
    AppendPresenceRow(batch.first_text, carry.header, batch.first_counts, settings.output_format);
    out.write(batch.first_text.data(), static_cast<std::streamsize>(batch.first_text.size()));
  }
  out.write(batch.text.data(), static_cast<std::streamsize>(batch.text.size()));
  if (batch.last_row_goes_on) {
    carry.counts.swap(batch.last_counts);
    carry.header = batch.rows[last].header;
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

// Each thread takes a batch of its own: it reads it, one thread at a time, counts and
// formats it alone, and writes it once every batch read before it is written. A batch's
// codes and texts stay with the core that made them, and a thread waits for another only
// to read, or to write when it has overtaken the one before it: never at the end of every
// batch for the slowest thread.
PresenceOutcome::Status WriteRowsOnThreads(BatchFiller& filler, const PresenceSettings& settings,
                                           std::ostream& out) {
  using Status = PresenceOutcome::Status;
  WorkerPool pool(settings.threads - 1);
  std::mutex reading;
  std::uint64_t batches_read = 0;  // under `reading`
  std::mutex writing;
  std::condition_variable written;
  std::uint64_t batches_written = 0;  // under `writing`
  Carry carry;                        // under `writing`
  Status status = Status::kDone;      // under `writing`
  // Set when a thread failed or a write did: the others stop at their next step.
  std::atomic<bool> stopped{false};
  const auto stop = [&] {
    {
      const std::lock_guard lock(writing);
      stopped = true;
    }
    written.notify_all();
  };
  try {
    pool.Run([&](std::size_t) {
      try {
        const std::unique_ptr<PieceCounter> counter = settings.make_counter();
        Batch batch;
        for (;;) {
          std::uint64_t number = 0;
          {
            const std::lock_guard lock(reading);
            if (stopped) return;
            try {
              if (!filler.Fill(batch)) return;
            } catch (...) {
              // Set before another thread can read on: the records read stay those of
              // the failure, which the message names.
              stopped = true;
              throw;
            }
            number = batches_read++;
          }
          CountBatch(batch, settings, *counter);
          std::unique_lock lock(writing);
          written.wait(lock, [&] { return batches_written == number || stopped; });
          if (stopped) return;
          if (!WriteBatch(batch, settings, carry, out)) {
            status = Status::kWriteFailed;
            lock.unlock();
            stop();
            return;
          }
          ++batches_written;
          lock.unlock();
          written.notify_all();
        }
      } catch (...) {
        stop();
        throw;
      }
    });
  } catch (...) {
    if (!IsOutOfMemory(std::current_exception())) throw;
    return Status::kOutOfMemory;
  }
  return status;
}

PresenceOutcome::Status WriteRowsOnOneThread(BatchFiller& filler, const PresenceSettings& settings,
                                             std::ostream& out) {
  using Status = PresenceOutcome::Status;
  const std::unique_ptr<PieceCounter> counter = settings.make_counter();
  Batch batch;
  Carry carry;
  while (filler.Fill(batch)) {
    CountBatch(batch, settings, *counter);
    if (!WriteBatch(batch, settings, carry, out)) return Status::kWriteFailed;
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
