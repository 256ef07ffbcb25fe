#pragma once

#include <memory>

#include "motifs/motif_engine.h"
#include "motifs/motif_set.h"
#include "sitecount/presence_rows.h"

// Counts through `engine`, which must outlive the counter: every motif in one pass.
std::unique_ptr<PieceCounter> MakeEngineCounter(const MotifCountEngine& engine);

// The reference counter: every motif tested at every start position on its own, one
// motif after the other. Slow; kept to measure and check the engine against.
std::unique_ptr<PieceCounter> MakePairwiseCounter(const MotifSet& motifs);
