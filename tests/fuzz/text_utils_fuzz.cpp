// The text utilities and the number readers on arbitrary bytes. The first byte gives the
// number of separator bytes that follow it (its value modulo 4), the next byte the start
// index of SplitString (modulo 8); the rest is the line. The number readers are compared
// with the standard library on the whole line and on each of its fields.

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "common/number_text.h"
#include "common/text_utils.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

bool SameBits(double first, double second) {
  return std::bit_cast<std::uint64_t>(first) == std::bit_cast<std::uint64_t>(second);
}

// ReadLeadingDouble against a string stream extracting one double.
void CheckLeadingDouble(std::string_view text) {
  std::istringstream stream{std::string(text)};
  double streamed = 0;
  stream >> streamed;
  const std::optional<double> read = ReadLeadingDouble(text);
  Require(read.has_value() == !stream.fail(), "ReadLeadingDouble fails where the stream fails");
  if (read) Require(SameBits(*read, streamed), "ReadLeadingDouble reads the stream's value");
}

// ReadStrtodDouble against std::strtod on a NUL-terminated copy; strtod's overflow, a
// result of HUGE_VAL with ERANGE, counts as a failure.
void CheckStrtodDouble(std::string_view text) {
  const std::string copy(text);
  char* end = nullptr;
  errno = 0;
  const double expected = std::strtod(copy.c_str(), &end);
  const bool expected_ok = end != copy.c_str() && !(errno == ERANGE && std::isinf(expected));
  double value = 0;
  std::size_t consumed = 0;
  const bool ok = ReadStrtodDouble(text, value, consumed);
  Require(ok == expected_ok, "ReadStrtodDouble fails where strtod fails");
  if (!ok) return;
  Require(consumed == static_cast<std::size_t>(end - copy.c_str()),
          "ReadStrtodDouble consumes what strtod consumes");
  Require(SameBits(value, expected), "ReadStrtodDouble reads strtod's value");
}

// Checks the fields of SplitString and returns them.
std::vector<std::string> CheckSplit(std::string_view line, std::string_view separators,
                                    std::size_t start) {
  const StringList fields = SplitString(line, separators, start);
  Require(fields.count == fields.items.size(), "count is the number of items");
  const std::string_view rest = line.substr(std::min(start, line.size()));
  const auto is_separator = [separators](char c) {
    return separators.find(c) != std::string_view::npos;
  };
  std::string joined;
  for (const std::string& field : fields.items) {
    Require(!field.empty(), "no field is empty");
    for (const char c : field) Require(!is_separator(c), "no field holds a separator");
    joined += field;
  }
  std::string without_separators;
  std::size_t runs = 0;
  for (std::size_t i = 0; i < rest.size(); ++i) {
    if (is_separator(rest[i])) continue;
    without_separators += rest[i];
    if (i == 0 || is_separator(rest[i - 1])) ++runs;
  }
  Require(joined == without_separators, "the fields are the line less its separators");
  Require(fields.count == runs, "one field per run of non-separators");

  // A list reused across lines, holding more and longer strings than needed, gives the
  // same fields.
  StringList reused;
  for (int i = 0; i < 3; ++i) AppendItem(reused) = "left over from an earlier, longer line";
  SplitStringInto("a b c d e f", " ", 0, reused);
  const std::uint32_t count = SplitStringInto(line, separators, start, reused);
  Require(count == fields.count && reused.count == count, "SplitStringInto counts the fields");
  Require(reused.items == fields.items, "SplitStringInto gives SplitString's fields");
  return fields.items;
}

// GetLineUntil against std::getline cut at the first stop character.
void CheckGetLineUntil(std::string_view text, std::string_view stop_set) {
  std::istringstream in{std::string(text)};
  std::istringstream reference{std::string(text)};
  std::string line;
  std::string expected;
  for (;;) {
    const bool got = static_cast<bool>(GetLineUntil(in, line, stop_set));
    const bool expected_got = static_cast<bool>(std::getline(reference, expected));
    Require(got == expected_got, "GetLineUntil reads as many lines as getline");
    if (!got) {
      Require(line.empty(), "at the end the line is empty");
      return;
    }
    expected.resize(std::min(expected.find_first_of(stop_set), expected.size()));
    Require(line == expected, "GetLineUntil gives getline's line cut at a stop character");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  std::string_view separators = "\t";
  std::size_t start = 0;
  if (!bytes.empty()) {
    const std::size_t separator_count = std::min<std::size_t>(data[0] % 4, bytes.size() - 1);
    separators = bytes.substr(1, separator_count);
    bytes.remove_prefix(1 + separator_count);
  }
  if (!bytes.empty()) {
    start = static_cast<unsigned char>(bytes.front()) % 8;
    bytes.remove_prefix(1);
  }
  const std::string_view line = bytes;

  const std::vector<std::string> fields = CheckSplit(line, separators, start);
  if (separators.size() == 1) {
    // The one-separator path and the set path split alike.
    const std::string doubled = std::string(separators) + std::string(separators);
    Require(CheckSplit(line, doubled, start) == fields, "one separator splits as a set of it");
  }
  CheckGetLineUntil(line, separators);

  CheckLeadingDouble(line);
  CheckStrtodDouble(line);
  for (const std::string& field : fields) {
    CheckLeadingDouble(field);
    CheckStrtodDouble(field);
  }
  return 0;
}
