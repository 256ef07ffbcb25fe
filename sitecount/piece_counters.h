#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "motifs/motif_engine.h"
#include "motifs/motif_set.h"
#include "sitecount/presence_rows.h"

// Counts through `engine`, which must outlive the counter: every motif in one pass.
std::unique_ptr<PieceCounter> MakeEngineCounter(const MotifCountEngine& engine);

// The reference counter: every motif tested at every start position on its own, one
// motif after the other. Slow; kept to measure and check the engine against.
std::unique_ptr<PieceCounter> MakePairwiseCounter(const MotifSet& motifs);

// The counting path of a run. kBest finds each motif whose anchor is selective through the
// anchor index and advances the others residue by residue on the fastest kernel the
// processor has; kScalar, kAvx2 and kAvx512 advance every motif on that kernel; kAnchor
// takes every motif that can be anchored through the anchor index; kPairwise is the
// per-pair reference.
enum class CountingPath { kBest, kScalar, kAvx2, kAvx512, kAnchor, kPairwise };

// The path named by the value of SITECOUNT_KERNEL (null when the variable is unset):
// "scalar", "avx2", "avx512", "anchor" or "pairwise"; any other value, and none, mean kBest.
CountingPath ParseCountingPath(const char* value);

// The motifs that `path` finds through the anchor index, in set order.
std::vector<std::uint32_t> AnchoredMotifs(const MotifSet& motifs, CountingPath path);

// Makes the counters of one run on `path`, one per counting thread. The engines, when the
// path takes them, are built here once and shared by them all (on kBest, the one for pieces
// that hold ambiguity codes only when the first such piece comes); a kernel the processor
// lacks gives the fastest one it has. `motifs` must outlive the factory and its counters.
std::function<std::unique_ptr<PieceCounter>()> MakeCounterFactory(const MotifSet& motifs,
                                                                  CountingPath path);
