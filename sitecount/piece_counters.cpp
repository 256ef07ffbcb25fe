#include "sitecount/piece_counters.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <mutex>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#include "motifs/anchor_engine.h"
#include "motifs/word_table_engine.h"

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

// The motifs shared out between three engines: those whose anchor is selective are found
// through it, those of up to 21 positions that match too often for an anchor are looked up
// in the word tables, and the others are advanced residue by residue. A piece holding an
// ambiguity code goes whole to an engine of every motif, which applies the exact match
// rule; most inputs hold none, so that engine is only built for the first piece that needs
// it.
class SharedEngines {
 public:
  SharedEngines(const MotifSet& motifs, const MotifShares& shares, MotifKernel kernel)
      : motifs_(motifs),
        kernel_(kernel),
        anchor_(motifs.motifs, shares.anchored),
        table_(motifs.motifs, shares.tabled, kernel != MotifKernel::kScalar) {
    if (!shares.rest.empty()) rest_.emplace(motifs, shares.rest, kernel);
  }

  const AnchorCountEngine& Anchor() const { return anchor_; }
  const WordTableEngine& Table() const { return table_; }
  // The motifs advanced residue by residue; null when there are none.
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
  WordTableEngine table_;
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
    if (AnchorCountEngine::AnyNeedsExactPath(codes)) {
      engines.All().Count(codes, start_limit, counts, scratch_);
      return;
    }
    if (!engines.Anchor().Empty()) {
      engines.Anchor().Count(codes, start_limit, counts, anchor_scratch_);
    }
    engines.Table().Count(codes, start_limit, counts, table_scratch_);
    if (const MotifCountEngine* rest = engines.Rest()) {
      rest->Count(codes, start_limit, counts, scratch_);
    }
  }

 private:
  std::shared_ptr<const SharedEngines> engines_;
  MotifCountScratch scratch_;
  AnchorCountEngine::Scratch anchor_scratch_;
  WordTableEngine::Scratch table_scratch_;
};

// The cost model that shares the motifs out, per residue, in units of one segment of one
// group of the word tables (a row to look up per strand). Measured with one thread on the
// benchmark peaks, 500 restriction sites and 2,000 motifs: a segment cost 0.9 ns a residue
// whatever the group's motifs; the anchor's own scan about three segments; and each
// candidate it finds about 15: its lookups, fetched ahead, and a check without a branch.
// Any cost from 15 to 30 gives the same split of the 2,000 motifs (1,488 anchored); 10,
// which anchors 1,744, and 40, which anchors 1,235, took 1.19 and 1.06 times as long.
constexpr double kAnchorScanCost = 3;
constexpr double kAnchorCandidateCost = 15;
// A motif the tables cannot take (over 21 positions) goes to the anchor when its anchor
// matches two windows in 4,096 or fewer (six fixed bases or more, on either strand), else
// it is advanced residue by residue.
constexpr double kMostAnchorCandidates = 2.0 / 4096;

// What the word tables cost for motifs of these lengths: groups of 256 filled longest
// first, each costing the segments of its longest motif.
double TableCost(const std::vector<std::size_t>& motifs_of_length) {
  double cost = 0;
  std::size_t room = 0;  // left in the group being filled
  for (std::size_t length = motifs_of_length.size(); length-- > 0;) {
    std::size_t count = motifs_of_length[length];
    while (count > 0) {
      if (room == 0) {
        cost += static_cast<double>(WordTableEngine::Segments(length));
        room = WordTableEngine::kMotifsPerGroup;
      }
      const std::size_t taken = std::min(count, room);
      count -= taken;
      room -= taken;
    }
  }
  return cost;
}

// Shares out the motifs of the fastest path. The tables take every motif they can, and the
// anchor those that it finds for less: the most selective for their length first, as long
// as the whole costs less by the model. A motif that leaves the tables gains only when it
// empties a group or shortens one, so the split is chosen for the whole set.
MotifShares ShareBest(const MotifSet& motifs) {
  MotifShares shares;
  struct Candidate {
    std::uint32_t index;
    double rate;
    std::size_t length;
  };
  std::vector<Candidate> candidates;
  std::vector<std::size_t> motifs_of_length;
  for (std::uint32_t index = 0; index < motifs.motifs.size(); ++index) {
    const IUPAC_Motif& motif = motifs.motifs[index];
    const double rate = AnchorCountEngine::AnchorRate(motif);
    if (WordTableEngine::Takes(motif)) {
      candidates.push_back({index, rate, motif.codes.size()});
      if (motifs_of_length.size() <= motif.codes.size()) {
        motifs_of_length.resize(motif.codes.size() + 1, 0);
      }
      ++motifs_of_length[motif.codes.size()];
    } else if (rate <= kMostAnchorCandidates) {
      shares.anchored.push_back(index);
    } else {
      shares.rest.push_back(index);
    }
  }
  std::stable_sort(candidates.begin(), candidates.end(),
                   [](const Candidate& a, const Candidate& b) {
                     return a.rate / static_cast<double>(WordTableEngine::Segments(a.length)) <
                            b.rate / static_cast<double>(WordTableEngine::Segments(b.length));
                   });
  const double scan_cost = shares.anchored.empty() ? kAnchorScanCost : 0;
  double best_cost = TableCost(motifs_of_length);
  std::size_t best_count = 0;
  double candidates_found = 0;
  for (std::size_t count = 0; count < candidates.size(); ++count) {
    const Candidate& candidate = candidates[count];
    if (!std::isfinite(candidate.rate)) break;
    --motifs_of_length[candidate.length];
    candidates_found += candidate.rate;
    const double cost =
        TableCost(motifs_of_length) + scan_cost + kAnchorCandidateCost * candidates_found;
    if (cost < best_cost) {
      best_cost = cost;
      best_count = count + 1;
    }
  }
  for (std::size_t count = 0; count < candidates.size(); ++count) {
    (count < best_count ? shares.anchored : shares.tabled).push_back(candidates[count].index);
  }
  std::sort(shares.anchored.begin(), shares.anchored.end());
  std::sort(shares.tabled.begin(), shares.tabled.end());
  return shares;
}

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
  if (name == "table") return CountingPath::kTable;
  if (name == "pairwise") return CountingPath::kPairwise;
  return CountingPath::kBest;
}

MotifShares ShareMotifs(const MotifSet& motifs, CountingPath path) {
  if (path == CountingPath::kBest) return ShareBest(motifs);
  MotifShares shares;
  for (std::uint32_t index = 0; index < motifs.motifs.size(); ++index) {
    const IUPAC_Motif& motif = motifs.motifs[index];
    if (path == CountingPath::kAnchor && std::isfinite(AnchorCountEngine::AnchorRate(motif))) {
      shares.anchored.push_back(index);
    } else if (path == CountingPath::kTable && WordTableEngine::Takes(motif)) {
      shares.tabled.push_back(index);
    } else {
      shares.rest.push_back(index);
    }
  }
  return shares;
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
  const MotifShares shares = ShareMotifs(motifs, path);
  if (!shares.anchored.empty() || !shares.tabled.empty()) {
    auto engines = std::make_shared<const SharedEngines>(motifs, shares, kernel);
    return [engines]() -> std::unique_ptr<PieceCounter> {
      return std::make_unique<SharedCounter>(engines);
    };
  }
  auto engine = std::make_shared<const MotifCountEngine>(motifs, kernel);
  return [engine]() -> std::unique_ptr<PieceCounter> {
    return std::make_unique<EngineCounter>(engine);
  };
}
