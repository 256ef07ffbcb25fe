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
// anchor index, looks the others of up to 21 positions up in the word tables, and advances
// the rest residue by residue on the fastest kernel the processor has; kScalar, kAvx2 and
// kAvx512 advance every motif on that kernel; kAnchor takes every motif that can be
// anchored through the anchor index, and kTable every one the word tables take through
// them; kPairwise is the per-pair reference.
enum class CountingPath { kBest, kScalar, kAvx2, kAvx512, kAnchor, kTable, kPairwise };

// The path named by the value of SITECOUNT_KERNEL (null when the variable is unset):
// "scalar", "avx2", "avx512", "anchor", "table" or "pairwise"; any other value, and none,
// mean kBest.
CountingPath ParseCountingPath(const char* value);

// Which engine counts each motif on a path, by index in set order.
struct MotifShares {
  std::vector<std::uint32_t> anchored;  // the anchor index
  std::vector<std::uint32_t> tabled;    // the word tables
  std::vector<std::uint32_t> rest;      // the engine that advances every motif it holds
};
MotifShares ShareMotifs(const MotifSet& motifs, CountingPath path);

// Makes the counters of one run on `path`, one per counting thread. The engines, when the
// path takes them, are built here once and shared by them all (on kBest, the one for pieces
// that hold ambiguity codes only when the first such piece comes); a kernel the processor
// lacks gives the fastest one it has. `motifs` must outlive the factory and its counters.
std::function<std::unique_ptr<PieceCounter>()> MakeCounterFactory(const MotifSet& motifs,
                                                                  CountingPath path);
