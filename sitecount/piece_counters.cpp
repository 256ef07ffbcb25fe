#include "sitecount/piece_counters.h"

#include <algorithm>
#include <string_view>
#include <utility>

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
  // Keeps the engine alive as long as the counter.
  explicit EngineCounter(std::shared_ptr<const MotifCountEngine> engine)
      : engine_(*engine), owner_(std::move(engine)) {}
  void Count(std::span<const NucleotideCode> codes, std::size_t start_limit,
             std::span<std::uint64_t> counts) override {
    engine_.Count(codes, start_limit, counts, scratch_);
  }

 private:
  const MotifCountEngine& engine_;
  std::shared_ptr<const MotifCountEngine> owner_;  // null when the caller owns the engine
  MotifCountScratch scratch_;                      // this thread's own
};

}  // namespace

std::unique_ptr<PieceCounter> MakeEngineCounter(const MotifCountEngine& engine) {
  return std::make_unique<EngineCounter>(engine);
}

std::unique_ptr<PieceCounter> MakePairwiseCounter(const MotifSet& motifs) {
  return std::make_unique<PairwiseCounter>(motifs);
}

CountingPath ParseCountingPath(const char* value) {
  if (value == nullptr) return CountingPath::kBest;
  const std::string_view name(value);
  if (name == "scalar") return CountingPath::kScalar;
  if (name == "avx2") return CountingPath::kAvx2;
  if (name == "avx512") return CountingPath::kAvx512;
  if (name == "pairwise") return CountingPath::kPairwise;
  return CountingPath::kBest;
}

std::function<std::unique_ptr<PieceCounter>()> MakeCounterFactory(const MotifSet& motifs,
                                                                  CountingPath path) {
  if (path == CountingPath::kPairwise) {
    return [&motifs] { return MakePairwiseCounter(motifs); };
  }
  MotifKernel kernel = MotifKernel::kBest;
  if (path == CountingPath::kScalar) kernel = MotifKernel::kScalar;
  if (path == CountingPath::kAvx2) kernel = MotifKernel::kAvx2;
  if (path == CountingPath::kAvx512) kernel = MotifKernel::kAvx512;
  auto engine = std::make_shared<const MotifCountEngine>(motifs, kernel);
  return [engine]() -> std::unique_ptr<PieceCounter> {
    return std::make_unique<EngineCounter>(engine);
  };
}
