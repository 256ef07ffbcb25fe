#include "common/number_text.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <string>

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// White space of the classic locale, as the stream skips it.
bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// The characters a stream gathers for a double before converting them: an optional sign,
// digits with at most one point, then an exponent mark only after a digit, with its own
// optional sign. What is gathered must convert in full, or the read fails.
std::string_view GatherNumberText(std::string_view text) {
  std::size_t pos = 0;
  if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) ++pos;
  bool seen_digit = false;
  bool seen_point = false;
  for (; pos < text.size(); ++pos) {
    const char c = text[pos];
    if (IsDigit(c)) {
      seen_digit = true;
    } else if (c == '.' && !seen_point) {
      seen_point = true;
    } else {
      break;
    }
  }
  if (seen_digit && pos < text.size() && (text[pos] == 'e' || text[pos] == 'E')) {
    ++pos;
    if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) ++pos;
    while (pos < text.size() && IsDigit(text[pos])) ++pos;
  }
  return text.substr(0, pos);
}

}  // namespace

std::optional<double> ReadLeadingDouble(std::string_view text) {
  std::size_t start = 0;
  while (start < text.size() && IsSpace(text[start])) ++start;
  const std::string gathered(GatherNumberText(text.substr(start)));
  if (gathered.empty()) return std::nullopt;

  // The program never changes the C locale, so strtod reads a point as the decimal mark.
  char* end = nullptr;
  errno = 0;
  const double value = std::strtod(gathered.c_str(), &end);
  if (end != gathered.c_str() + gathered.size()) return std::nullopt;
  if (errno == ERANGE && std::isinf(value)) return std::nullopt;
  return value;
}

double StringToDouble(std::string_view text) {
  return ReadLeadingDouble(text).value_or(std::numeric_limits<double>::quiet_NaN());
}
