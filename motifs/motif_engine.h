#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "common/nucleotide.h"
#include "motifs/motif_set.h"

// Shared between the engine and its vector kernels; not for use elsewhere.
namespace motif_engine_detail {

// Words per block: one AVX-512 register, two AVX2 registers.
inline constexpr std::size_t kBlockWords = 8;
// Mask rows per strand: codes 0 to 16, and one all-zero row for any other value.
inline constexpr std::size_t kCodeRows = 18;
// Every motif owns a hit counter field of at least 8 bits in a packed counter word, so a
// word holds at most 8 fields and 255 residues can pass between two reads of them.
inline constexpr std::size_t kCounterBits = 8;
inline constexpr std::size_t kResiduesPerFlush = (std::size_t{1} << kCounterBits) - 1;
// Residues converted to mask rows at a time.
inline constexpr std::size_t kResiduesPerPiece = 1024;

struct alignas(64) WordBlock {
  std::uint64_t word[kBlockWords];
};

// One pass of a kernel over a run of residues for every block of short patterns. A twin
// block holds forward patterns in one state block and the reverse complements at the same
// bits of a second one; a single block holds palindromes. Per residue and state block:
// state = ((state >> 1) | first_bits) & mask[code]; then the end bits of the OR of a
// block's states are added to its packed hit counters, so a start matching on both strands
// counts once. Every kResiduesPerFlush residues, and at the end when `flush` is set, the
// kernel adds each counter field into its own 64-bit slot count and clears the counters;
// without `flush` the caller reads and clears them.
struct ScanJob {
  const std::uint8_t* codes;  // mask rows, 0 to 17
  std::size_t residue_count;
  const WordBlock* twin_masks;    // per twin block: kCodeRows forward rows, kCodeRows reverse
  const WordBlock* single_masks;  // per single block: kCodeRows rows
  const WordBlock* first_bits;    // per block, twin blocks first
  const WordBlock* end_bits;      // per block, twin blocks first
  const WordBlock* field_shifts;  // per block, `ranks` rows: lowest bit of the lane's field
                                  // of that rank, 64 where the lane has none
  std::size_t ranks;
  WordBlock* state;         // two per twin block, then one per single block
  WordBlock* hit_counters;  // per block, twin blocks first
  WordBlock* slot_counts;   // per block, `ranks` rows
  std::size_t twin_blocks;
  std::size_t single_blocks;
  bool flush;
};

void ScanBlocksScalar(const ScanJob& job);
void ScanBlocksAvx2(const ScanJob& job);
void ScanBlocksAvx512(const ScanJob& job);

// One pass of a kernel over a run of residues for the motifs longer than a word. They
// fill consecutive words of one state per strand, first position highest, and shift as
// one long bit string: word w takes bit 0 of word w + 1 into its bit 63. The carry into
// the top word of a motif comes from the motif above; it lands on the first position,
// which first_bits sets anyway, or on a bit that the masks clear. Each motif's end bit
// sits alone at bit 0 of its lowest word, where hits adds it up.
struct LongScanJob {
  const std::uint8_t* codes;  // mask rows, 0 to 17
  std::size_t residue_count;
  const std::uint64_t* masks;  // kCodeRows forward rows, then kCodeRows reverse rows
  const std::uint64_t* first_bits;
  const std::uint64_t* end_bits;
  std::uint64_t* forward;  // words + 1 words, the last one always 0
  std::uint64_t* reverse;  // words + 1 words, the last one always 0
  std::uint64_t* hits;
  std::size_t words;  // a multiple of kBlockWords
};

void ScanLongScalar(const LongScanJob& job);
void ScanLongAvx2(const LongScanJob& job);
void ScanLongAvx512(const LongScanJob& job);

}  // namespace motif_engine_detail

// The code paths that the engine can run; kBest takes the fastest one the processor has.
enum class MotifKernel { kBest, kScalar, kAvx2, kAvx512 };

// Working memory of one thread for MotifCountEngine::Count; reused between calls, it stops
// growing once it fits the largest engine it has served.
class MotifCountScratch {
 public:
  std::array<std::uint8_t, motif_engine_detail::kResiduesPerPiece> codes{};
  std::vector<motif_engine_detail::WordBlock> state;
  std::vector<motif_engine_detail::WordBlock> hit_counters;
  std::vector<motif_engine_detail::WordBlock> slot_counts;
  std::vector<std::uint64_t> long_forward;
  std::vector<std::uint64_t> long_reverse;
  std::vector<std::uint64_t> long_hits;
};

// Counts every motif of a set in one pass over a code sequence. A motif counts the start
// positions where it or its reverse complement matches under CodeMatch, overlaps included,
// each start once: the same number as CountOccurrences with MOTORIENT_ANY. Sequence values
// outside 0 to 16 and motif codes outside 0 to 16 match nothing; a motif of length 0
// counts 0. Built once; Count may run on one engine from several threads at once.
class MotifCountEngine {
 public:
  // Takes the kernel named by the environment variable SITECOUNT_KERNEL (scalar, avx2 or
  // avx512) when set, else the fastest one the processor has.
  explicit MotifCountEngine(const MotifSet& motifs);
  // Takes `requested`, or the fastest available kernel when the processor lacks it.
  MotifCountEngine(const MotifSet& motifs, MotifKernel requested);

  std::size_t MotifCount() const { return motif_count_; }
  // Length of the longest motif, 0 for an empty set.
  std::size_t LongestMotif() const { return longest_motif_; }
  // "avx512", "avx2" or "scalar".
  const char* KernelName() const;

  // Adds to counts[m] the number of start positions p of motif m with p < start_limit and
  // p + length(m) <= codes.size(). Chunks of one record that overlap by LongestMotif() - 1
  // and each pass their own part as start_limit count every start exactly once. counts
  // must hold MotifCount() elements; with any other size nothing is counted.
  void Count(std::span<const NucleotideCode> codes, std::size_t start_limit,
             std::span<std::uint64_t> counts, MotifCountScratch& scratch) const;

 private:
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

  void BuildShortPatterns(const MotifSet& motifs, std::vector<std::uint32_t> twins,
                          std::vector<std::uint32_t> palindromes);
  void BuildLongPatterns(const MotifSet& motifs, std::vector<std::uint32_t> indices);
  // Clear the scratch for one call and describe the work of the kernels.
  motif_engine_detail::ScanJob PrepareShortScan(MotifCountScratch& scratch) const;
  motif_engine_detail::LongScanJob PrepareLongScan(MotifCountScratch& scratch) const;
  // Add the hits of the last residue scanned to the motifs of at least min_length
  // positions; the short ones also clear their packed counters.
  void CountShortEnds(std::vector<motif_engine_detail::WordBlock>& hit_counters,
                      std::size_t min_length, std::span<std::uint64_t> counts) const;
  void CountLongEnds(const MotifCountScratch& scratch, std::size_t min_length,
                     std::span<std::uint64_t> counts) const;

  std::size_t motif_count_ = 0;
  std::size_t longest_motif_ = 0;
  std::size_t longest_short_ = 0;
  MotifKernel kernel_ = MotifKernel::kScalar;
  void (*scan_blocks_)(const motif_engine_detail::ScanJob&) = nullptr;
  void (*scan_long_)(const motif_engine_detail::LongScanJob&) = nullptr;

  std::size_t twin_blocks_ = 0;
  std::size_t single_blocks_ = 0;
  std::vector<motif_engine_detail::WordBlock> twin_masks_;
  std::vector<motif_engine_detail::WordBlock> single_masks_;
  std::vector<motif_engine_detail::WordBlock> first_bits_;
  std::vector<motif_engine_detail::WordBlock> end_bits_;
  std::vector<motif_engine_detail::WordBlock> field_shifts_;
  std::size_t ranks_ = 0;
  std::vector<CounterSlot> slots_;  // longest motif first

  std::size_t long_words_ = 0;  // a multiple of kBlockWords
  std::size_t longest_long_ = 0;
  std::vector<LongPattern> long_patterns_;  // longest first
  std::vector<std::uint64_t> long_masks_;   // strands, then code rows, then words
  std::vector<std::uint64_t> long_first_bits_;
  std::vector<std::uint64_t> long_end_bits_;
};
