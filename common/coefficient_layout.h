#pragma once

#include <cstddef>
#include <string_view>

// The layout of a coefficient table, written by Motiffit and read by Scorefit. Fields are
// separated by tabs and counted from 0. Lines before the first one whose field 0 is the
// intercept label are titles; that line holds the intercept, and every non-empty line after
// it one coefficient, in table column order.
inline constexpr std::string_view kInterceptLabel = "Intercept";
// The field of the intercept line that holds the intercept.
inline constexpr std::size_t kInterceptField = 1;
// The field of a coefficient line that holds the coefficient.
inline constexpr std::size_t kCoefficientField = 3;
