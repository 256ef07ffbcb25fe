#pragma once

#include <cstddef>
#include <optional>
#include <string_view>

// Reads the number at the front of `text` as a string stream extracting one double would:
// leading white space is skipped, the longest prefix of the form sign, digits, point,
// digits, exponent is taken, the rest is ignored. Empty when no number can be read there
// (no digits, an exponent mark without exponent digits, or a value beyond the range of a
// double; a value too small for one reads as zero or a denormal). Allocates nothing.
std::optional<double> ReadLeadingDouble(std::string_view text);

// ReadLeadingDouble, with NaN standing for "no number", so that arithmetic on it shows up
// as "nan" in a table instead of passing for a real 0.
double StringToDouble(std::string_view text);

// Reads the number at the front of `text` as std::strtod reads it from the same characters:
// leading white space is skipped; decimal and hexadecimal ("0x") forms, "inf", "infinity",
// "nan" and "nan(...)" are taken in any letter case. True on success, with `value` set and
// `consumed` the count of characters used, white space included. False, both left as they
// were, when there is no number or its magnitude is beyond the range of a double. `text`
// need not end in a NUL: nothing past its end is read.
bool ReadStrtodDouble(std::string_view text, double& value, std::size_t& consumed);
