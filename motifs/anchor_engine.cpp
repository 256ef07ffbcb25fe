#include "motifs/anchor_engine.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>

#include "common/nucleotide.h"
#include "motifs/base_words.h"

namespace {

// The longest anchor: 4^8 buckets, a table that stays in the second-level cache.
constexpr std::size_t kLongestAnchor = 8;
constexpr std::uint32_t kWordMask = (std::uint32_t{1} << (2 * kLongestAnchor)) - 1;
// An anchor that matches more words than this is not selective enough to be worth its
// entries; its motif is counted another way.
constexpr std::size_t kMostWordsPerAnchor = 256;

// The bases a motif symbol takes (A 1, T 2, G 4, C 8); none for "-", "+" and codes that
// are no symbol, which never match A, C, G or T.
std::uint8_t BaseMask(NucleotideCode code) {
  return static_cast<std::uint8_t>(nucleotide_detail::kBasesOf[SymbolIndex(code)]);
}

// The base mask of a sequence residue: one bit for A, T, G, C (codes 0 to 3), none for
// every other code.
constexpr std::array<std::uint8_t, 256> kResidueMask = [] {
  std::array<std::uint8_t, 256> table{};
  for (std::size_t code = 0; code < 4; ++code) table[code] = static_cast<std::uint8_t>(1u << code);
  return table;
}();

// The bases in a base mask, by table: a population count is a library call on processors
// without the instruction, and every motif's every window asks for it.
constexpr std::array<std::uint8_t, 16> kBasesIn = {0, 1, 1, 2, 1, 2, 2, 3, 1, 2, 2, 3, 2, 3, 3, 4};

// Where one strand of a motif is anchored: the offset of the window and how many words it
// matches.
struct AnchorChoice {
  std::size_t offset = 0;
  std::size_t length = 0;
  std::size_t words = 0;
};

// The window of min(8, length) positions that matches the fewest words. A strand with a
// position that takes no base matches no word at all.
AnchorChoice ChooseAnchor(const std::vector<std::uint8_t>& masks) {
  AnchorChoice best;
  best.length = std::min(kLongestAnchor, masks.size());
  best.words = std::numeric_limits<std::size_t>::max();
  for (std::size_t offset = 0; offset + best.length <= masks.size(); ++offset) {
    std::size_t words = 1;
    for (std::size_t position = offset; position < offset + best.length; ++position) {
      // Capped, so that a long run of N cannot overflow the product.
      words =
          std::min<std::size_t>(words * kBasesIn[masks[position] & 15u], kMostWordsPerAnchor + 1);
    }
    if (words < best.words) {
      best.words = words;
      best.offset = offset;
    }
  }
  return best;
}

double Rate(const AnchorChoice& choice) {
  if (choice.words > kMostWordsPerAnchor) return std::numeric_limits<double>::infinity();
  return static_cast<double>(choice.words) /
         static_cast<double>(std::size_t{1} << (2 * choice.length));
}

}  // namespace

std::vector<std::uint8_t> AnchorCountEngine::BaseMasks(const std::vector<NucleotideCode>& codes) {
  std::vector<std::uint8_t> masks(codes.size());
  for (std::size_t position = 0; position < codes.size(); ++position) {
    masks[position] = BaseMask(codes[position]);
  }
  return masks;
}

bool AnchorCountEngine::AnyNeedsExactPath(std::span<const std::uint8_t> codes) {
  // A byte of 4 or more has a bit outside the two lowest; only then is each one looked at.
  constexpr std::uint64_t kNoBase = 0xFCFCFCFCFCFCFCFCull;
  std::uint64_t seen = 0;
  std::size_t at = 0;
  for (; at + 8 <= codes.size(); at += 8) {
    std::uint64_t eight;
    std::memcpy(&eight, codes.data() + at, sizeof eight);
    seen |= eight;
  }
  for (; at < codes.size(); ++at) seen |= codes[at];
  if ((seen & kNoBase) == 0) return false;
  return std::any_of(codes.begin(), codes.end(), NeedsExactPath);
}

double AnchorCountEngine::AnchorRate(const IUPAC_Motif& motif) {
  if (motif.codes.empty()) return std::numeric_limits<double>::infinity();
  const double forward = Rate(ChooseAnchor(BaseMasks(motif.codes)));
  if (motif.codes == motif.revComplCodes) return forward;
  return forward + Rate(ChooseAnchor(BaseMasks(motif.revComplCodes)));
}

AnchorCountEngine::AnchorCountEngine(const std::vector<IUPAC_Motif>& motifs,
                                     std::span<const std::uint32_t> indices) {
  // No motif, no tables: a quarter of a megabyte of buckets would cost a run on a few
  // records more than its counting.
  if (indices.empty()) return;
  std::vector<std::pair<std::uint32_t, Entry>> words;
  std::array<std::vector<std::pair<std::uint32_t, Entry>>, kLongestAnchor> short_anchors;
  for (const std::uint32_t motif_index : indices) {
    const IUPAC_Motif& motif = motifs[motif_index];
    Pattern pattern{{}, motif_index, static_cast<std::uint32_t>(motif.codes.size()), 0, 0};
    const std::vector<std::uint8_t> forward = BaseMasks(motif.codes);
    const std::vector<std::uint8_t> reverse = BaseMasks(motif.revComplCodes);
    if (forward.size() <= kBitCheckLength) {
      for (std::size_t position = 0; position < forward.size(); ++position) {
        for (std::size_t code = 0; code < 4; ++code) {
          const std::uint64_t bit = std::uint64_t{1} << position;
          if ((forward[position] >> code) & 1u) pattern.takes[0][code] |= bit;
          if ((reverse[position] >> code) & 1u) pattern.takes[1][code] |= bit;
        }
      }
    }
    pattern.forward = masks_.size();
    masks_.insert(masks_.end(), forward.begin(), forward.end());
    pattern.reverse = masks_.size();
    masks_.insert(masks_.end(), reverse.begin(), reverse.end());
    const auto pattern_index = static_cast<std::uint32_t>(patterns_.size());
    patterns_.push_back(pattern);
    // A palindrome's reverse strand is its forward one: anchored once.
    const bool palindrome = motif.codes == motif.revComplCodes;
    for (std::uint8_t strand = 0; strand < (palindrome ? 1 : 2); ++strand) {
      const std::vector<std::uint8_t>& masks = strand == 0 ? forward : reverse;
      const AnchorChoice choice = ChooseAnchor(masks);
      const Entry entry{pattern_index, static_cast<std::uint16_t>(choice.offset), strand,
                        static_cast<std::uint8_t>(choice.length == masks.size() ? 1 : 0)};
      // A short anchor goes under every word of eight that begins with it.
      const std::size_t padding = kLongestAnchor - choice.length;
      ForEachBaseWord(masks.data() + choice.offset, choice.length, 0, [&](std::uint32_t word) {
        for (std::uint32_t tail = 0; tail < (std::uint32_t{1} << (2 * padding)); ++tail) {
          words.emplace_back((word << (2 * padding)) | tail, entry);
        }
        if (padding > 0) short_anchors[choice.length].emplace_back(word, entry);
      });
    }
  }
  Fill(words_, kLongestAnchor, words);
  occupied_.assign(words_.starts.size() / 64 + 1, 0);
  for (std::size_t word = 0; word + 1 < words_.starts.size(); ++word) {
    if (words_.starts[word] != words_.starts[word + 1]) {
      occupied_[word / 64] |= std::uint64_t{1} << (word % 64);
    }
  }
  for (std::size_t length = 1; length < kLongestAnchor; ++length) {
    if (!short_anchors[length].empty()) {
      Fill(short_tables_.emplace_back(), length, short_anchors[length]);
    }
  }
}

void AnchorCountEngine::Fill(Table& table, std::size_t length,
                             std::vector<std::pair<std::uint32_t, Entry>>& anchors) {
  table.length = length;
  table.starts.assign((std::size_t{1} << (2 * length)) + 1, 0);
  for (const auto& anchor : anchors) ++table.starts[anchor.first + 1];
  for (std::size_t word = 1; word < table.starts.size(); ++word) {
    table.starts[word] += table.starts[word - 1];
  }
  table.entries.resize(anchors.size());
  std::vector<std::uint32_t> next(table.starts.begin(), table.starts.end() - 1);
  for (const auto& anchor : anchors) table.entries[next[anchor.first]++] = anchor.second;
  anchors.clear();
  anchors.shrink_to_fit();
}

bool AnchorCountEngine::Matches(const std::uint8_t* codes, std::size_t mask_offset,
                                std::size_t length) const {
  const std::uint8_t* masks = masks_.data() + mask_offset;
  for (std::size_t position = 0; position < length; ++position) {
    if ((kResidueMask[codes[position]] & masks[position]) == 0) return false;
  }
  return true;
}

namespace {

// The bits of positions at to at + 55 of a bit plane: the eight bytes from the byte of `at`.
inline std::uint64_t Window(const std::uint8_t* plane, std::size_t at) {
  std::uint64_t bits;
  std::memcpy(&bits, plane + at / 8, sizeof bits);
  return bits >> (at % 8);
}

// Gathers bit 0 of each of eight bytes into one byte, byte j to bit j: the product puts
// bit 8j at bit 56 + j and nothing else above bit 55, with no carries.
inline std::uint8_t GatherLowBits(std::uint64_t bytes) {
  return static_cast<std::uint8_t>((bytes * 0x0102040810204080ull) >> 56);
}

// True when the strand whose bases are `takes` matches at `start`: every position holds a
// base, and one the strand takes there.
inline bool MatchesBits(const std::uint64_t* takes, const std::uint8_t* low,
                        const std::uint8_t* high, const std::uint8_t* other, std::size_t start,
                        std::size_t length) {
  const std::uint64_t lo = Window(low, start);
  const std::uint64_t hi = Window(high, start);
  const std::uint64_t taken =
      (~lo & ~hi & takes[0]) | (lo & ~hi & takes[1]) | (~lo & hi & takes[2]) | (lo & hi & takes[3]);
  const std::uint64_t window = (std::uint64_t{1} << length) - 1;
  return ((~taken | Window(other, start)) & window) == 0;
}

}  // namespace

inline void AnchorCountEngine::CountCandidate(const std::uint8_t* data, const Planes& planes,
                                              std::size_t size, std::size_t start_limit,
                                              std::size_t start, const Entry& entry,
                                              std::span<std::uint64_t> counts) const {
  const Pattern& pattern = patterns_[entry.pattern];
  if (start >= start_limit || start + pattern.length > size) return;
  if (pattern.length <= kBitCheckLength) {
    // Without a branch on the outcome, which would be mispredicted at about every other
    // candidate. A start where both strands match counts once, through the forward strand.
    const bool forward =
        MatchesBits(pattern.takes[0], planes.low, planes.high, planes.other, start, pattern.length);
    if (entry.reverse == 0) {
      counts[pattern.motif] += forward ? 1 : 0;
    } else {
      const bool reverse = MatchesBits(pattern.takes[1], planes.low, planes.high, planes.other,
                                       start, pattern.length);
      counts[pattern.motif] += reverse && !forward ? 1 : 0;
    }
    return;
  }
  const std::uint8_t* at = data + start;
  if (entry.reverse != 0) {
    if (entry.whole == 0 && !Matches(at, pattern.reverse, pattern.length)) return;
    if (Matches(at, pattern.forward, pattern.length)) return;
  } else if (entry.whole == 0 && !Matches(at, pattern.forward, pattern.length)) {
    return;
  }
  ++counts[pattern.motif];
}

void AnchorCountEngine::FinishRun(const std::uint8_t* data, const Planes& planes, std::size_t size,
                                  std::size_t start_limit, std::size_t run_end, std::uint32_t word,
                                  std::size_t run, std::span<std::uint64_t> counts) const {
  for (const Table& table : short_tables_) {
    if (run < table.length) break;
    const std::size_t first_end = run_end - std::min(run, kLongestAnchor - 1) + table.length - 1;
    for (std::size_t end = first_end; end < run_end; ++end) {
      const std::uint32_t key =
          (word >> (2 * (run_end - 1 - end))) & ((std::uint32_t{1} << (2 * table.length)) - 1);
      const std::size_t start = end + 1 - table.length;
      for (std::uint32_t index = table.starts[key]; index < table.starts[key + 1]; ++index) {
        CountCandidate(data, planes, size, start_limit, start, table.entries[index], counts);
      }
    }
  }
}

void AnchorCountEngine::Count(std::span<const std::uint8_t> codes, std::size_t start_limit,
                              std::span<std::uint64_t> counts, Scratch& scratch) const {
  if (Empty()) return;
  const std::size_t size = codes.size();
  const std::uint8_t* data = codes.data();
  // The bit planes, eight residues at a time: a code of 4 or more is no base.
  const std::size_t plane_bytes = (size + 7) / 8 + 8;
  for (std::vector<std::uint8_t>* plane : {&scratch.low, &scratch.high, &scratch.other}) {
    if (plane->size() < plane_bytes) plane->resize(plane_bytes);
  }
  constexpr std::uint64_t kLowBits = 0x0101010101010101ull;
  for (std::size_t byte = 0; byte < plane_bytes; ++byte) {
    std::uint64_t eight = ~std::uint64_t{0};  // past the end: no base
    const std::size_t at = byte * 8;
    if (at + 8 <= size) {
      std::memcpy(&eight, data + at, sizeof eight);
    } else if (at < size) {
      std::memcpy(&eight, data + at, size - at);
    }
    scratch.low[byte] = GatherLowBits(eight & kLowBits);
    scratch.high[byte] = GatherLowBits((eight >> 1) & kLowBits);
    // Bits 2 to 7 of each byte, moved down and added to 0x3F: bit 6 carries when any is set.
    const std::uint64_t above = ((eight >> 2) & 0x3F3F3F3F3F3F3F3Full) + 0x3F3F3F3F3F3F3F3Full;
    scratch.other[byte] = GatherLowBits((above >> 6) & kLowBits);
  }
  const Planes planes{scratch.low.data(), scratch.high.data(), scratch.other.data()};
  const std::uint64_t* occupied = occupied_.data();
  const std::uint32_t* starts = words_.starts.data();
  const Entry* entries = words_.entries.data();
  std::uint32_t word = 0;  // the last bases, 2 bits each, the latest lowest
  std::size_t run = 0;     // bases of A, C, G, T in a row up to here
  // The scan first notes, without a branch, each end whose word of eight holds an anchor,
  // and then looks their entries up: a note is rarely taken, so a branch on it would be
  // mispredicted at each one, and the lookups of several notes overlap when they go out of
  // the first-level cache. A note holds the word and the end's distance from the round's
  // first position.
  constexpr std::size_t kNotesPerRound = 1024;
  static_assert(kNotesPerRound <= (std::size_t{1} << (32 - 2 * kLongestAnchor)));
  std::uint32_t notes[kNotesPerRound];
  for (std::size_t round = 0; round < size; round += kNotesPerRound) {
    const std::size_t round_end = std::min(size, round + kNotesPerRound);
    std::size_t noted = 0;
    for (std::size_t end = round; end < round_end; ++end) {
      const std::uint8_t code = data[end];
      if (code >= 4) {
        // N, and any code that the exact path does not take, matches nothing: no window
        // across it can match.
        FinishRun(data, planes, size, start_limit, end, word, run, counts);
        run = 0;
        continue;
      }
      word = (word << 2) | code;
      ++run;
      const std::uint32_t key = word & kWordMask;
      const auto hit = static_cast<std::uint32_t>(occupied[key / 64] >> (key % 64)) &
                       static_cast<std::uint32_t>(run >= kLongestAnchor);
      notes[noted] = static_cast<std::uint32_t>((end - round) << (2 * kLongestAnchor)) | key;
      noted += hit;
    }
    // Each note's lookups go through three tables, one after the other: their lines are
    // fetched ahead, the bucket's start 12 notes ahead, its first entry 6 ahead and that
    // entry's motif 3 ahead.
    for (std::size_t index = 0; index < noted; ++index) {
      if (index + 12 < noted) __builtin_prefetch(starts + (notes[index + 12] & kWordMask));
      if (index + 6 < noted) __builtin_prefetch(entries + starts[notes[index + 6] & kWordMask]);
      if (index + 3 < noted) {
        __builtin_prefetch(patterns_.data() +
                           entries[starts[notes[index + 3] & kWordMask]].pattern);
      }
      const std::uint32_t key = notes[index] & kWordMask;
      const std::size_t word_start =
          round + (notes[index] >> (2 * kLongestAnchor)) + 1 - kLongestAnchor;
      for (std::uint32_t entry = starts[key]; entry < starts[key + 1]; ++entry) {
        const Entry& found = entries[entry];
        if (word_start < found.offset) continue;
        CountCandidate(data, planes, size, start_limit, word_start - found.offset, found, counts);
      }
    }
  }
  FinishRun(data, planes, size, start_limit, size, word, run, counts);
}
