#include "common/number_text.h"

#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <cstdint>
#include <limits>
#include <system_error>

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// The value of a hexadecimal digit, or -1.
int HexDigitValue(char c) {
  if (IsDigit(c)) return c - '0';
  const char lower = static_cast<char>(c | 0x20);
  if (lower >= 'a' && lower <= 'f') return lower - 'a' + 10;
  return -1;
}

// White space of the classic locale (blank, \t \n \v \f \r), as both the stream and strtod
// skip it.
bool IsSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

std::size_t SkipSpaces(std::string_view text) {
  std::size_t pos = 0;
  while (pos < text.size() && IsSpace(text[pos])) ++pos;
  return pos;
}

// `text` holds `word` (lower-case letters) at `pos`, in any letter case.
bool HasWordAt(std::string_view text, std::size_t pos, std::string_view word) {
  if (text.size() - pos < word.size()) return false;
  for (std::size_t i = 0; i < word.size(); ++i) {
    if ((text[pos + i] | 0x20) != word[i]) return false;
  }
  return true;
}

// The powers of ten that a double holds exactly.
constexpr std::array<double, 23> kExactPowersOfTen = {
    1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
    1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
constexpr std::int64_t kMaxExactPowerOfTen = 22;
constexpr std::uint64_t kMaxExactInteger = std::uint64_t{1} << 53;
// 10^19 - 1 still fits in 64 bits.
constexpr int kSignificandDigits = 19;
// Exponents are clamped here, far beyond any double and far within 64 bits.
constexpr std::int64_t kExponentCap = 1'000'000'000;

// One pass over a decimal number: where it ends, and its first significant digits as an
// integer, so that the common short number needs no second look.
struct DecimalScan {
  const char* end = nullptr;            // past the mantissa and a complete exponent
  bool has_digits = false;              // the mantissa holds at least one digit
  bool dangling_exponent_mark = false;  // an 'e' or 'E' follows without exponent digits
  bool negative = false;
  std::uint64_t significand = 0;  // the first kSignificandDigits significant digits
  int significant_digits = 0;     // how many digits `significand` holds
  std::int64_t scale = 0;         // the number is about significand * 10^scale
};

// Adds one digit to the significand while it has room; says whether it had.
bool TakeDigit(DecimalScan& scan, char c) {
  if (scan.significant_digits == kSignificandDigits) return false;
  scan.significand = scan.significand * 10 + static_cast<unsigned>(c - '0');
  ++scan.significant_digits;
  return true;
}

// Scans sign, digits with at most one point, then 'e' or 'E', a sign and digits, from `pos`
// up to `last`. An exponent mark without digits after it is not part of the number.
inline DecimalScan ScanDecimal(const char* pos, const char* const last) {
  DecimalScan scan;
  if (pos != last && (*pos == '+' || *pos == '-')) {
    scan.negative = *pos == '-';
    ++pos;
  }
  const char* const integer_start = pos;
  // Leading zeros add nothing to the significand.
  while (pos != last && *pos == '0') ++pos;
  for (; pos != last && IsDigit(*pos); ++pos) {
    if (!TakeDigit(scan, *pos)) ++scan.scale;
  }
  scan.has_digits = pos != integer_start;
  if (pos != last && *pos == '.') {
    ++pos;
    const char* const fraction_start = pos;
    if (scan.significant_digits == 0) {
      for (; pos != last && *pos == '0'; ++pos) --scan.scale;
    }
    for (; pos != last && IsDigit(*pos); ++pos) {
      if (TakeDigit(scan, *pos)) --scan.scale;
    }
    scan.has_digits = scan.has_digits || pos != fraction_start;
  }
  scan.end = pos;
  if (!scan.has_digits || pos == last || (*pos != 'e' && *pos != 'E')) return scan;
  ++pos;
  bool negative_exponent = false;
  if (pos != last && (*pos == '+' || *pos == '-')) {
    negative_exponent = *pos == '-';
    ++pos;
  }
  if (pos == last || !IsDigit(*pos)) {
    scan.dangling_exponent_mark = true;
    return scan;
  }
  std::int64_t exponent = 0;
  for (; pos != last && IsDigit(*pos); ++pos) {
    exponent = std::min(exponent * 10 + (*pos - '0'), kExponentCap);
  }
  scan.scale += negative_exponent ? -exponent : exponent;
  scan.end = pos;
  return scan;
}

// The value of a scanned decimal number through from_chars, which rounds correctly like
// strtod: for the numbers that the exact short form below cannot take.
bool FromCharsValue(const char* first, const DecimalScan& scan, double& value) {
  // from_chars refuses a plus sign.
  if (*first == '+') ++first;
  double converted = 0;
  const auto [stop, error] = std::from_chars(first, scan.end, converted);
  if (stop != scan.end) return false;
  if (error == std::errc::result_out_of_range) {
    // Beyond the range on one side or the other: the leading digit's place tells which.
    if (scan.scale + scan.significant_digits > 0) return false;
    converted = scan.negative ? -0.0 : 0.0;
  } else if (error != std::errc()) {
    return false;
  }
  value = converted;
  return true;
}

// The value of the scanned decimal number that starts at `first` (at its sign, if any).
// False when it is too large for a double; one too small gives a zero of its sign, as both
// the stream and strtod give.
inline bool DecimalValue(const char* first, const DecimalScan& scan, double& value) {
  if (scan.significand == 0) {
    value = scan.negative ? -0.0 : 0.0;
    return true;
  }
  // An integer of at most 53 bits and a power of ten up to 10^22 are both exact doubles, so
  // one multiplication or division rounds once: the correctly rounded result. A number with
  // more digits than the significand holds never gets here: its significand is then at
  // least 10^18.
  if (scan.significand <= kMaxExactInteger && scan.scale >= -kMaxExactPowerOfTen &&
      scan.scale <= kMaxExactPowerOfTen) {
    double magnitude = static_cast<double>(scan.significand);
    if (scan.scale < 0) {
      magnitude /= kExactPowersOfTen[static_cast<std::size_t>(-scan.scale)];
    } else {
      magnitude *= kExactPowersOfTen[static_cast<std::size_t>(scan.scale)];
    }
    value = scan.negative ? -magnitude : magnitude;
    return true;
  }
  return FromCharsValue(first, scan, value);
}

// A hexadecimal number, "0x" and sign left out: where it ends and roughly where its leading
// non-zero digit stands, as a power of two.
struct HexScan {
  std::size_t end = 0;
  std::int64_t binary_magnitude = 0;
};

// Scans hexadecimal digits with at most one point, then 'p' or 'P', a sign and decimal
// digits, from `pos`. A 'p' without digits after it is not part of the number.
HexScan ScanHex(std::string_view text, std::size_t pos) {
  HexScan scan;
  bool after_point = false;
  bool seen_non_zero = false;
  for (; pos < text.size(); ++pos) {
    const int digit = HexDigitValue(text[pos]);
    if (digit >= 0) {
      seen_non_zero = seen_non_zero || digit != 0;
      if (!after_point && seen_non_zero) scan.binary_magnitude += 4;
      if (after_point && !seen_non_zero) scan.binary_magnitude -= 4;
    } else if (text[pos] == '.' && !after_point) {
      after_point = true;
    } else {
      break;
    }
  }
  scan.end = pos;
  if (pos == text.size() || (text[pos] | 0x20) != 'p') return scan;
  ++pos;
  bool negative_exponent = false;
  if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) {
    negative_exponent = text[pos] == '-';
    ++pos;
  }
  if (pos == text.size() || !IsDigit(text[pos])) return scan;
  std::int64_t exponent = 0;
  for (; pos < text.size() && IsDigit(text[pos]); ++pos) {
    exponent = std::min(exponent * 10 + (text[pos] - '0'), kExponentCap);
  }
  scan.binary_magnitude += negative_exponent ? -exponent : exponent;
  scan.end = pos;
  return scan;
}

// "0x" or "0X" at `pos`, followed by a hexadecimal digit, or by a point and one.
bool HexNumberAt(std::string_view text, std::size_t pos) {
  if (text.size() - pos < 3 || text[pos] != '0' || (text[pos + 1] | 0x20) != 'x') return false;
  if (HexDigitValue(text[pos + 2]) >= 0) return true;
  return text[pos + 2] == '.' && pos + 3 < text.size() && HexDigitValue(text[pos + 3]) >= 0;
}

bool IsNanChar(char c) {
  return IsDigit(c) || ((c | 0x20) >= 'a' && (c | 0x20) <= 'z') || c == '_';
}

// The quiet NaN that "nan(chars)" stands for: when the chars form one unsigned number, read
// as C does with base 0 (0x hexadecimal, leading 0 octal, else decimal; too large gives the
// largest), its low 51 bits become the NaN's payload.
double NanWithPayload(std::string_view chars) {
  constexpr std::uint64_t kQuietNan = 0x7ff8'0000'0000'0000;
  constexpr std::uint64_t kPayloadMask = 0x0007'ffff'ffff'ffff;
  std::size_t pos = 0;
  unsigned base = 10;
  if (chars.size() > 2 && chars[0] == '0' && (chars[1] | 0x20) == 'x' &&
      HexDigitValue(chars[2]) >= 0) {
    base = 16;
    pos = 2;
  } else if (!chars.empty() && chars[0] == '0') {
    base = 8;
  }
  std::uint64_t number = 0;
  bool too_large = false;
  for (; pos < chars.size(); ++pos) {
    const int digit = HexDigitValue(chars[pos]);
    if (digit < 0 || static_cast<unsigned>(digit) >= base) break;
    if (number >
        (std::numeric_limits<std::uint64_t>::max() - static_cast<unsigned>(digit)) / base) {
      too_large = true;
    } else {
      number = number * base + static_cast<unsigned>(digit);
    }
  }
  if (pos != chars.size()) return std::bit_cast<double>(kQuietNan);
  if (too_large) number = std::numeric_limits<std::uint64_t>::max();
  return std::bit_cast<double>(kQuietNan | (number & kPayloadMask));
}

}  // namespace

std::optional<double> ReadLeadingDouble(std::string_view text) {
  const char* const first = text.data() + SkipSpaces(text);
  const DecimalScan scan = ScanDecimal(first, text.data() + text.size());
  // The stream gathers an exponent mark even when no digit follows it, and then fails
  // because the gathered text does not convert in full.
  if (!scan.has_digits || scan.dangling_exponent_mark) return std::nullopt;
  double value = 0;
  if (!DecimalValue(first, scan, value)) return std::nullopt;
  return value;
}

double StringToDouble(std::string_view text) {
  return ReadLeadingDouble(text).value_or(std::numeric_limits<double>::quiet_NaN());
}

bool ReadStrtodDouble(std::string_view text, double& value, std::size_t& consumed) {
  const std::size_t start = SkipSpaces(text);
  std::size_t pos = start;
  bool negative = false;
  if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) {
    negative = text[pos] == '-';
    ++pos;
  }

  if (HasWordAt(text, pos, "inf")) {
    const double infinity = std::numeric_limits<double>::infinity();
    value = negative ? -infinity : infinity;
    consumed = pos + (HasWordAt(text, pos, "infinity") ? 8 : 3);
    return true;
  }

  if (HasWordAt(text, pos, "nan")) {
    pos += 3;
    double nan = std::numeric_limits<double>::quiet_NaN();
    if (pos < text.size() && text[pos] == '(') {
      std::size_t close = pos + 1;
      while (close < text.size() && IsNanChar(text[close])) ++close;
      if (close < text.size() && text[close] == ')') {
        nan = NanWithPayload(text.substr(pos + 1, close - pos - 1));
        pos = close + 1;
      }
    }
    value = negative ? -nan : nan;
    consumed = pos;
    return true;
  }

  if (HexNumberAt(text, pos)) {
    const std::size_t digits = pos + 2;
    const HexScan scan = ScanHex(text, digits);
    double magnitude = 0;
    const char* const last = text.data() + scan.end;
    const auto [stop, error] =
        std::from_chars(text.data() + digits, last, magnitude, std::chars_format::hex);
    if (stop != last) return false;
    if (error == std::errc::result_out_of_range) {
      if (scan.binary_magnitude > 0) return false;
      magnitude = 0;
    } else if (error != std::errc()) {
      return false;
    }
    value = negative ? -magnitude : magnitude;
    consumed = scan.end;
    return true;
  }

  // "0x" without a hexadecimal digit after it is read as the number 0, as strtod reads it.
  const DecimalScan scan = ScanDecimal(text.data() + start, text.data() + text.size());
  if (!scan.has_digits) return false;
  double decimal = 0;
  if (!DecimalValue(text.data() + start, scan, decimal)) return false;
  value = decimal;
  consumed = static_cast<std::size_t>(scan.end - text.data());
  return true;
}
