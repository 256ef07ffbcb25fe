#pragma once

#include <memory>

#include "motifs/motif_set.h"
#include "sitecount/presence_rows.h"

// The reference counter: every motif tested at every start position on its own, one
// motif after the other. Slow; kept to measure and check the engine against.
std::unique_ptr<PieceCounter> MakePairwiseCounter(const MotifSet& motifs);
