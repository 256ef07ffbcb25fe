#pragma once

#include <ostream>

#include "motiffit/presence_fit.h"

// Writes the coefficient table of a completed fit: title lines with the figures of the
// fit, an empty line, a line of column names, the "Intercept" line, then one line per motif
// column whose fourth field is the coefficient, written with as many digits as bring the
// same double back.
void WriteCoefficientTable(const PresenceFit& table, std::ostream& out);

// Writes the lambda path of a penalised fit chosen by cross-validation: a header line,
// then per lambda its value, the mean squared out-of-fold error, its standard error, the
// motifs kept and 1 on the chosen lambda's line (0 elsewhere).
void WritePathTable(const PresenceFit& table, std::ostream& out);
