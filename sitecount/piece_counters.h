#pragma once

#include <functional>
#include <memory>

#include "motifs/motif_engine.h"
#include "motifs/motif_set.h"
#include "sitecount/presence_rows.h"

// Counts through `engine`, which must outlive the counter: every motif in one pass.
std::unique_ptr<PieceCounter> MakeEngineCounter(const MotifCountEngine& engine);

// The reference counter: every motif tested at every start position on its own, one
// motif after the other. Slow; kept to measure and check the engine against.
std::unique_ptr<PieceCounter> MakePairwiseCounter(const MotifSet& motifs);

// The counting path of a run: the engine with a kernel (kBest takes the fastest one the
// processor has), or the per-pair reference.
enum class CountingPath { kBest, kScalar, kAvx2, kAvx512, kPairwise };

// The path named by the value of SITECOUNT_KERNEL (null when the variable is unset):
// "scalar", "avx2", "avx512" or "pairwise"; any other value, and none, mean kBest.
CountingPath ParseCountingPath(const char* value);

// Makes the counters of one run on `path`, one per counting thread. The engine, when the
// path takes it, is built here once and shared by them all; a kernel the processor lacks
// gives the fastest one it has. `motifs` must outlive the factory.
std::function<std::unique_ptr<PieceCounter>()> MakeCounterFactory(const MotifSet& motifs,
                                                                  CountingPath path);
