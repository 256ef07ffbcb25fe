#pragma once

// The interface between the word-table engine (word_table_engine.cpp) and its kernels
// (word_table_kernel_portable.cpp, word_table_kernel_avx2.cpp, both built from
// word_table_kernel.inc); included by those files only. Callers use
// motifs/word_table_engine.h. Like the shift-and kernels, this header defines no inline
// function, so that no copy built for AVX2 can serve other callers.

#include <cstddef>
#include <cstdint>

namespace word_table_kernels {

// Letters of A, C, G, T per segment: a table row per word of that many letters. With three,
// a segment's full rows (4 KB) stay in the first-level cache; on the benchmark peaks, four
// letters took about as long (1.02 times) and five 1.2 times as long.
inline constexpr std::size_t kLetters = 3;
// Segments of the longest motif the tables take.
inline constexpr std::size_t kMostSegments = 7;
inline constexpr std::size_t kFullRows = std::size_t{1} << (2 * kLetters);
// After the full rows, the rows of words of r < kLetters letters, r = 0 first: for the
// starts near the end of a run of bases, whose segment holds fewer letters.
inline constexpr std::size_t kRowsPerSegment = kFullRows + (kFullRows - 1) / 3;
// Bit-parallel counters go four words (one AVX2 register) at a time.
inline constexpr std::size_t kVectorWords = 4;

// Counts the starts of one group of at most 256 motifs, all of which fit `segments`
// segments. Bit b of a row is motif b of the group; a row holds the four words of the
// forward strand, then the four of the reverse complement (zero for a palindrome; with one
// segment, the forward words hold both strands and the reverse ones are zero): one cache
// line. At a start, the rows of the words at the start, kLetters later, and so on are
// ANDed per strand, and the strands ORed: a start matching both counts once. The sums go
// into bit-sliced counters: plane i holds bit i of the counts of the 256 motifs.
inline constexpr std::size_t kRowWords = 2 * kVectorWords;

struct TableJob {
  const std::uint16_t* words;     // per position: its run's letters from there, up to kLetters
  const std::size_t* run_bounds;  // start and end of each run of A, C, G, T
  std::size_t run_count;
  std::size_t limit;          // only starts below it count
  const std::uint64_t* rows;  // segments * kRowsPerSegment rows of kRowWords words
  std::size_t segments;       // 1 to kMostSegments
  std::uint64_t* planes;      // plane_count planes of kVectorWords words
  std::size_t plane_count;    // at least 4 and at least the bits of the largest count
};

void CountTablePortable(const TableJob& job);
void CountTableAvx2(const TableJob& job);

}  // namespace word_table_kernels
