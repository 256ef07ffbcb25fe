#include "motifs/motif_engine.h"

#include <algorithm>
#include <array>
#include <cassert>
#include <limits>
#include <utility>
#include <vector>

#include "motifs/motif_kernels.h"

using motif_kernels::kBlockWords;
using motif_kernels::kCodeRows;
using motif_kernels::kCounterBits;
using motif_kernels::kResiduesPerPiece;
using motif_kernels::LongScanJob;
using motif_kernels::ScanJob;
using motif_kernels::WordBlock;

// Reused between calls: each buffer grows to the largest engine served and stays.
struct MotifCountScratch::Buffers {
  std::array<std::uint8_t, kResiduesPerPiece> codes{};  // SymbolIndex of each residue
  std::vector<WordBlock> state;
  std::vector<WordBlock> hit_counters;
  std::vector<WordBlock> slot_counts;
  std::vector<std::uint64_t> long_forward;
  std::vector<std::uint64_t> long_reverse;
  std::vector<std::uint64_t> long_hits;
};

MotifCountScratch::MotifCountScratch() = default;
MotifCountScratch::~MotifCountScratch() = default;
MotifCountScratch::MotifCountScratch(MotifCountScratch&&) noexcept = default;
MotifCountScratch& MotifCountScratch::operator=(MotifCountScratch&&) noexcept = default;

struct MotifCountEngine::Layout {
  using Buffers = MotifCountScratch::Buffers;

  // Where one motif's hit counter sits in the packed counters.
  struct CounterSlot {
    std::uint32_t motif;
    std::uint32_t length;
    std::uint32_t block;  // counter block, twin blocks first
    std::uint32_t lane;   // word within the block
    std::uint32_t rank;   // order of the field within its word
    std::uint32_t shift;  // lowest bit of the counter field
  };
  // A motif longer than a word. Its positions fill consecutive words of the long-motif
  // state, the first position highest and the last one at bit 0 of word end_word.
  struct LongPattern {
    std::uint32_t motif;
    std::uint32_t length;
    std::size_t end_word;
  };

  Layout(const MotifSet& motifs, std::span<const std::uint32_t> subset, MotifKernel kernel);

  void BuildShortPatterns(const MotifSet& motifs, std::vector<std::uint32_t> twins,
                          std::vector<std::uint32_t> palindromes);
  void BuildLongPatterns(const MotifSet& motifs, std::vector<std::uint32_t> indices);
  // Clear the scratch for one call and describe the work of the kernels.
  ScanJob PrepareShortScan(Buffers& scratch) const;
  LongScanJob PrepareLongScan(Buffers& scratch) const;
  // Add the hits of the last residue scanned to the motifs of at least min_length
  // positions; the short ones also clear their packed counters.
  void CountShortEnds(std::vector<WordBlock>& hit_counters, std::size_t min_length,
                      std::span<std::uint64_t> counts) const;
  void CountLongEnds(const Buffers& scratch, std::size_t min_length,
                     std::span<std::uint64_t> counts) const;

  std::size_t longest_short_ = 0;
  void (*scan_blocks_)(const ScanJob&) = nullptr;
  void (*scan_long_)(const LongScanJob&) = nullptr;

  std::size_t twin_blocks_ = 0;
  std::size_t single_blocks_ = 0;
  std::vector<WordBlock> twin_masks_;
  std::vector<WordBlock> single_masks_;
  std::vector<WordBlock> first_bits_;
  std::vector<WordBlock> end_bits_;
  std::vector<WordBlock> field_shifts_;
  std::size_t ranks_ = 0;
  std::vector<CounterSlot> slots_;  // longest motif first

  std::size_t long_words_ = 0;  // a multiple of kBlockWords
  std::size_t longest_long_ = 0;
  std::vector<LongPattern> long_patterns_;  // longest first
  std::vector<std::uint64_t> long_masks_;   // strands, then code rows, then words
  std::vector<std::uint64_t> long_first_bits_;
  std::vector<std::uint64_t> long_end_bits_;
};

namespace {

constexpr std::size_t kWordBits = 64;
constexpr std::uint64_t kFieldMask = (std::uint64_t{1} << kCounterBits) - 1;

// The mask row of a residue: SymbolIndex, worked out on 32 bits so that the conversion of
// a run vectorises as wide as it can.
inline std::uint8_t MaskRow(NucleotideCode code) {
  const auto value = static_cast<std::uint32_t>(code);
  return static_cast<std::uint8_t>(
      value < static_cast<std::uint32_t>(kNucleotideSymbolCount) ? value : kNotNucleotide);
}
inline std::uint8_t MaskRow(std::uint8_t code) {
  return static_cast<std::uint8_t>(code < kNucleotideSymbolCount ? code : kNotNucleotide);
}

bool KernelSupported(MotifKernel kernel) {
#if defined(MOTIF_ENGINE_X86_KERNELS)
  // Needed when an engine is built before main, by a static object's constructor.
  __builtin_cpu_init();
#endif
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
// words: best fit, with the words kept in buckets by their free bits so that packing stays
// linear in the number of motifs.
class WordPacker {
 public:
  // Places the motif in the fullest word with room, else in a new word while there are
  // fewer than max_words; false when neither is possible.
  bool Place(std::uint32_t motif, std::size_t length, std::size_t max_words) {
    const std::size_t width = SlotWidth(length);
    std::size_t word = words_.size();
    for (std::size_t bits = width; bits <= kWordBits; ++bits) {
      if (!words_by_free_bits_[bits].empty()) {
        word = words_by_free_bits_[bits].back();
        words_by_free_bits_[bits].pop_back();
        break;
      }
    }
    if (word == words_.size()) {
      if (words_.size() >= max_words) return false;
      AddWord();
      words_by_free_bits_[kWordBits].pop_back();
    }
    const std::size_t shift = kWordBits - free_bits_[word];
    words_[word].push_back(
        {motif, static_cast<std::uint32_t>(length), static_cast<std::uint32_t>(shift)});
    free_bits_[word] -= width;
    if (free_bits_[word] >= kCounterBits) words_by_free_bits_[free_bits_[word]].push_back(word);
    return true;
  }

  // Adds empty words up to a whole number of blocks: the kernels scan them anyway.
  void FillLastBlock() {
    while (words_.size() % kBlockWords != 0) AddWord();
  }

  const std::vector<std::vector<Placement>>& words() const { return words_; }

 private:
  void AddWord() {
    words_by_free_bits_[kWordBits].push_back(words_.size());
    words_.emplace_back();
    free_bits_.push_back(kWordBits);
  }

  std::vector<std::vector<Placement>> words_;
  std::vector<std::size_t> free_bits_;
  std::array<std::vector<std::size_t>, kWordBits + 1> words_by_free_bits_;
};

// Sets, in each code's row, the bits of the pattern positions that the code matches (the
// row of kNotNucleotide matches nothing). The first motif position sits at the highest
// bit, as the state shifts towards bit 0.
void SetPatternBits(const std::vector<NucleotideCode>& pattern, std::size_t shift, WordBlock* rows,
                    std::size_t lane) {
  const std::size_t length = pattern.size();
  for (std::size_t row = 0; row < kCodeRows; ++row) {
    for (std::size_t i = 0; i < length; ++i) {
      if (kCodeMatchOrNone[row][SymbolIndex(pattern[i])] != 0) {
        rows[row].word[lane] |= std::uint64_t{1} << (shift + length - 1 - i);
      }
    }
  }
}

std::size_t BlocksFor(std::size_t words) { return (words + kBlockWords - 1) / kBlockWords; }

std::vector<std::uint32_t> EveryIndex(std::size_t count) {
  std::vector<std::uint32_t> indices(count);
  for (std::size_t index = 0; index < count; ++index) {
    indices[index] = static_cast<std::uint32_t>(index);
  }
  return indices;
}

}  // namespace

MotifCountEngine::MotifCountEngine(const MotifSet& motifs)
    : MotifCountEngine(motifs, MotifKernel::kBest) {}

MotifCountEngine::MotifCountEngine(const MotifSet& motifs, MotifKernel requested)
    : MotifCountEngine(motifs, EveryIndex(motifs.motifs.size()), requested) {}

MotifCountEngine::MotifCountEngine(const MotifSet& motifs, std::span<const std::uint32_t> subset,
                                   MotifKernel requested)
    : motif_count_(motifs.motifs.size()), kernel_(ResolveKernel(requested)) {
  for (const std::uint32_t index : subset) {
    longest_motif_ = std::max(longest_motif_, motifs.motifs[index].codes.size());
  }
  layout_ = std::make_unique<const Layout>(motifs, subset, kernel_);
}

MotifCountEngine::~MotifCountEngine() = default;
MotifCountEngine::MotifCountEngine(MotifCountEngine&&) noexcept = default;
MotifCountEngine& MotifCountEngine::operator=(MotifCountEngine&&) noexcept = default;

MotifCountEngine::Layout::Layout(const MotifSet& motifs, std::span<const std::uint32_t> subset,
                                 MotifKernel kernel) {
  switch (kernel) {
#if defined(MOTIF_ENGINE_X86_KERNELS)
    case MotifKernel::kAvx512:
      scan_blocks_ = motif_kernels::ScanBlocksAvx512;
      scan_long_ = motif_kernels::ScanLongAvx512;
      break;
    case MotifKernel::kAvx2:
      scan_blocks_ = motif_kernels::ScanBlocksAvx2;
      scan_long_ = motif_kernels::ScanLongAvx2;
      break;
#endif
    default:
      scan_blocks_ = motif_kernels::ScanBlocksScalar;
      scan_long_ = motif_kernels::ScanLongScalar;
      break;
  }

  std::vector<std::uint32_t> twins;
  std::vector<std::uint32_t> palindromes;
  std::vector<std::uint32_t> long_motifs;
  for (const std::uint32_t motif_index : subset) {
    const IUPAC_Motif& motif = motifs.motifs[motif_index];
    if (!Searchable(motif)) continue;
    if (motif.codes.size() > kWordBits) {
      long_motifs.push_back(motif_index);
    } else {
      // A palindrome is one pattern: counting it once per start needs no second strand.
      (motif.codes == motif.revComplCodes ? palindromes : twins).push_back(motif_index);
      longest_short_ = std::max(longest_short_, motif.codes.size());
    }
  }
  BuildShortPatterns(motifs, std::move(twins), std::move(palindromes));
  BuildLongPatterns(motifs, std::move(long_motifs));
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

void MotifCountEngine::Layout::BuildShortPatterns(const MotifSet& motifs,
                                                  std::vector<std::uint32_t> twins,
                                                  std::vector<std::uint32_t> palindromes) {
  // Widest first packs tightest. Palindromes first fill the room left in the twin blocks,
  // both strands holding the same pattern there, and only the rest get blocks of their own.
  const auto widest_first = [&](std::uint32_t a, std::uint32_t b) {
    return motifs.motifs[a].codes.size() > motifs.motifs[b].codes.size();
  };
  std::stable_sort(twins.begin(), twins.end(), widest_first);
  std::stable_sort(palindromes.begin(), palindromes.end(), widest_first);
  WordPacker twin_packer;
  WordPacker single_packer;
  constexpr std::size_t kAnyNumber = std::numeric_limits<std::size_t>::max();
  for (std::uint32_t motif : twins) {
    twin_packer.Place(motif, motifs.motifs[motif].codes.size(), kAnyNumber);
  }
  twin_packer.FillLastBlock();
  for (std::uint32_t motif : palindromes) {
    const std::size_t length = motifs.motifs[motif].codes.size();
    if (!twin_packer.Place(motif, length, twin_packer.words().size())) {
      single_packer.Place(motif, length, kAnyNumber);
    }
  }
  const auto& twin_words = twin_packer.words();
  const auto& single_words = single_packer.words();
  twin_blocks_ = BlocksFor(twin_words.size());
  single_blocks_ = BlocksFor(single_words.size());
  for (const auto* words : {&twin_words, &single_words}) {
    for (const auto& word : *words) ranks_ = std::max(ranks_, word.size());
  }
  const std::size_t blocks = twin_blocks_ + single_blocks_;
  twin_masks_.assign(twin_blocks_ * 2 * kCodeRows, WordBlock{});
  single_masks_.assign(single_blocks_ * kCodeRows, WordBlock{});
  first_bits_.assign(blocks, WordBlock{});
  end_bits_.assign(blocks, WordBlock{});
  WordBlock no_field;
  std::fill_n(no_field.word, kBlockWords, kWordBits);
  field_shifts_.assign(blocks * ranks_, no_field);

  // Twin words hold the reverse complement at the same bits as the forward motif, in the
  // second state block, so one OR joins the strands before counting.
  const auto place = [&](const std::vector<std::vector<Placement>>& words, bool twin) {
    for (std::size_t w = 0; w < words.size(); ++w) {
      const std::size_t block = w / kBlockWords;
      const std::size_t lane = w % kBlockWords;
      const std::size_t counter_block = twin ? block : twin_blocks_ + block;
      for (std::size_t rank = 0; rank < words[w].size(); ++rank) {
        const Placement& placement = words[w][rank];
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
        field_shifts_[counter_block * ranks_ + rank].word[lane] = placement.shift;
        slots_.push_back(
            {placement.motif, placement.length, static_cast<std::uint32_t>(counter_block),
             static_cast<std::uint32_t>(lane), static_cast<std::uint32_t>(rank), placement.shift});
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

void MotifCountEngine::Layout::BuildLongPatterns(const MotifSet& motifs,
                                                 std::vector<std::uint32_t> indices) {
  // Longest first, so that past start_limit the search for motifs still counting stops
  // early.
  std::stable_sort(indices.begin(), indices.end(), [&](std::uint32_t a, std::uint32_t b) {
    return motifs.motifs[a].codes.size() > motifs.motifs[b].codes.size();
  });
  for (std::uint32_t motif : indices) {
    const std::size_t length = motifs.motifs[motif].codes.size();
    long_patterns_.push_back({motif, static_cast<std::uint32_t>(length), long_words_});
    long_words_ += (length + kWordBits - 1) / kWordBits;
    longest_long_ = std::max(longest_long_, length);
  }
  long_words_ = BlocksFor(long_words_) * kBlockWords;
  long_masks_.assign(2 * kCodeRows * long_words_, 0);
  long_first_bits_.assign(long_words_, 0);
  long_end_bits_.assign(long_words_, 0);
  const auto set_bit = [](std::uint64_t* words, std::size_t bit) {
    words[bit / kWordBits] |= std::uint64_t{1} << (bit % kWordBits);
  };
  for (const LongPattern& pattern : long_patterns_) {
    const IUPAC_Motif& motif = motifs.motifs[pattern.motif];
    const std::size_t end_bit = pattern.end_word * kWordBits;
    set_bit(long_first_bits_.data(), end_bit + pattern.length - 1);
    set_bit(long_end_bits_.data(), end_bit);
    // A palindrome leaves the reverse strand's masks empty: its state stays 0.
    const bool palindrome = motif.codes == motif.revComplCodes;
    for (std::size_t strand = 0; strand < (palindrome ? 1 : 2); ++strand) {
      const std::vector<NucleotideCode>& codes = strand == 0 ? motif.codes : motif.revComplCodes;
      for (std::size_t row = 0; row < kCodeRows; ++row) {
        std::uint64_t* mask = &long_masks_[(strand * kCodeRows + row) * long_words_];
        for (std::size_t i = 0; i < codes.size(); ++i) {
          if (kCodeMatchOrNone[row][SymbolIndex(codes[i])] != 0)
            set_bit(mask, end_bit + pattern.length - 1 - i);
        }
      }
    }
  }
}

void MotifCountEngine::Count(std::span<const NucleotideCode> codes, std::size_t start_limit,
                             std::span<std::uint64_t> counts, MotifCountScratch& scratch) const {
  CountCodes(codes, start_limit, counts, scratch);
}

void MotifCountEngine::Count(std::span<const std::uint8_t> codes, std::size_t start_limit,
                             std::span<std::uint64_t> counts, MotifCountScratch& scratch) const {
  CountCodes(codes, start_limit, counts, scratch);
}

template <typename Code>
void MotifCountEngine::CountCodes(std::span<const Code> codes, std::size_t start_limit,
                                  std::span<std::uint64_t> counts,
                                  MotifCountScratch& scratch) const {
  assert(counts.size() == motif_count_);
  if (counts.size() != motif_count_) return;
  if (!scratch.buffers_) scratch.buffers_ = std::make_unique<MotifCountScratch::Buffers>();
  MotifCountScratch::Buffers& buffers = *scratch.buffers_;
  const Layout& layout = *layout_;
  const std::size_t limit = std::min(start_limit, codes.size());
  if (limit == 0) return;
  const bool short_motifs = layout.twin_blocks_ + layout.single_blocks_ > 0;
  const bool long_motifs = layout.long_words_ > 0;
  motif_kernels::ScanJob short_job{};
  motif_kernels::LongScanJob long_job{};
  if (short_motifs) short_job = layout.PrepareShortScan(buffers);
  if (long_motifs) long_job = layout.PrepareLongScan(buffers);

  // Starts before limit: every hit counts, gathered by the kernels.
  for (std::size_t position = 0; position < limit;) {
    const std::size_t run = std::min(kResiduesPerPiece, limit - position);
    for (std::size_t i = 0; i < run; ++i) buffers.codes[i] = MaskRow(codes[position + i]);
    short_job.residue_count = run;
    long_job.residue_count = run;
    if (short_motifs) layout.scan_blocks_(short_job);
    if (long_motifs) layout.scan_long_(long_job);
    position += run;
  }
  for (const Layout::CounterSlot& slot : layout.slots_) {
    counts[slot.motif] +=
        buffers.slot_counts[slot.block * layout.ranks_ + slot.rank].word[slot.lane];
  }
  for (const Layout::LongPattern& pattern : layout.long_patterns_) {
    counts[pattern.motif] += buffers.long_hits[pattern.end_word];
  }

  // The ends of sites that start before limit but reach past it: one residue at a time,
  // and only motifs long enough to have started before limit count.
  const std::size_t short_end =
      short_motifs ? std::min(codes.size(), limit + layout.longest_short_ - 1) : limit;
  const std::size_t long_end =
      long_motifs ? std::min(codes.size(), limit + layout.longest_long_ - 1) : limit;
  short_job.flush = false;
  short_job.residue_count = 1;
  long_job.residue_count = 1;
  for (std::size_t position = limit; position < std::max(short_end, long_end); ++position) {
    buffers.codes[0] = MaskRow(codes[position]);
    const std::size_t min_length = position - limit + 2;
    if (position < short_end) {
      layout.scan_blocks_(short_job);
      layout.CountShortEnds(buffers.hit_counters, min_length, counts);
    }
    if (position < long_end) {
      layout.scan_long_(long_job);
      layout.CountLongEnds(buffers, min_length, counts);
    }
  }
}

ScanJob MotifCountEngine::Layout::PrepareShortScan(Buffers& scratch) const {
  const std::size_t blocks = twin_blocks_ + single_blocks_;
  const std::size_t state_blocks = 2 * twin_blocks_ + single_blocks_;
  if (scratch.state.size() < state_blocks) scratch.state.resize(state_blocks);
  if (scratch.hit_counters.size() < blocks) scratch.hit_counters.resize(blocks);
  if (scratch.slot_counts.size() < blocks * ranks_) scratch.slot_counts.resize(blocks * ranks_);
  std::fill_n(scratch.state.begin(), state_blocks, WordBlock{});
  std::fill_n(scratch.hit_counters.begin(), blocks, WordBlock{});
  std::fill_n(scratch.slot_counts.begin(), blocks * ranks_, WordBlock{});

  ScanJob job{};
  job.codes = scratch.codes.data();
  job.twin_masks = twin_masks_.data();
  job.single_masks = single_masks_.data();
  job.first_bits = first_bits_.data();
  job.end_bits = end_bits_.data();
  job.field_shifts = field_shifts_.data();
  job.ranks = ranks_;
  job.state = scratch.state.data();
  job.hit_counters = scratch.hit_counters.data();
  job.slot_counts = scratch.slot_counts.data();
  job.twin_blocks = twin_blocks_;
  job.single_blocks = single_blocks_;
  job.flush = true;
  return job;
}

LongScanJob MotifCountEngine::Layout::PrepareLongScan(Buffers& scratch) const {
  const std::size_t words = long_words_;
  if (scratch.long_forward.size() < words + 1) scratch.long_forward.resize(words + 1);
  if (scratch.long_reverse.size() < words + 1) scratch.long_reverse.resize(words + 1);
  if (scratch.long_hits.size() < words) scratch.long_hits.resize(words);
  std::fill_n(scratch.long_forward.begin(), words + 1, 0);
  std::fill_n(scratch.long_reverse.begin(), words + 1, 0);
  std::fill_n(scratch.long_hits.begin(), words, 0);

  LongScanJob job{};
  job.codes = scratch.codes.data();
  job.masks = long_masks_.data();
  job.first_bits = long_first_bits_.data();
  job.end_bits = long_end_bits_.data();
  job.forward = scratch.long_forward.data();
  job.reverse = scratch.long_reverse.data();
  job.hits = scratch.long_hits.data();
  job.words = words;
  return job;
}

void MotifCountEngine::Layout::CountShortEnds(std::vector<WordBlock>& hit_counters,
                                              std::size_t min_length,
                                              std::span<std::uint64_t> counts) const {
  for (const CounterSlot& slot : slots_) {
    if (slot.length < min_length) break;
    counts[slot.motif] += (hit_counters[slot.block].word[slot.lane] >> slot.shift) & kFieldMask;
  }
  std::fill_n(hit_counters.begin(), twin_blocks_ + single_blocks_, WordBlock{});
}

void MotifCountEngine::Layout::CountLongEnds(const Buffers& scratch, std::size_t min_length,
                                             std::span<std::uint64_t> counts) const {
  for (const LongPattern& pattern : long_patterns_) {
    if (pattern.length < min_length) break;
    counts[pattern.motif] +=
        (scratch.long_forward[pattern.end_word] | scratch.long_reverse[pattern.end_word]) & 1;
  }
}
