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
  std::vector<std::pair<std::uint32_t, Entry>> words;
  std::array<std::vector<std::pair<std::uint32_t, Entry>>, kLongestAnchor> short_anchors;
  for (const std::uint32_t motif_index : indices) {
    const IUPAC_Motif& motif = motifs[motif_index];
    Pattern pattern{motif_index, static_cast<std::uint32_t>(motif.codes.size()), 0, 0};
    const std::vector<std::uint8_t> forward = BaseMasks(motif.codes);
    const std::vector<std::uint8_t> reverse = BaseMasks(motif.revComplCodes);
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

inline void AnchorCountEngine::CountCandidate(const std::uint8_t* data, std::size_t size,
                                              std::size_t start_limit, std::size_t start,
                                              const Entry& entry,
                                              std::span<std::uint64_t> counts) const {
  const Pattern& pattern = patterns_[entry.pattern];
  if (start >= start_limit || start + pattern.length > size) return;
  const std::uint8_t* at = data + start;
  if (entry.reverse != 0) {
    // A start where both strands match counts once, through the forward strand.
    if (entry.whole == 0 && !Matches(at, pattern.reverse, pattern.length)) return;
    if (Matches(at, pattern.forward, pattern.length)) return;
  } else if (entry.whole == 0 && !Matches(at, pattern.forward, pattern.length)) {
    return;
  }
  ++counts[pattern.motif];
}

void AnchorCountEngine::Count(std::span<const std::uint8_t> codes, std::size_t start_limit,
                              std::span<std::uint64_t> counts) const {
  const std::size_t size = codes.size();
  const std::uint8_t* data = codes.data();
  constexpr std::uint32_t kWordMask = (std::uint32_t{1} << (2 * kLongestAnchor)) - 1;
  std::uint32_t word = 0;  // the last bases, 2 bits each, the latest lowest
  std::size_t run = 0;     // bases of A, C, G, T in a row up to here
  // The starts of short anchors that no word of eight covers: those whose word of eight
  // would reach past the end of the run of bases.
  const auto finish_run = [&](std::size_t run_end) {
    for (const Table& table : short_tables_) {
      if (run < table.length) break;
      const std::size_t first_end = run_end - std::min(run, kLongestAnchor - 1) + table.length - 1;
      for (std::size_t end = first_end; end < run_end; ++end) {
        const std::uint32_t key =
            (word >> (2 * (run_end - 1 - end))) & ((std::uint32_t{1} << (2 * table.length)) - 1);
        const std::size_t start = end + 1 - table.length;
        for (std::uint32_t index = table.starts[key]; index < table.starts[key + 1]; ++index) {
          CountCandidate(data, size, start_limit, start, table.entries[index], counts);
        }
      }
    }
  };
  for (std::size_t end = 0; end < size; ++end) {
    const std::uint8_t code = data[end];
    if (code >= 4) {
      // N, and any code that the exact path does not take, matches nothing: no window
      // across it can match.
      finish_run(end);
      run = 0;
      continue;
    }
    word = (word << 2) | code;
    if (++run < kLongestAnchor) continue;
    const std::uint32_t key = word & kWordMask;
    if (((occupied_[key / 64] >> (key % 64)) & 1) == 0) continue;
    const std::size_t word_start = end + 1 - kLongestAnchor;
    for (std::uint32_t index = words_.starts[key]; index < words_.starts[key + 1]; ++index) {
      const Entry& entry = words_.entries[index];
      if (word_start < entry.offset) continue;
      CountCandidate(data, size, start_limit, word_start - entry.offset, entry, counts);
    }
  }
  finish_run(size);
}
