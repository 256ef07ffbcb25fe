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
// Residues scanned between two reads of the packed hit counters: every counter field is at
// least 8 bits wide, so 255 hits fit.
inline constexpr std::size_t kCounterBits = 8;
inline constexpr std::size_t kResiduesPerFlush = (std::size_t{1} << kCounterBits) - 1;

struct alignas(64) WordBlock {
  std::uint64_t word[kBlockWords];
};

// One pass of a kernel over a run of residues for every block of short patterns. A twin
// block holds forward patterns in one state block and the reverse complements at the same
// bits of a second one; a single block holds palindromes. Per residue and state block:
// state = ((state >> 1) | first_bits) & mask[code]; then the end bits of the OR of a
// block's states are added to its hit counters, so a start matching on both strands counts
// once.
struct ScanJob {
  const std::uint8_t* codes;  // residue codes 0 to 17
  std::size_t residue_count;
  const WordBlock* twin_masks;    // per twin block: kCodeRows forward rows, kCodeRows reverse
  const WordBlock* single_masks;  // per single block: kCodeRows rows
  const WordBlock* first_bits;    // per block, twin blocks first
  const WordBlock* end_bits;      // per block, twin blocks first
  WordBlock* state;               // two per twin block, then one per single block
  WordBlock* hit_counters;        // per block, twin blocks first
  std::size_t twin_blocks;
  std::size_t single_blocks;
};

void ScanBlocksScalar(const ScanJob& job);
void ScanBlocksAvx2(const ScanJob& job);
void ScanBlocksAvx512(const ScanJob& job);

}  // namespace motif_engine_detail

// The code paths that the engine can run; kBest takes the fastest one the processor has.
enum class MotifKernel { kBest, kScalar, kAvx2, kAvx512 };

// Working memory of one thread for MotifCountEngine::Count; reused between calls, it stops
// growing once it fits the largest engine it has served.
class MotifCountScratch {
 public:
  std::array<std::uint8_t, motif_engine_detail::kResiduesPerFlush> codes{};
  std::vector<motif_engine_detail::WordBlock> state;
  std::vector<motif_engine_detail::WordBlock> hit_counters;
  std::vector<std::uint64_t> long_forward;
  std::vector<std::uint64_t> long_reverse;
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
    std::uint32_t shift;  // lowest bit of the counter field
  };
  // A motif longer than a word, scanned on its own with carries between words.
  struct LongPattern {
    std::uint32_t motif;
    std::uint32_t length;
    std::uint32_t words;
    std::uint32_t end_shift;  // bit of word 0 that says the whole motif matched
    bool palindrome;
    std::size_t mask_offset;  // into long_masks_: strands, then codes, then words
  };

  void BuildShortPatterns(const MotifSet& motifs, const std::vector<std::uint32_t>& twins,
                          const std::vector<std::uint32_t>& palindromes);
  void BuildLongPattern(const IUPAC_Motif& motif, std::uint32_t motif_index, bool palindrome);
  void ScanShort(std::span<const NucleotideCode> codes, std::size_t limit,
                 std::span<std::uint64_t> counts, MotifCountScratch& scratch) const;
  void ScanLong(const LongPattern& pattern, std::span<const NucleotideCode> codes,
                std::size_t limit, std::span<std::uint64_t> counts,
                MotifCountScratch& scratch) const;
  void FlushCounters(std::vector<motif_engine_detail::WordBlock>& hit_counters,
                     std::size_t min_length, std::span<std::uint64_t> counts) const;

  std::size_t motif_count_ = 0;
  std::size_t longest_motif_ = 0;
  std::size_t longest_short_ = 0;
  MotifKernel kernel_ = MotifKernel::kScalar;
  void (*scan_blocks_)(const motif_engine_detail::ScanJob&) = nullptr;

  std::size_t twin_blocks_ = 0;
  std::size_t single_blocks_ = 0;
  std::vector<motif_engine_detail::WordBlock> twin_masks_;
  std::vector<motif_engine_detail::WordBlock> single_masks_;
  std::vector<motif_engine_detail::WordBlock> first_bits_;
  std::vector<motif_engine_detail::WordBlock> end_bits_;
  std::vector<CounterSlot> slots_;  // longest motif first

  std::vector<LongPattern> long_patterns_;
  std::vector<std::uint64_t> long_masks_;
};
