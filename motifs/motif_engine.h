#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

#include "common/nucleotide.h"
#include "motifs/motif_set.h"

// The code paths that the engine can run; kBest takes the fastest one the processor has.
enum class MotifKernel { kBest, kScalar, kAvx2, kAvx512 };

// Working memory of one thread for MotifCountEngine::Count: create one per thread and pass
// it to every call. Reused between calls, it stops growing once it fits the largest engine
// it has served; it takes no memory until the first call.
class MotifCountScratch {
 public:
  MotifCountScratch();
  ~MotifCountScratch();
  MotifCountScratch(MotifCountScratch&&) noexcept;
  MotifCountScratch& operator=(MotifCountScratch&&) noexcept;

  // Defined by the engine; nothing a caller uses.
  struct Buffers;

 private:
  friend class MotifCountEngine;
  std::unique_ptr<Buffers> buffers_;
};

// Counts every motif of a set in one pass over a code sequence. A motif counts the start
// positions where it or its reverse complement matches under CodeMatch, overlaps included,
// each start once: the same number as CountOccurrences with MOTORIENT_ANY. Sequence values
// outside the symbols and motif codes outside the symbols match nothing; a motif of length
// 0 counts 0. Built once; Count may run on one engine from several threads at once.
class MotifCountEngine {
 public:
  // Takes the fastest kernel the processor has.
  explicit MotifCountEngine(const MotifSet& motifs);
  // Takes `requested`, or the fastest available kernel when the processor lacks it.
  MotifCountEngine(const MotifSet& motifs, MotifKernel requested);
  // Counts only motifs.motifs[i] for each i in `subset` (no index twice): Count adds to
  // their counts and leaves the others as they are, so that another engine can count them.
  MotifCountEngine(const MotifSet& motifs, std::span<const std::uint32_t> subset,
                   MotifKernel requested);
  ~MotifCountEngine();
  MotifCountEngine(MotifCountEngine&&) noexcept;
  MotifCountEngine& operator=(MotifCountEngine&&) noexcept;

  std::size_t MotifCount() const { return motif_count_; }
  // Length of the longest motif counted, 0 for none.
  std::size_t LongestMotif() const { return longest_motif_; }
  // "avx512", "avx2" or "scalar".
  const char* KernelName() const;

  // Adds to counts[m] the number of start positions p of motif m with p < start_limit and
  // p + length(m) <= codes.size(). Chunks of one record that overlap by LongestMotif() - 1
  // and each pass their own part as start_limit count every start exactly once. counts
  // must hold MotifCount() elements; with any other size nothing is counted.
  void Count(std::span<const NucleotideCode> codes, std::size_t start_limit,
             std::span<std::uint64_t> counts, MotifCountScratch& scratch) const;
  // The same with each code as a byte, as the sequence reader can deliver them.
  void Count(std::span<const std::uint8_t> codes, std::size_t start_limit,
             std::span<std::uint64_t> counts, MotifCountScratch& scratch) const;

 private:
  // The motifs laid out for the kernels, and the kernels chosen.
  struct Layout;
  template <typename Code>
  void CountCodes(std::span<const Code> codes, std::size_t start_limit,
                  std::span<std::uint64_t> counts, MotifCountScratch& scratch) const;

  std::size_t motif_count_ = 0;
  std::size_t longest_motif_ = 0;
  MotifKernel kernel_ = MotifKernel::kScalar;
  std::unique_ptr<const Layout> layout_;
};
