#pragma once

#include <istream>
#include <optional>
#include <vector>

#include "common/line_error.h"

// Reads a coefficient table and appends its coefficients to `b`: the number in the second
// field of the first "Intercept" line, then the fourth field of every later non-empty line.
// Lines before the "Intercept" line are ignored. Empty when the table was read in full;
// otherwise what stopped it: a line with too few fields or a coefficient field that holds
// no number (with its line), no "Intercept" line or a failed read (line 0).
[[nodiscard]] std::optional<LineError> ReadCoefficientTable(std::istream& in,
                                                            std::vector<double>& b);
