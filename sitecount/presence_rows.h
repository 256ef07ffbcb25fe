#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <ostream>
#include <span>
#include <string>

#include "sequences/fasta_reader.h"

// Counts the motifs of a set in one piece of a record, for one thread.
class PieceCounter {
 public:
  virtual ~PieceCounter() = default;
  // Adds to counts[m] the number of start positions p of motif m with p < start_limit and
  // p + length(m) <= codes.size().
  // The codes are residue codes as bytes (0 to 16, as the sequence reader gives them).
  virtual void Count(std::span<const std::uint8_t> codes, std::size_t start_limit,
                     std::span<std::uint64_t> counts) = 0;
};

// How far a presence run has read, for a progress display on another thread.
struct PresenceProgress {
  std::atomic<std::uint64_t> records{0};
  std::atomic<std::uint64_t> residues{0};
};

// How a presence run counts and writes.
struct PresenceSettings {
  int output_format = 1;  // 0 presence flags, 1 counts, other: empty cells
  std::size_t motif_count = 0;
  std::size_t longest_motif = 0;  // pieces of a long record overlap by this less one
  std::size_t threads = 1;        // counting threads; above 1 they also read and write
  std::size_t piece_residues = std::size_t{1} << 20;  // residues read per piece at most
  std::size_t batch_residues = std::size_t{1} << 21;  // residues per batch, about
  // Records per batch at most: few enough that the threads finish a small input together
  // (5,000 peaks on two threads took 9 % less time than at 1,024), many enough that the
  // reading and writing of each batch cost little.
  std::size_t batch_records = 256;
  // Bounds a batch by its motif count, at 4 bytes a motif and piece, so that the memory of
  // a batch (its rows' texts above all) does not grow with the motif count; a batch holds
  // one piece at least.
  std::size_t batch_count_bytes = std::size_t{1} << 21;
  // Makes the counter of one thread; called once per counting thread.
  std::function<std::unique_ptr<PieceCounter>()> make_counter;
  // Kept up to date while the input is read, when set.
  PresenceProgress* progress = nullptr;
};

// How a presence run ended.
struct PresenceOutcome {
  enum class Status {
    kDone,         // every row written
    kWriteFailed,  // the output stream failed
    kReadFailed,   // the input could not be read to its end; the rows are short
    kOutOfMemory,  // memory ran out; `record` says how far the reading had come
  };
  Status status = Status::kDone;
  std::uint64_t record = 0;  // records whose header was read, counted from 1
};

// Reads every record of `reader`, counts the motifs in it and writes its row to `out`, in
// file order, holding only a few batches of records at a time. A record longer than a
// piece is counted in pieces that overlap by the longest motif less one, each start in
// exactly one piece.
[[nodiscard]] PresenceOutcome WritePresenceRows(FastaReader& reader,
                                                const PresenceSettings& settings,
                                                std::ostream& out);
