#include "sitecount/piece_counters.h"

#include <algorithm>
#include <limits>
#include <mutex>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#include "motifs/anchor_engine.h"

namespace {

class PairwiseCounter : public PieceCounter {
 public:
  explicit PairwiseCounter(const MotifSet& motifs) : motifs_(motifs) {}
  void Count(std::span<const std::uint8_t> codes, std::size_t start_limit,
             std::span<std::uint64_t> counts) override {
    codes_.assign(codes.begin(), codes.end());
    for (std::size_t index = 0; index < motifs_.motifs.size(); ++index) {
      IUPAC_Motif& motif = motifs_.motifs[index];
      const std::size_t length = motif.codes.size();
      if (length == 0) continue;
      // The starts below start_limit are those of the windows that end before this point.
      const std::size_t end = std::min(codes_.size(), start_limit + length - 1);
      counts[index] += motif.CountOccurrences(std::span(codes_).first(end), MOTORIENT_ANY);
    }
  }

 private:
  MotifSet motifs_;  // a copy per thread: a search writes the motif's match state
  std::vector<NucleotideCode> codes_;
};

class EngineCounter : public PieceCounter {
 public:
  explicit EngineCounter(const MotifCountEngine& engine) : engine_(engine) {}
  // Keeps the engine alive as long as the counter.
  explicit EngineCounter(std::shared_ptr<const MotifCountEngine> engine)
      : engine_(*engine), owner_(std::move(engine)) {}
  void Count(std::span<const std::uint8_t> codes, std::size_t start_limit,
             std::span<std::uint64_t> counts) override {
    engine_.Count(codes, start_limit, counts, scratch_);
  }

 private:
  const MotifCountEngine& engine_;
  std::shared_ptr<const MotifCountEngine> owner_;  // null when the caller owns the engine
  MotifCountScratch scratch_;                      // this thread's own
};

// The motifs shared out between the two engines: those whose anchor is selective are
// found through it, the others advanced residue by residue. A piece holding an ambiguity
// code goes whole to an engine of every motif, which applies the exact match rule; most
// inputs hold none, so that engine is only built for the first piece that needs it.
class SharedEngines {
 public:
  SharedEngines(const MotifSet& motifs, const std::vector<std::uint32_t>& anchored,
                MotifKernel kernel)
      : motifs_(motifs), kernel_(kernel), anchor_(motifs.motifs, anchored) {
    std::vector<bool> is_anchored(motifs.motifs.size(), false);
    for (const std::uint32_t index : anchored) is_anchored[index] = true;
    std::vector<std::uint32_t> rest;
    for (std::uint32_t index = 0; index < motifs.motifs.size(); ++index) {
      if (!is_anchored[index]) rest.push_back(index);
    }
    if (!rest.empty()) rest_.emplace(motifs, rest, kernel);
  }

  const AnchorCountEngine& Anchor() const { return anchor_; }
  // The motifs that are not anchored; null when every motif is.
  const MotifCountEngine* Rest() const { return rest_ ? &*rest_ : nullptr; }
  // Every motif, built by the first call; safe from several threads at once.
  const MotifCountEngine& All() const {
    std::call_once(all_built_, [this] { all_.emplace(motifs_, kernel_); });
    return *all_;
  }

 private:
  const MotifSet& motifs_;
  const MotifKernel kernel_;
  AnchorCountEngine anchor_;
  std::optional<MotifCountEngine> rest_;
  mutable std::once_flag all_built_;
  mutable std::optional<MotifCountEngine> all_;
};

class SharedCounter : public PieceCounter {
 public:
  explicit SharedCounter(std::shared_ptr<const SharedEngines> engines)
      : engines_(std::move(engines)) {}
  void Count(std::span<const std::uint8_t> codes, std::size_t start_limit,
             std::span<std::uint64_t> counts) override {
    const SharedEngines& engines = *engines_;
    if (std::any_of(codes.begin(), codes.end(), AnchorCountEngine::NeedsExactPath)) {
      engines.All().Count(codes, start_limit, counts, scratch_);
      return;
    }
    engines.Anchor().Count(codes, start_limit, counts);
    if (const MotifCountEngine* rest = engines.Rest()) {
      rest->Count(codes, start_limit, counts, scratch_);
    }
  }

 private:
  std::shared_ptr<const SharedEngines> engines_;
  MotifCountScratch scratch_;
};

// A motif goes to the anchor when checking its candidates costs less than advancing it at
// every residue. Measured on the 500 restriction sites and on 2,000 motifs: the shift-and
// engine advances a motif for a small share of a nanosecond a residue, while a candidate
// costs a lookup outside the first-level cache and a check; only anchors that match two
// windows in 4,096 or fewer (six fixed bases or more, on either strand) gain. Side by side
// on the 500 sites, 1 in 4,096 took 1.16 times as long as 2; 4 and 8 were within the noise
// of 2 (0.93 and 1.02), and the smallest of those keeps the fewest candidates per lookup.
constexpr double kMostAnchorCandidates = 2.0 / 4096;

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
  if (name == "anchor") return CountingPath::kAnchor;
  if (name == "pairwise") return CountingPath::kPairwise;
  return CountingPath::kBest;
}

std::vector<std::uint32_t> AnchoredMotifs(const MotifSet& motifs, CountingPath path) {
  std::vector<std::uint32_t> anchored;
  if (path != CountingPath::kBest && path != CountingPath::kAnchor) return anchored;
  const double most =
      path == CountingPath::kAnchor ? std::numeric_limits<double>::max() : kMostAnchorCandidates;
  for (std::uint32_t index = 0; index < motifs.motifs.size(); ++index) {
    if (AnchorCountEngine::AnchorRate(motifs.motifs[index]) <= most) anchored.push_back(index);
  }
  return anchored;
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
  const std::vector<std::uint32_t> anchored = AnchoredMotifs(motifs, path);
  if (!anchored.empty()) {
    auto engines = std::make_shared<const SharedEngines>(motifs, anchored, kernel);
    return [engines]() -> std::unique_ptr<PieceCounter> {
      return std::make_unique<SharedCounter>(engines);
    };
  }
  auto engine = std::make_shared<const MotifCountEngine>(motifs, kernel);
  return [engine]() -> std::unique_ptr<PieceCounter> {
    return std::make_unique<EngineCounter>(engine);
  };
}
