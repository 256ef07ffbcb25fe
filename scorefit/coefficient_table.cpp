#include "scorefit/coefficient_table.h"

#include <cstdint>
#include <string>
#include <string_view>

#include "common/coefficient_layout.h"
#include "common/diagnostics.h"
#include "common/number_text.h"
#include "common/table_utils.h"
#include "common/text_utils.h"

namespace {

// A field as it goes into a message: quoted, every byte that is not printable escaped.
std::string Quoted(std::string_view field) {
  std::string quoted(1, '"');
  quoted += Printable(field);
  quoted += '"';
  return quoted;
}

// Ordinal words for the few field positions a message names.
std::string FieldOrdinal(std::size_t field_index) {
  static constexpr std::string_view kOrdinals[] = {"first", "second", "third", "fourth"};
  if (field_index < 4) return std::string(kOrdinals[field_index]);
  return "field " + std::to_string(field_index + 1);
}

// Appends to `b` the number in field `field_index` of a coefficient-table line of the kind
// `what`; what is wrong when the line has too few fields or that field holds no number.
std::optional<LineError> TakeCoefficient(const StringList& fields, std::size_t field_index,
                                         std::string_view what, std::size_t line_number,
                                         std::vector<double>& b) {
  if (fields.count <= field_index) {
    return LineError{line_number,
                     std::string(what) + ": expected at least " + std::to_string(field_index + 1) +
                         " tab-separated fields, found " + std::to_string(fields.count)};
  }
  const std::optional<double> value = ReadLeadingDouble(fields.items[field_index]);
  if (!value) {
    return LineError{line_number, std::string(what) + ": " + FieldOrdinal(field_index) + " field " +
                                      Quoted(fields.items[field_index]) + " is not a number"};
  }
  b.push_back(*value);
  return std::nullopt;
}

}  // namespace

std::optional<LineError> ReadCoefficientTable(std::istream& in, std::vector<double>& b) {
  bool intercept_seen = false;
  std::size_t line_number = 0;
  std::string line;
  StringList fields;
  while (GetLineUntil(in, line, "\n")) {
    ++line_number;
    if (SplitStringInto(line, "\t", 0, fields) == 0) continue;
    // Once the intercept is known every non-empty line is a coefficient line, whatever its
    // label; this test comes first, so the "Intercept" line itself gives only its intercept.
    if (intercept_seen) {
      if (auto error =
              TakeCoefficient(fields, kCoefficientField, "coefficient line", line_number, b)) {
        return error;
      }
    }
    if (fields.items[0] == kInterceptLabel) {
      if (auto error =
              TakeCoefficient(fields, kInterceptField, "\"Intercept\" line", line_number, b)) {
        return error;
      }
      intercept_seen = true;
    }
  }
  if (in.bad()) return LineError{0, "could not be read to its end"};
  if (!intercept_seen) {
    return LineError{0,
                     "no \"Intercept\" line: the intercept and the coefficient lines after it "
                     "are missing"};
  }
  return std::nullopt;
}
