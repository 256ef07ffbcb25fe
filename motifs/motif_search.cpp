#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <limits>

#include "motifs/iupac_motif.h"
#include "sequences/dna_sequence.h"

namespace {

// True when every motif code matches the sequence code at the same offset; stops at the
// first mismatch.
inline bool StrandMatches(const NucleotideCode* sequence_at, const NucleotideCode* motif_codes,
                          std::size_t length) {
  for (std::size_t i = 0; i < length; ++i) {
    if (!CodesMatch(sequence_at[i], motif_codes[i])) return false;
  }
  return true;
}

constexpr int kNoMatch = -1;

// The direction that a pair of strand results gives for an orientation, or kNoMatch.
inline int DirectionOf(bool forward, bool reverse, int orientation) {
  switch (orientation) {
    case MOTORIENT_FWD:
      return forward ? 0 : kNoMatch;
    case MOTORIENT_COMPL:
      return reverse ? 1 : kNoMatch;
    case MOTORIENT_BOTH:
      return forward && reverse ? 2 : kNoMatch;
    case MOTORIENT_ANY:
      if (forward && reverse) return 2;
      if (forward) return 0;
      return reverse ? 1 : kNoMatch;
    default:
      return kNoMatch;
  }
}

// The strand test at one start position: the direction of the match (0 forward, 1 reverse
// complement, 2 both), or kNoMatch. The reverse strand is tested by reading the reverse
// complement forward over the same stretch of the sequence.
inline int TestWindow(const NucleotideCode* sequence_at, const IUPAC_Motif& motif,
                      int orientation) {
  const std::size_t length = motif.codes.size();
  const bool test_forward =
      orientation == MOTORIENT_FWD || orientation == MOTORIENT_BOTH || orientation == MOTORIENT_ANY;
  const bool test_reverse = orientation == MOTORIENT_COMPL || orientation == MOTORIENT_BOTH ||
                            orientation == MOTORIENT_ANY;
  const bool forward = test_forward && StrandMatches(sequence_at, motif.codes.data(), length);
  if (!forward && (orientation == MOTORIENT_FWD || orientation == MOTORIENT_BOTH)) {
    return kNoMatch;
  }
  const bool reverse =
      test_reverse && StrandMatches(sequence_at, motif.revComplCodes.data(), length);
  return DirectionOf(forward, reverse, orientation);
}

// The candidate start positions of a window: [first, last_plus_one). Empty when the window
// is shorter than the motif, or the motif has no positions.
struct Candidates {
  std::size_t first = 0;
  std::size_t last_plus_one = 0;
  bool empty() const { return first >= last_plus_one; }
};

// Start positions are reported in 32 bits: a window never reaches past the first 2^32
// positions, so no position is cut to its lower bits.
constexpr std::size_t kPositionLimit = std::size_t{1} << 32;

Candidates WindowCandidates(std::size_t sequence_size, std::uint32_t start, std::uint32_t len,
                            std::size_t motif_length) {
  // 64-bit arithmetic: a window past the end, or start + len beyond 32 bits, clamps
  // instead of wrapping around.
  const std::size_t window_end =
      std::min({std::size_t{start} + len, sequence_size, kPositionLimit});
  Candidates candidates;
  if (motif_length == 0 || window_end < std::size_t{start} + motif_length) return candidates;
  candidates.first = start;
  candidates.last_plus_one = window_end - motif_length + 1;
  return candidates;
}

// Every start position of a sequence of any length.
Candidates WholeSequence(std::size_t sequence_size, std::size_t motif_length) {
  Candidates candidates;
  if (motif_length > 0 && sequence_size >= motif_length) {
    candidates.last_plus_one = sequence_size - motif_length + 1;
  }
  return candidates;
}

// Guards against motif objects whose vectors were changed by hand: the search only ever
// reads positions both vectors hold.
bool Searchable(const IUPAC_Motif& motif) {
  return !motif.codes.empty() && motif.revComplCodes.size() == motif.codes.size();
}

// After a scan, found and lastDirection describe the last candidate tested.
void SetMatchState(IUPAC_Motif& motif, int direction) {
  motif.found = direction != kNoMatch ? 1 : 0;
  motif.lastDirection = direction != kNoMatch ? direction : 0;
}

// Motifs up to this length are scanned bit-parallel: one bit per motif position.
constexpr std::size_t kMaxBitParallelLength = 64;

// For each sequence code (kNotNucleotide for anything else), the motif positions it matches, one
// bit each, for the forward codes and for the reverse complement.
struct PositionMasks {
  std::array<std::uint64_t, kCodeTableSize> forward{};
  std::array<std::uint64_t, kCodeTableSize> reverse{};
};

void BuildPositionMasks(const IUPAC_Motif& motif, PositionMasks& masks) {
  for (std::size_t i = 0; i < motif.codes.size(); ++i) {
    const std::size_t forward_code = SymbolIndex(motif.codes[i]);
    const std::size_t reverse_code = SymbolIndex(motif.revComplCodes[i]);
    for (std::size_t seq = 0; seq < kCodeTableSize; ++seq) {
      masks.forward[seq] |= std::uint64_t{kCodeMatchOrNone[seq][forward_code]} << i;
      masks.reverse[seq] |= std::uint64_t{kCodeMatchOrNone[seq][reverse_code]} << i;
    }
  }
}

// Calls on_candidate(p, direction) for every candidate start position in increasing order,
// direction being kNoMatch where the motif does not match; stops when it returns false.
// Short motifs run a shift-and scan: bit i of a strand's state says that the last i + 1
// sequence codes match the first i + 1 motif positions, so each sequence code costs a few
// branch-free operations per strand however the windows end. Longer motifs test each
// window in turn.
template <typename OnCandidate>
void ScanCandidates(std::span<const NucleotideCode> sequence, const Candidates& candidates,
                    const IUPAC_Motif& motif, int orientation, OnCandidate on_candidate) {
  if (candidates.empty()) return;
  const std::size_t length = motif.codes.size();
  if (length > kMaxBitParallelLength) {
    for (std::size_t p = candidates.first; p < candidates.last_plus_one; ++p) {
      if (!on_candidate(p, TestWindow(sequence.data() + p, motif, orientation))) return;
    }
    return;
  }
  PositionMasks masks;
  BuildPositionMasks(motif, masks);
  const std::uint64_t full_match = std::uint64_t{1} << (length - 1);
  std::uint64_t forward_state = 0;
  std::uint64_t reverse_state = 0;
  const std::size_t text_end = candidates.last_plus_one + length - 1;
  for (std::size_t j = candidates.first; j < text_end; ++j) {
    const std::size_t code = SymbolIndex(sequence[j]);
    forward_state = ((forward_state << 1) | 1) & masks.forward[code];
    reverse_state = ((reverse_state << 1) | 1) & masks.reverse[code];
    if (j + 1 < candidates.first + length) continue;
    const int direction = DirectionOf((forward_state & full_match) != 0,
                                      (reverse_state & full_match) != 0, orientation);
    if (!on_candidate(j + 1 - length, direction)) return;
  }
}

// FindFirst's result when there is nothing to scan: no candidate, or an unsearchable motif.
constexpr int kNoCandidate = -1;

// The first matching start position among `candidates` in `found_at`, and its direction:
// 1 when found, 0 when not (`found_at` untouched), kNoCandidate when nothing was scanned.
// Sets the motif's match state from the last candidate tested.
int FindFirstCandidate(IUPAC_Motif& motif, std::span<const NucleotideCode> sequence,
                       const Candidates& candidates, int orientation, std::size_t& found_at,
                       int& direction) {
  direction = 0;
  if (!Searchable(motif) || candidates.empty()) return kNoCandidate;
  int last_direction = kNoMatch;
  ScanCandidates(sequence, candidates, motif, orientation, [&](std::size_t p, int tested) {
    last_direction = tested;
    if (tested == kNoMatch) return true;
    found_at = p;
    direction = tested;
    return false;
  });
  SetMatchState(motif, last_direction);
  return last_direction != kNoMatch ? 1 : 0;
}

}  // namespace

int IUPAC_Motif::MatchAt(std::span<const NucleotideCode> sequence, std::uint32_t p, int orientation,
                         int* direction) {
  found = 0;
  lastDirection = 0;
  int result = 0;
  if (Searchable(*this) && std::size_t{p} + codes.size() <= sequence.size()) {
    const int match_direction = TestWindow(sequence.data() + p, *this, orientation);
    if (match_direction != kNoMatch) {
      found = 1;
      lastDirection = match_direction;
      result = 1;
    }
  }
  if (direction != nullptr) *direction = lastDirection;
  return result;
}

int IUPAC_Motif::FindAll(std::span<const NucleotideCode> sequence, std::uint32_t start,
                         std::uint32_t len, int orientation, std::vector<std::uint32_t>& positions,
                         std::vector<std::int32_t>& directions) {
  if (!Searchable(*this)) return 0;
  const Candidates candidates = WindowCandidates(sequence.size(), start, len, codes.size());
  bool appended = false;
  int last_direction = kNoMatch;
  ScanCandidates(sequence, candidates, *this, orientation, [&](std::size_t p, int direction) {
    last_direction = direction;
    if (direction != kNoMatch) {
      positions.push_back(static_cast<std::uint32_t>(p));
      directions.push_back(direction);
      appended = true;
    }
    return true;
  });
  if (!candidates.empty()) SetMatchState(*this, last_direction);
  return appended ? 1 : 0;
}

int IUPAC_Motif::FindFirst(std::span<const NucleotideCode> sequence, std::uint32_t start,
                           std::uint32_t len, int orientation, std::uint32_t& position,
                           int& direction) {
  std::size_t found_at = 0;
  const int result = FindFirstCandidate(*this, sequence,
                                        WindowCandidates(sequence.size(), start, len, codes.size()),
                                        orientation, found_at, direction);
  if (result == 1) position = static_cast<std::uint32_t>(found_at);
  if (result == kNoCandidate) position = std::numeric_limits<std::uint32_t>::max();
  return result == 1 ? 1 : 0;
}

int IUPAC_Motif::Contains(std::span<const NucleotideCode> sequence, std::uint32_t start,
                          std::uint32_t len, int orientation) {
  std::uint32_t position = 0;
  int direction = 0;
  return FindFirst(sequence, start, len, orientation, position, direction);
}

int IUPAC_Motif::ContainsAnywhere(std::span<const NucleotideCode> sequence, int orientation) {
  std::uint32_t position = 0;
  int direction = 0;
  return FindFirstAnywhere(sequence, orientation, position, direction);
}

int IUPAC_Motif::FindFirstAnywhere(std::span<const NucleotideCode> sequence, int orientation,
                                   std::uint32_t& position, int& direction,
                                   std::uint32_t position_limit) {
  // The whole sequence, however long: its size is never cut to a 32-bit window.
  std::size_t found_at = 0;
  const int result =
      FindFirstCandidate(*this, sequence, WholeSequence(sequence.size(), codes.size()), orientation,
                         found_at, direction);
  if (result == 1)
    position = static_cast<std::uint32_t>(std::min<std::size_t>(found_at, position_limit));
  if (result == kNoCandidate) position = std::numeric_limits<std::uint32_t>::max();
  return result == 1 ? 1 : 0;
}

std::uint32_t IUPAC_Motif::CountOccurrences(std::span<const NucleotideCode> sequence,
                                            int orientation) {
  // The same scan as FindAll over the whole sequence, counting instead of collecting, so
  // the per-pair work allocates nothing.
  if (!Searchable(*this)) return 0;
  // The count is made in 64 bits and a count beyond the 32-bit result reads as its largest
  // value rather than wrapping.
  const Candidates candidates = WholeSequence(sequence.size(), codes.size());
  std::uint64_t occurrences = 0;
  int last_direction = kNoMatch;
  ScanCandidates(sequence, candidates, *this, orientation, [&](std::size_t, int direction) {
    last_direction = direction;
    occurrences += direction != kNoMatch ? 1 : 0;
    return true;
  });
  if (!candidates.empty()) SetMatchState(*this, last_direction);
  return static_cast<std::uint32_t>(
      std::min<std::uint64_t>(occurrences, std::numeric_limits<std::uint32_t>::max()));
}

int IUPAC_Motif::PresenceInSet(const SeqSet& set, int orientation, std::uint32_t& number,
                               double& percentage) {
  number = 0;
  for (const DNA_Sequence& sequence : set.sequences) {
    if (ContainsAnywhere(sequence.codes, orientation) == 1) ++number;
  }
  // The percentage of an empty set is not a number.
  percentage =
      set.count == 0 ? std::numeric_limits<double>::quiet_NaN() : number * 100.0 / set.count;
  return 1;
}
