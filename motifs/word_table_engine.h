#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "motifs/iupac_motif.h"

// Counts motifs of up to 21 positions by looking up words instead of advancing each motif:
// the motif is cut into segments of three positions, and for every word of three bases a
// table row holds one bit per motif whose segment matches it. At a start, the rows of the
// words there, three bases on, and so on are ANDed, and the bits found add into counters
// kept bit-sliced, 256 motifs in one vector operation. The cost per residue follows the
// number of motifs over 256 and the segments of the longest, not their letters or hits;
// it suits motifs that match too often for an anchor to pay. Counts agree with
// CountOccurrences and MOTORIENT_ANY.
class WordTableEngine {
 public:
  // Working memory of one thread for Count, reused between calls.
  struct Scratch {
    std::vector<std::uint16_t> words;
    std::vector<std::uint64_t> planes;
    std::vector<std::size_t> run_bounds;
  };

  // Motifs counted together: one bit each in a row of 256.
  static constexpr std::size_t kMotifsPerGroup = 256;

  // True for a motif the tables take: 1 to 21 positions.
  static bool Takes(const IUPAC_Motif& motif);
  // The segments of three positions that a motif of `length` positions takes.
  static std::size_t Segments(std::size_t length);

  // Tables of motifs[index] for each index in `indices`, each of which Takes. With
  // `vector_kernel`, the AVX2 kernel where the processor has it; else the portable one.
  WordTableEngine(const std::vector<IUPAC_Motif>& motifs, std::span<const std::uint32_t> indices,
                  bool vector_kernel);

  // "avx2" or "portable".
  const char* KernelName() const;

  // Adds to counts[m] the number of start positions p of each motif m in the tables with
  // p < start_limit and p + length(m) <= codes.size(). `codes` are residue codes as bytes,
  // none of which AnchorCountEngine::NeedsExactPath.
  void Count(std::span<const std::uint8_t> codes, std::size_t start_limit,
             std::span<std::uint64_t> counts, Scratch& scratch) const;

 private:
  // Up to 256 motifs counted together, in as many segments as the longest needs.
  struct Group {
    std::size_t segments = 0;
    std::vector<std::uint32_t> motifs;  // bit b of a row: motifs[b]
    std::vector<std::uint64_t> rows;    // segment, row, strand, word
  };

  // `past_end` gathers, per segment, the bits of the strands that end before it: every row
  // of such a segment takes them, set at once for the whole group.
  void FillRows(Group& group, std::size_t bit, const std::vector<std::uint8_t>& masks,
                std::size_t strand, std::vector<std::uint64_t>& past_end) const;

  std::vector<Group> groups_;
  bool vector_kernel_ = false;
};
