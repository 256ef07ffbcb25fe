#include "common/number_text.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <sstream>
#include <string>

namespace {

// What extracting one double from a string stream built on the text gives, or nothing.
std::optional<double> StreamRead(const std::string& text) {
  std::istringstream in(text);
  double value = 0;
  if (!(in >> value)) return std::nullopt;
  return value;
}

TEST(ReadLeadingDouble, AgreesWithStreamExtraction) {
  const char* const cases[] = {
      "15.5",    "\t15.5",  "  -3.5 units", "3.5e2x",   "1e",      "1e+",     "2.E3",
      ".5",      "-.5",     "+7",           "0",        "-0",      "00012",   "1.2.3",
      "1e-400",  "12abc",   " \n 4",        "0x1A",     ".e5",     "1.5E-3",  "9.99e307",
      "123456789012345678901234567890",      "-1e5e5",   "5e+02\r", "1,5"};
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

}  // namespace
