#pragma once

#include <optional>
#include <string_view>

// Reads the number at the front of `text` as a string stream extracting one double would:
// leading white space is skipped, the longest prefix of the form sign, digits, point,
// digits, exponent is taken, the rest is ignored. Empty when no number can be read there
// (no digits, or a value beyond the range of a double).
std::optional<double> ReadLeadingDouble(std::string_view text);

// ReadLeadingDouble, with NaN standing for "no number", so that arithmetic on it shows up
// as "nan" in a table instead of passing for a real 0.
double StringToDouble(std::string_view text);
