#include "sitecount/piece_counters.h"

#include <algorithm>

namespace {

class PairwiseCounter : public PieceCounter {
 public:
  explicit PairwiseCounter(const MotifSet& motifs) : motifs_(motifs) {}
  void Count(std::span<const NucleotideCode> codes, std::size_t start_limit,
             std::span<std::uint64_t> counts) override {
    for (std::size_t index = 0; index < motifs_.motifs.size(); ++index) {
      IUPAC_Motif& motif = motifs_.motifs[index];
      const std::size_t length = motif.codes.size();
      if (length == 0) continue;
      // The starts below start_limit are those of the windows that end before this point.
      const std::size_t end = std::min(codes.size(), start_limit + length - 1);
      counts[index] += motif.CountOccurrences(codes.first(end), MOTORIENT_ANY);
    }
  }

 private:
  MotifSet motifs_;  // a copy per thread: a search writes the motif's match state
};

class EngineCounter : public PieceCounter {
 public:
  explicit EngineCounter(const MotifCountEngine& engine) : engine_(engine) {}
  void Count(std::span<const NucleotideCode> codes, std::size_t start_limit,
             std::span<std::uint64_t> counts) override {
    engine_.Count(codes, start_limit, counts, scratch_);
  }

 private:
  const MotifCountEngine& engine_;
  MotifCountScratch scratch_;  // this thread's own
};

}  // namespace

std::unique_ptr<PieceCounter> MakeEngineCounter(const MotifCountEngine& engine) {
  return std::make_unique<EngineCounter>(engine);
}

std::unique_ptr<PieceCounter> MakePairwiseCounter(const MotifSet& motifs) {
  return std::make_unique<PairwiseCounter>(motifs);
}
