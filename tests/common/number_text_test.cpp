#include "common/number_text.h"

#include <gtest/gtest.h>

#include <bit>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace {

// What extracting one double from a string stream built on the text gives, or nothing.
std::optional<double> StreamRead(const std::string& text) {
  std::istringstream in(text);
  double value = 0;
  if (!(in >> value)) return std::nullopt;
  return value;
}

TEST(ReadLeadingDouble, AgreesWithStreamExtraction) {
  const char* const cases[] = {"15.5",
                               "\t15.5",
                               "  -3.5 units",
                               "3.5e2x",
                               "1e",
                               "1e+",
                               "2.E3",
                               ".5",
                               "-.5",
                               "+7",
                               "0",
                               "-0",
                               "00012",
                               "1.2.3",
                               "1e-400",
                               "12abc",
                               " \n 4",
                               "0x1A",
                               ".e5",
                               "1.5E-3",
                               "9.99e307",
                               "123456789012345678901234567890",
                               "-1e5e5",
                               "5e+02\r",
                               "1,5"};
  for (const char* text : cases) {
    SCOPED_TRACE(text);
    const auto expected = StreamRead(text);
    const auto actual = ReadLeadingDouble(text);
    ASSERT_EQ(expected.has_value(), actual.has_value());
    if (expected) {
      EXPECT_EQ(*expected, *actual);
    }
  }
}

TEST(ReadLeadingDouble, NoNumberIsToldApartFromZero) {
  for (const char* text : {"", "\t", "n/a", "-", ".", "-.", "+", "nan", "inf", "1e999", "-1e999"}) {
    SCOPED_TRACE(text);
    EXPECT_FALSE(ReadLeadingDouble(text).has_value());
    EXPECT_TRUE(std::isnan(StringToDouble(text)));
  }
  EXPECT_EQ(ReadLeadingDouble("0"), 0.0);
  EXPECT_EQ(StringToDouble("\t0"), 0.0);
}

std::uint64_t Bits(double value) { return std::bit_cast<std::uint64_t>(value); }

// The text with its control characters shown, for failure messages.
std::string Shown(const std::string& text) {
  std::string shown;
  for (const char c : text) {
    if (c == '\t') {
      shown += "\\t";
    } else if (c == '\r') {
      shown += "\\r";
    } else if (c == '\n') {
      shown += "\\n";
    } else {
      shown += c;
    }
  }
  return shown.size() > 120 ? shown.substr(0, 120) + "...(" + std::to_string(text.size()) + ")"
                            : shown;
}

// The exact decimal text of significand * 2^exponent: hundreds of digits near the ends of
// the range of a double.
std::string ExactDecimal(std::uint64_t significand, int exponent) {
  std::vector<int> digits;  // least significant first
  for (; significand != 0; significand /= 10) digits.push_back(static_cast<int>(significand % 10));
  const int factor = exponent >= 0 ? 2 : 5;  // 2^-k = 5^k / 10^k
  for (int step = 0; step < std::abs(exponent); ++step) {
    int carry = 0;
    for (int& digit : digits) {
      const int product = digit * factor + carry;
      digit = product % 10;
      carry = product / 10;
    }
    if (carry != 0) digits.push_back(carry);
  }
  std::string text;
  for (auto digit = digits.rbegin(); digit != digits.rend(); ++digit) text += char('0' + *digit);
  if (exponent >= 0) return text;
  const auto places = static_cast<std::size_t>(-exponent);
  if (text.size() <= places) text.insert(0, places - text.size() + 1, '0');
  text.insert(text.size() - places, 1, '.');
  return text;
}

// Texts picked for both readers: every form a number can take, its neighbours that are
// not numbers, and the values where rounding, the fast path or the range end.
std::vector<std::string> HandPickedTexts() {
  // clang-format off
  std::vector<std::string> texts = {
      "", " ", "+", "-", ".", "-.", "+.5", "5.", "-0", "+0", "-0.0e7", "0", "1", "3", "12.5",
      "2.52573", "-1.3e-05", "1e", "1e+", "1E-", "1e5", "1E+5x", ".e1", "e5", "1.2.3", "--1",
      "+-1", " \t\n\v\f\r7", "5\r", "12.5\r\n", "inf", "-INF", "Infinity", "infinit", "nan",
      "-nan", "NaN(123)", "nan(0x7ffffffffffff)", "nan(0xfffffffffffff)", "nan(017)",
      "nan(08)", "nan(abc)", "nan()", "nan(1", "nan(_9)", "nan(99999999999999999999999)",
      "0x1A", "-0x1A", "0X1p3", "0x.8", "0x.", "0x", "0xg", "0x1p", "0x1p+", "0x1P-2",
      "0x1.fffffffffffffp1023", "0x1.fffffffffffff8p1023", "0x1p1024", "0x1p-1074",
      "0x1p-1075", "0x1.8p-1075", "0x0p99999999999999999", "0x1p-99999999999999999",
      "0x1p000000000000000000000000000001", "1e000000000000000000000000000001",
      "9007199254740992", "9007199254740993", "9007199254740993.000000000001", "1e22",
      "1e23", "123456789012345e-22", "4.9406564584124654e-324", "2.4703282292062328e-324",
      "2.4703282292062327e-324", "-2e-324", "1e-310", "2.2250738585072011e-308",
      "1.7976931348623157e308", "1.7976931348623158e308", "1.8e308", "-1e309", "1e-400",
      "-1e-400", "0e999999", "1e99999999999999999999", "1e-99999999999999999999",
      std::string(400, '9'), "0." + std::string(400, '0') + "1", std::string(300, '1') + "e-300",
      "." + std::string(340, '0') + "5e20", "-0x." + std::string(300, '0') + "1p10"};
  // clang-format on
  // Halfway between the largest double and 2^1024 (rounds up, beyond the range), just above
  // it, and just below it (rounds down to the largest double).
  texts.push_back(ExactDecimal((std::uint64_t{1} << 54) - 1, 970));
  texts.push_back(ExactDecimal((std::uint64_t{1} << 54) - 1, 970) + ".0000001");
  texts.push_back(ExactDecimal((std::uint64_t{1} << 55) - 3, 969));
  // Half the smallest denormal (ties to zero), a hair above it, and three quarters of it.
  texts.push_back(ExactDecimal(1, -1075));
  texts.push_back(ExactDecimal(1, -1075) + "1");
  texts.push_back(std::string(1, '-').append(ExactDecimal(3, -1076)));
  return texts;
}

// A random text for the differential tests: pieces of numbers and of what may surround
// them, after a well-formed number with an exponent near the ends of the range one time
// in three.
std::string RandomNumberText(std::mt19937& random) {
  static const char* const kPieces[] = {
      " ",  "\t", "\r", "\n", "+", "-",  ".",  ".",   "e",   "E",   "e+",       "e-",  "p",
      "P-", "0x", "0X", "x",  "a", "F",  "_",  "(",   ")",   "inf", "INFINITY", "nan", "NaN(",
      "0",  "00", "1",  "7",  "9", "22", "23", "308", "309", "324", "1074"};
  const auto pick = [&random](std::size_t count) {
    return std::uniform_int_distribution<std::size_t>(0, count - 1)(random);
  };
  std::string text;
  if (pick(3) == 0) {
    const bool hex = pick(3) == 0;
    const std::size_t digit_count = pick(8) == 0 ? 1 + pick(400) : 1 + pick(25);
    std::string digits;
    for (std::size_t k = 0; k < digit_count; ++k) digits += "0123456789abcdef"[pick(hex ? 16 : 10)];
    if (pick(2) != 0) digits.insert(pick(digits.size() + 1), 1, '.');
    const char* const signs[] = {"", "", "-", "+"};
    const int exponent = static_cast<int>(pick(hex ? 2300 : 700)) - (hex ? 1150 : 350);
    text = std::string(signs[pick(4)]) + (hex ? "0x" : "") + digits + (hex ? "p" : "e") +
           std::to_string(exponent);
  }
  const std::size_t piece_count = pick(8);
  for (std::size_t piece = 0; piece < piece_count; ++piece) {
    if (pick(4) == 0) {
      const std::size_t run = 1 + pick(30);
      for (std::size_t k = 0; k < run; ++k) text += "0123456789"[pick(10)];
    } else {
      text += kPieces[pick(std::size(kPieces))];
    }
  }
  return text;
}

// The text in a heap block of exactly its size, so that a read past its end is caught by
// the address sanitizer, and the same text as the front of a longer buffer whose remainder
// would change the number if it were read.
struct ViewsOf {
  explicit ViewsOf(const std::string& text)
      : exact(new char[text.size()]), padded(text + "9e9p9)") {
    text.copy(exact.get(), text.size());
  }
  std::unique_ptr<char[]> exact;
  std::string padded;
};

// Both readers against their references on the hand-picked texts, then on many random ones.
template <typename CheckOne>
void CheckAllTexts(unsigned seed, CheckOne check_one) {
  for (const std::string& text : HandPickedTexts()) check_one(text);
  std::mt19937 random(seed);
  for (int round = 0; round < 60000 && !::testing::Test::HasFailure(); ++round) {
    check_one(RandomNumberText(random));
  }
}

TEST(ReadLeadingDouble, MatchesStreamExtractionBitForBit) {
  CheckAllTexts(20240611, [](const std::string& text) {
    const std::optional<double> expected = StreamRead(text);
    const ViewsOf views(text);
    for (const std::string_view view : {std::string_view(views.exact.get(), text.size()),
                                        std::string_view(views.padded).substr(0, text.size())}) {
      const std::optional<double> actual = ReadLeadingDouble(view);
      if (expected.has_value() != actual.has_value() ||
          (expected && Bits(*expected) != Bits(*actual))) {
        ADD_FAILURE() << "text \"" << Shown(text) << "\": stream "
                      << (expected ? std::to_string(Bits(*expected)) : "fails") << ", reader "
                      << (actual ? std::to_string(Bits(*actual)) : "fails");
      }
      const double as_double = StringToDouble(view);
      EXPECT_EQ(Bits(as_double), Bits(actual.value_or(std::numeric_limits<double>::quiet_NaN())));
    }
  });
}

TEST(ReadStrtodDouble, MatchesStrtodBitForBitWithCount) {
  CheckAllTexts(19700101, [](const std::string& text) {
    char* end = nullptr;
    errno = 0;
    const double expected = std::strtod(text.c_str(), &end);
    const bool expected_ok = end != text.c_str() && !(errno == ERANGE && std::isinf(expected));
    const auto expected_consumed = static_cast<std::size_t>(end - text.c_str());
    const ViewsOf views(text);
    for (const std::string_view view : {std::string_view(views.exact.get(), text.size()),
                                        std::string_view(views.padded).substr(0, text.size())}) {
      double actual = 0.25;
      std::size_t consumed = 99;
      const bool ok = ReadStrtodDouble(view, actual, consumed);
      if (ok != expected_ok ||
          (ok && (Bits(expected) != Bits(actual) || expected_consumed != consumed)) ||
          (!ok && (actual != 0.25 || consumed != 99))) {
        ADD_FAILURE() << "text \"" << Shown(text) << "\": strtod "
                      << (expected_ok ? std::to_string(Bits(expected)) + " after " +
                                            std::to_string(expected_consumed)
                                      : "fails")
                      << ", reader "
                      << (ok ? std::to_string(Bits(actual)) + " after " + std::to_string(consumed)
                             : "fails");
      }
    }
  });
}

}  // namespace
