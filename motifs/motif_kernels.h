#pragma once

// The interface between the counting engine (motif_engine.cpp) and its kernels
// (motif_engine_scalar.cpp, motif_engine_avx2.cpp, motif_engine_avx512.cpp); included by
// those files only. Callers use motifs/motif_engine.h.
//
// The vector kernels are compiled for their instruction sets and must call no inline
// function shared with other files, or a copy built for AVX2 or AVX-512 could serve callers
// on processors without them: this header defines none, and the kernels take only
// constants from the alphabet.

#include <cstddef>
#include <cstdint>

#include "common/nucleotide.h"

namespace motif_kernels {

// Words per block: one AVX-512 register, two AVX2 registers.
inline constexpr std::size_t kBlockWords = 8;
// Mask rows per strand, one per row of the alphabet's tables: a row for each symbol, and
// the all-zero row of kNotNucleotide for any other value.
inline constexpr std::size_t kCodeRows = kCodeTableSize;
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
  const std::uint8_t* codes;  // mask rows: SymbolIndex of each residue
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
  const std::uint8_t* codes;  // mask rows: SymbolIndex of each residue
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

}  // namespace motif_kernels
