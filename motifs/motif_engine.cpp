#include "motifs/motif_engine.h"

#include <algorithm>
#include <cassert>
#include <cstdlib>
#include <string_view>

using motif_engine_detail::kBlockWords;
using motif_engine_detail::kCodeRows;
using motif_engine_detail::kCounterBits;
using motif_engine_detail::kResiduesPerFlush;
using motif_engine_detail::ScanJob;
using motif_engine_detail::WordBlock;

namespace {

constexpr std::size_t kWordBits = 64;
constexpr std::uint64_t kFieldMask = (std::uint64_t{1} << kCounterBits) - 1;

// Row of the mask tables for a code: values outside 0 to 16 share the all-zero row 17.
inline std::uint8_t RowOf(NucleotideCode code) {
  const auto value = static_cast<std::uint32_t>(code);
  return static_cast<std::uint8_t>(value < 17 ? value : 17);
}

inline bool Matches(std::size_t sequence_row, NucleotideCode motif_code) {
  const auto motif_value = static_cast<std::uint32_t>(motif_code);
  return sequence_row < 17 && motif_value < 17 && CodeMatch[sequence_row][motif_value] != 0;
}

bool KernelSupported(MotifKernel kernel) {
  switch (kernel) {
    case MotifKernel::kScalar:
      return true;
#if defined(MOTIF_ENGINE_X86_KERNELS)
    case MotifKernel::kAvx2:
      return __builtin_cpu_supports("avx2");
    case MotifKernel::kAvx512:
      return __builtin_cpu_supports("avx512f");
#endif
    default:
      return false;
  }
}

MotifKernel ResolveKernel(MotifKernel requested) {
  if (requested != MotifKernel::kBest && KernelSupported(requested)) return requested;
  for (MotifKernel kernel : {MotifKernel::kAvx512, MotifKernel::kAvx2}) {
    if (KernelSupported(kernel)) return kernel;
  }
  return MotifKernel::kScalar;
}

// SITECOUNT_KERNEL lets a test run force each code path on one machine; an unknown value
// means the default choice.
MotifKernel KernelFromEnvironment() {
  const char* value = std::getenv("SITECOUNT_KERNEL");
  if (value == nullptr) return MotifKernel::kBest;
  const std::string_view name(value);
  if (name == "scalar") return MotifKernel::kScalar;
  if (name == "avx2") return MotifKernel::kAvx2;
  if (name == "avx512") return MotifKernel::kAvx512;
  return MotifKernel::kBest;
}

// A motif is usable when it has positions and a reverse complement of the same size; any
// other motif counts 0, as in the per-motif search.
bool Searchable(const IUPAC_Motif& motif) {
  return !motif.codes.empty() && motif.revComplCodes.size() == motif.codes.size();
}

// Bits of one word given to a short motif: its positions and room for its hit counter.
std::size_t SlotWidth(std::size_t length) { return std::max(length, kCounterBits); }

struct Placement {
  std::uint32_t motif;
  std::uint32_t length;
  std::uint32_t shift;
};

// Packs motifs of at most 64 positions into 64-bit words so that none straddles two
// words: best fit, widest first, with the words kept in buckets by their free bits so the
// packing stays linear in the number of motifs.
std::vector<std::vector<Placement>> PackIntoWords(const MotifSet& motifs,
                                                  std::vector<std::uint32_t> indices) {
  std::stable_sort(indices.begin(), indices.end(), [&](std::uint32_t a, std::uint32_t b) {
    return motifs.motifs[a].codes.size() > motifs.motifs[b].codes.size();
  });
  std::vector<std::vector<Placement>> words;
  std::vector<std::size_t> free_bits;
  std::array<std::vector<std::size_t>, kWordBits + 1> words_by_free_bits;
  for (std::uint32_t motif : indices) {
    const std::size_t length = motifs.motifs[motif].codes.size();
    const std::size_t width = SlotWidth(length);
    std::size_t word = words.size();
    for (std::size_t bits = width; bits <= kWordBits; ++bits) {
      if (!words_by_free_bits[bits].empty()) {
        word = words_by_free_bits[bits].back();
        words_by_free_bits[bits].pop_back();
        break;
      }
    }
    if (word == words.size()) {
      words.emplace_back();
      free_bits.push_back(kWordBits);
    }
    const std::size_t shift = kWordBits - free_bits[word];
    words[word].push_back(
        {motif, static_cast<std::uint32_t>(length), static_cast<std::uint32_t>(shift)});
    free_bits[word] -= width;
    if (free_bits[word] >= kCounterBits) words_by_free_bits[free_bits[word]].push_back(word);
  }
  return words;
}

// Sets, in each code's row, the bits of the pattern positions that the code matches. The
// first motif position sits at the highest bit, as the state shifts towards bit 0.
void SetPatternBits(const std::vector<NucleotideCode>& pattern, std::size_t shift, WordBlock* rows,
                    std::size_t lane) {
  const std::size_t length = pattern.size();
  for (std::size_t row = 0; row < kCodeRows; ++row) {
    for (std::size_t i = 0; i < length; ++i) {
      if (Matches(row, pattern[i])) {
        rows[row].word[lane] |= std::uint64_t{1} << (shift + length - 1 - i);
      }
    }
  }
}

std::size_t BlocksFor(std::size_t words) { return (words + kBlockWords - 1) / kBlockWords; }

// One shift-and step over a motif spread across `words` words; state[words] holds the
// constant 1 whose carry feeds the first motif position at the top bit.
inline void StepLong(std::uint64_t* state, const std::uint64_t* mask, std::size_t words) {
  for (std::size_t w = 0; w < words; ++w) {
    state[w] = ((state[w] >> 1) | (state[w + 1] << 63)) & mask[w];
  }
}

}  // namespace

MotifCountEngine::MotifCountEngine(const MotifSet& motifs)
    : MotifCountEngine(motifs, KernelFromEnvironment()) {}

MotifCountEngine::MotifCountEngine(const MotifSet& motifs, MotifKernel requested)
    : motif_count_(motifs.motifs.size()), kernel_(ResolveKernel(requested)) {
  switch (kernel_) {
#if defined(MOTIF_ENGINE_X86_KERNELS)
    case MotifKernel::kAvx512:
      scan_blocks_ = motif_engine_detail::ScanBlocksAvx512;
      break;
    case MotifKernel::kAvx2:
      scan_blocks_ = motif_engine_detail::ScanBlocksAvx2;
      break;
#endif
    default:
      scan_blocks_ = motif_engine_detail::ScanBlocksScalar;
      break;
  }

  std::vector<std::uint32_t> twins;
  std::vector<std::uint32_t> palindromes;
  for (std::size_t m = 0; m < motifs.motifs.size(); ++m) {
    const IUPAC_Motif& motif = motifs.motifs[m];
    longest_motif_ = std::max(longest_motif_, motif.codes.size());
    if (!Searchable(motif)) continue;
    const auto motif_index = static_cast<std::uint32_t>(m);
    // A palindrome is one pattern: counting it once per start needs no second strand.
    const bool palindrome = motif.codes == motif.revComplCodes;
    if (motif.codes.size() > kWordBits) {
      BuildLongPattern(motif, motif_index, palindrome);
    } else {
      (palindrome ? palindromes : twins).push_back(motif_index);
      longest_short_ = std::max(longest_short_, motif.codes.size());
    }
  }
  BuildShortPatterns(motifs, twins, palindromes);
}

const char* MotifCountEngine::KernelName() const {
  switch (kernel_) {
    case MotifKernel::kAvx512:
      return "avx512";
    case MotifKernel::kAvx2:
      return "avx2";
    default:
      return "scalar";
  }
}

void MotifCountEngine::BuildShortPatterns(const MotifSet& motifs,
                                          const std::vector<std::uint32_t>& twins,
                                          const std::vector<std::uint32_t>& palindromes) {
  const auto twin_words = PackIntoWords(motifs, twins);
  const auto single_words = PackIntoWords(motifs, palindromes);
  twin_blocks_ = BlocksFor(twin_words.size());
  single_blocks_ = BlocksFor(single_words.size());
  twin_masks_.assign(twin_blocks_ * 2 * kCodeRows, WordBlock{});
  single_masks_.assign(single_blocks_ * kCodeRows, WordBlock{});
  first_bits_.assign(twin_blocks_ + single_blocks_, WordBlock{});
  end_bits_.assign(twin_blocks_ + single_blocks_, WordBlock{});

  // Twin words hold the reverse complement at the same bits as the forward motif, in the
  // second state block, so one OR joins the strands before counting.
  const auto place = [&](const std::vector<std::vector<Placement>>& words, bool twin) {
    for (std::size_t w = 0; w < words.size(); ++w) {
      const std::size_t block = w / kBlockWords;
      const std::size_t lane = w % kBlockWords;
      const std::size_t counter_block = twin ? block : twin_blocks_ + block;
      for (const Placement& placement : words[w]) {
        const IUPAC_Motif& motif = motifs.motifs[placement.motif];
        if (twin) {
          WordBlock* rows = &twin_masks_[block * 2 * kCodeRows];
          SetPatternBits(motif.codes, placement.shift, rows, lane);
          SetPatternBits(motif.revComplCodes, placement.shift, rows + kCodeRows, lane);
        } else {
          SetPatternBits(motif.codes, placement.shift, &single_masks_[block * kCodeRows], lane);
        }
        first_bits_[counter_block].word[lane] |= std::uint64_t{1}
                                                 << (placement.shift + placement.length - 1);
        end_bits_[counter_block].word[lane] |= std::uint64_t{1} << placement.shift;
        slots_.push_back({placement.motif, placement.length,
                          static_cast<std::uint32_t>(counter_block),
                          static_cast<std::uint32_t>(lane), placement.shift});
      }
    }
  };
  place(twin_words, true);
  place(single_words, false);
  // Past start_limit only motifs longer than some bound still count: longest first lets
  // that read stop early.
  std::stable_sort(slots_.begin(), slots_.end(),
                   [](const CounterSlot& a, const CounterSlot& b) { return a.length > b.length; });
}

void MotifCountEngine::BuildLongPattern(const IUPAC_Motif& motif, std::uint32_t motif_index,
                                        bool palindrome) {
  LongPattern pattern;
  pattern.motif = motif_index;
  pattern.length = static_cast<std::uint32_t>(motif.codes.size());
  pattern.words = static_cast<std::uint32_t>((motif.codes.size() + kWordBits - 1) / kWordBits);
  // The motif fills the top bits of its words, so the first position sits at the very top
  // and takes the carry of a constant 1 word; the last position lands in word 0.
  pattern.end_shift = static_cast<std::uint32_t>(pattern.words * kWordBits - pattern.length);
  pattern.palindrome = palindrome;
  pattern.mask_offset = long_masks_.size();
  const std::size_t strands = palindrome ? 1 : 2;
  long_masks_.resize(long_masks_.size() + strands * kCodeRows * pattern.words, 0);
  for (std::size_t strand = 0; strand < strands; ++strand) {
    const std::vector<NucleotideCode>& codes = strand == 0 ? motif.codes : motif.revComplCodes;
    for (std::size_t row = 0; row < kCodeRows; ++row) {
      std::uint64_t* mask =
          &long_masks_[pattern.mask_offset + (strand * kCodeRows + row) * pattern.words];
      for (std::size_t i = 0; i < codes.size(); ++i) {
        if (!Matches(row, codes[i])) continue;
        const std::size_t bit = pattern.words * kWordBits - 1 - i;
        mask[bit / kWordBits] |= std::uint64_t{1} << (bit % kWordBits);
      }
    }
  }
  long_patterns_.push_back(pattern);
}

void MotifCountEngine::Count(std::span<const NucleotideCode> codes, std::size_t start_limit,
                             std::span<std::uint64_t> counts, MotifCountScratch& scratch) const {
  assert(counts.size() == motif_count_);
  if (counts.size() != motif_count_) return;
  const std::size_t limit = std::min(start_limit, codes.size());
  if (limit == 0) return;
  if (twin_blocks_ + single_blocks_ > 0) ScanShort(codes, limit, counts, scratch);
  for (const LongPattern& pattern : long_patterns_) {
    ScanLong(pattern, codes, limit, counts, scratch);
  }
}

void MotifCountEngine::ScanShort(std::span<const NucleotideCode> codes, std::size_t limit,
                                 std::span<std::uint64_t> counts,
                                 MotifCountScratch& scratch) const {
  const std::size_t blocks = twin_blocks_ + single_blocks_;
  const std::size_t state_blocks = 2 * twin_blocks_ + single_blocks_;
  if (scratch.state.size() < state_blocks) scratch.state.resize(state_blocks);
  if (scratch.hit_counters.size() < blocks) scratch.hit_counters.resize(blocks);
  std::fill_n(scratch.state.begin(), state_blocks, WordBlock{});
  std::fill_n(scratch.hit_counters.begin(), blocks, WordBlock{});

  ScanJob job{};
  job.codes = scratch.codes.data();
  job.twin_masks = twin_masks_.data();
  job.single_masks = single_masks_.data();
  job.first_bits = first_bits_.data();
  job.end_bits = end_bits_.data();
  job.state = scratch.state.data();
  job.hit_counters = scratch.hit_counters.data();
  job.twin_blocks = twin_blocks_;
  job.single_blocks = single_blocks_;

  // Starts before limit: runs as long as the counter fields allow, every hit counts. The
  // ends of sites that start before limit but reach past it: one residue at a time, and
  // only motifs long enough to have started before limit count.
  const std::size_t scan_end = std::min(codes.size(), limit + longest_short_ - 1);
  std::size_t position = 0;
  while (position < scan_end) {
    const bool past_limit = position >= limit;
    const std::size_t run = past_limit ? 1 : std::min(kResiduesPerFlush, limit - position);
    for (std::size_t i = 0; i < run; ++i) scratch.codes[i] = RowOf(codes[position + i]);
    job.residue_count = run;
    scan_blocks_(job);
    FlushCounters(scratch.hit_counters, past_limit ? position - limit + 2 : 0, counts);
    position += run;
  }
}

void MotifCountEngine::FlushCounters(std::vector<WordBlock>& hit_counters, std::size_t min_length,
                                     std::span<std::uint64_t> counts) const {
  for (const CounterSlot& slot : slots_) {
    if (slot.length < min_length) break;
    counts[slot.motif] += (hit_counters[slot.block].word[slot.lane] >> slot.shift) & kFieldMask;
  }
  std::fill_n(hit_counters.begin(), twin_blocks_ + single_blocks_, WordBlock{});
}

void MotifCountEngine::ScanLong(const LongPattern& pattern, std::span<const NucleotideCode> codes,
                                std::size_t limit, std::span<std::uint64_t> counts,
                                MotifCountScratch& scratch) const {
  const std::size_t scan_end = std::min(codes.size(), limit + pattern.length - 1);
  if (scan_end < pattern.length) return;
  const std::size_t words = pattern.words;
  if (scratch.long_forward.size() < words + 1) scratch.long_forward.resize(words + 1);
  if (scratch.long_reverse.size() < words + 1) scratch.long_reverse.resize(words + 1);
  std::uint64_t* forward = scratch.long_forward.data();
  std::uint64_t* reverse = scratch.long_reverse.data();
  std::fill_n(forward, words, 0);
  std::fill_n(reverse, words, 0);
  forward[words] = 1;
  reverse[words] = 1;

  const std::uint64_t* forward_masks = &long_masks_[pattern.mask_offset];
  const std::uint64_t* reverse_masks = forward_masks + kCodeRows * words;
  std::uint64_t hits = 0;
  if (pattern.palindrome) {
    for (std::size_t j = 0; j < scan_end; ++j) {
      StepLong(forward, forward_masks + RowOf(codes[j]) * words, words);
      hits += (forward[0] >> pattern.end_shift) & 1;
    }
  } else {
    for (std::size_t j = 0; j < scan_end; ++j) {
      const std::size_t row = RowOf(codes[j]);
      StepLong(forward, forward_masks + row * words, words);
      StepLong(reverse, reverse_masks + row * words, words);
      hits += ((forward[0] | reverse[0]) >> pattern.end_shift) & 1;
    }
  }
  counts[pattern.motif] += hits;
}
