#include <cstddef>
#include <cstdint>
#include <limits>

#include "motifs/iupac_motif.h"
#include "sequences/dna_sequence.h"

namespace {

// CodeMatch with one more row and column, all 0, for any value that is not a symbol:
// a motif position holding 17 (or a stray sequence value) matches nothing and never
// indexes past the table.
constexpr std::size_t kSafeSize = 18;
constexpr std::array<std::array<std::uint8_t, kSafeSize>, kSafeSize> MakeSafeMatch() {
  std::array<std::array<std::uint8_t, kSafeSize>, kSafeSize> table{};
  for (std::size_t seq = 0; seq < 17; ++seq) {
    for (std::size_t mot = 0; mot < 17; ++mot) {
      table[seq][mot] = static_cast<std::uint8_t>(CodeMatch[seq][mot]);
    }
  }
  return table;
}
constexpr auto kSafeMatch = MakeSafeMatch();

inline std::size_t SafeIndex(NucleotideCode code) {
  const auto index = static_cast<std::uint32_t>(code);
  return index < 17 ? index : 17;
}

// True when every motif code matches the sequence code at the same offset; stops at the
// first mismatch.
inline bool StrandMatches(const NucleotideCode* sequence_at, const NucleotideCode* motif_codes,
                          std::size_t length) {
  for (std::size_t i = 0; i < length; ++i) {
    if (kSafeMatch[SafeIndex(sequence_at[i])][SafeIndex(motif_codes[i])] == 0) return false;
  }
  return true;
}

constexpr int kNoMatch = -1;

// The strand test at one start position: the direction of the match (0 forward, 1 reverse
// complement, 2 both), or kNoMatch. The reverse strand is tested by reading the reverse
// complement forward over the same stretch of the sequence.
inline int TestWindow(const NucleotideCode* sequence_at, const IUPAC_Motif& motif,
                      int orientation) {
  const std::size_t length = motif.codes.size();
  const bool test_forward = orientation == MOTORIENT_FWD || orientation == MOTORIENT_BOTH ||
                            orientation == MOTORIENT_ANY;
  const bool test_reverse = orientation == MOTORIENT_COMPL || orientation == MOTORIENT_BOTH ||
                            orientation == MOTORIENT_ANY;
  const bool forward = test_forward && StrandMatches(sequence_at, motif.codes.data(), length);
  if (!forward && (orientation == MOTORIENT_FWD || orientation == MOTORIENT_BOTH)) {
    return kNoMatch;
  }
  const bool reverse =
      test_reverse && StrandMatches(sequence_at, motif.revComplCodes.data(), length);
  switch (orientation) {
    case MOTORIENT_FWD:
      return 0;
    case MOTORIENT_COMPL:
      return reverse ? 1 : kNoMatch;
    case MOTORIENT_BOTH:
      return reverse ? 2 : kNoMatch;
    case MOTORIENT_ANY:
      if (forward && reverse) return 2;
      if (forward) return 0;
      return reverse ? 1 : kNoMatch;
    default:
      return kNoMatch;
  }
}

// The candidate start positions of a window: [first, last_plus_one). Empty when the window
// is shorter than the motif, or the motif has no positions.
struct Candidates {
  std::size_t first = 0;
  std::size_t last_plus_one = 0;
  bool empty() const { return first >= last_plus_one; }
};

Candidates WindowCandidates(std::size_t sequence_size, std::uint32_t start, std::uint32_t len,
                            std::size_t motif_length) {
  // 64-bit arithmetic: a window past the end, or start + len beyond 32 bits, clamps
  // instead of wrapping around.
  const std::size_t window_end = std::min<std::size_t>(std::size_t{start} + len, sequence_size);
  Candidates candidates;
  if (motif_length == 0 || window_end < std::size_t{start} + motif_length) return candidates;
  candidates.first = start;
  candidates.last_plus_one = window_end - motif_length + 1;
  return candidates;
}

// Guards against motif objects whose vectors were changed by hand: the search only ever
// reads positions both vectors hold.
bool Searchable(const IUPAC_Motif& motif) {
  return !motif.codes.empty() && motif.revComplCodes.size() == motif.codes.size();
}

}  // namespace

int IUPAC_Motif::MatchAt(std::span<const NucleotideCode> sequence, std::uint32_t p,
                         int orientation, int* direction) {
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
                         std::uint32_t len, int orientation,
                         std::vector<std::uint32_t>& positions,
                         std::vector<std::int32_t>& directions) {
  if (!Searchable(*this)) return 0;
  const Candidates candidates = WindowCandidates(sequence.size(), start, len, codes.size());
  bool appended = false;
  int match_direction = kNoMatch;
  for (std::size_t p = candidates.first; p < candidates.last_plus_one; ++p) {
    match_direction = TestWindow(sequence.data() + p, *this, orientation);
    if (match_direction != kNoMatch) {
      positions.push_back(static_cast<std::uint32_t>(p));
      directions.push_back(match_direction);
      appended = true;
    }
  }
  if (!candidates.empty()) {
    found = match_direction != kNoMatch ? 1 : 0;
    lastDirection = match_direction != kNoMatch ? match_direction : 0;
  }
  return appended ? 1 : 0;
}

int IUPAC_Motif::FindFirst(std::span<const NucleotideCode> sequence, std::uint32_t start,
                           std::uint32_t len, int orientation, std::uint32_t& position,
                           int& direction) {
  direction = 0;
  const Candidates candidates = WindowCandidates(sequence.size(), start, len, codes.size());
  if (!Searchable(*this) || candidates.empty()) {
    position = std::numeric_limits<std::uint32_t>::max();
    return 0;
  }
  found = 0;
  lastDirection = 0;
  for (std::size_t p = candidates.first; p < candidates.last_plus_one; ++p) {
    const int match_direction = TestWindow(sequence.data() + p, *this, orientation);
    if (match_direction != kNoMatch) {
      found = 1;
      lastDirection = match_direction;
      position = static_cast<std::uint32_t>(p);
      direction = match_direction;
      return 1;
    }
  }
  return 0;
}

int IUPAC_Motif::Contains(std::span<const NucleotideCode> sequence, std::uint32_t start,
                          std::uint32_t len, int orientation) {
  std::uint32_t position = 0;
  int direction = 0;
  return FindFirst(sequence, start, len, orientation, position, direction);
}

int IUPAC_Motif::ContainsAnywhere(std::span<const NucleotideCode> sequence, int orientation) {
  return Contains(sequence, 0, static_cast<std::uint32_t>(sequence.size()), orientation);
}

int IUPAC_Motif::FindFirstAnywhere(std::span<const NucleotideCode> sequence, int orientation,
                                   std::uint32_t& position, int& direction) {
  return FindFirst(sequence, 0, static_cast<std::uint32_t>(sequence.size()), orientation,
                   position, direction);
}

std::uint32_t IUPAC_Motif::CountOccurrences(std::span<const NucleotideCode> sequence,
                                            int orientation) {
  // The same scan as FindAll over the whole sequence, counting instead of collecting, so
  // the per-pair work allocates nothing.
  if (!Searchable(*this)) return 0;
  const Candidates candidates =
      WindowCandidates(sequence.size(), 0, static_cast<std::uint32_t>(sequence.size()),
                       codes.size());
  std::uint32_t occurrences = 0;
  int match_direction = kNoMatch;
  for (std::size_t p = candidates.first; p < candidates.last_plus_one; ++p) {
    match_direction = TestWindow(sequence.data() + p, *this, orientation);
    if (match_direction != kNoMatch) ++occurrences;
  }
  if (!candidates.empty()) {
    found = match_direction != kNoMatch ? 1 : 0;
    lastDirection = match_direction != kNoMatch ? match_direction : 0;
  }
  return occurrences;
}

int IUPAC_Motif::PresenceInSet(const SeqSet& set, int orientation, std::uint32_t& number,
                               double& percentage) {
  number = 0;
  for (const DNA_Sequence& sequence : set.sequences) {
    if (ContainsAnywhere(sequence.codes, orientation) == 1) ++number;
  }
  // The percentage of an empty set is not a number.
  percentage = set.count == 0 ? std::numeric_limits<double>::quiet_NaN()
                              : number * 100.0 / set.count;
  return 1;
}
