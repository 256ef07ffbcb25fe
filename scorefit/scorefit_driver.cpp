#include "scorefit/scorefit_driver.h"

#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>
#include <string_view>
#include <system_error>

#include "common/diagnostics.h"
#include "common/number_text.h"
#include "common/table_utils.h"
#include "common/text_utils.h"

namespace {

constexpr std::string_view kInterceptLabel = "Intercept";

void WriteUsage(std::ostream& out) {
  out << "Program for multiple regression estimation. " << std::endl
      << "Program gets [Coeffs.tab] [Sitecount.tab] [Output file] " << std::endl;
}

void WriteVersion(std::ostream& out) { out << "Scorefit " << MOTIF_WORKFLOW_VERSION << std::endl; }

// A field as it goes into a message: quoted, with a carriage return made visible.
std::string Quoted(std::string_view field) {
  std::string quoted = "\"";
  for (const char c : field) {
    if (c == '\r') {
      quoted += "\\r";
    } else {
      quoted += c;
    }
  }
  return quoted + "\"";
}

// Ordinal words for the few field positions a message names.
std::string FieldOrdinal(std::uint32_t field_index) {
  static constexpr std::string_view kOrdinals[] = {"first", "second", "third", "fourth"};
  if (field_index < 4) return std::string(kOrdinals[field_index]);
  return "field " + std::to_string(field_index + 1);
}

// The coefficient in field `field_index` of a coefficient-table line, which must hold one.
double CoefficientIn(const StringList& fields, std::uint32_t field_index, std::string_view what,
                     const std::string& file_name, std::size_t line_number) {
  const std::optional<double> value = ReadLeadingDouble(fields.items[field_index]);
  if (!value) {
    ExitBadInput(file_name, line_number,
                 std::string(what) + ": " + FieldOrdinal(field_index) + " field " +
                     Quoted(fields.items[field_index]) + " is not a number");
  }
  return *value;
}

// Two names for one file, whether or not it exists yet: the same existing file (by any path
// or link), or paths that resolve to the same place.
bool SameDestination(const std::string& first_name, const std::string& second_name) {
  if (SameFile(first_name, second_name)) return true;
  std::error_code first_error;
  std::error_code second_error;
  const auto first = std::filesystem::weakly_canonical(first_name, first_error);
  const auto second = std::filesystem::weakly_canonical(second_name, second_error);
  return !first_error && !second_error && first == second;
}

// Stops before anything is written when a run would overwrite one of its inputs, or when the
// prediction table would replace the coefficient dump.
void RefuseOverwritingInputs(const std::string& coefficient_name, const std::string& presence_name,
                             const std::string& output_name) {
  ExitIfSameFile(output_name, coefficient_name);
  ExitIfSameFile(output_name, presence_name);
  for (const std::string* input_name : {&coefficient_name, &presence_name}) {
    if (SameFile(kCoefficientDumpName, *input_name)) {
      ExitBadInput(*input_name, std::string("this input is the coefficient dump ") +
                                    kCoefficientDumpName +
                                    " of the working directory, which every run rewrites; "
                                    "rename it or run in another directory");
    }
  }
  if (SameDestination(output_name, kCoefficientDumpName)) {
    ExitBadInput(output_name, std::string("would replace the coefficient dump ") +
                                  kCoefficientDumpName +
                                  " that this run writes; choose another output file");
  }
}

// Opens an input or ends the run with the open-failure report.
void OpenInput(std::ifstream& in, const std::string& file_name) {
  if (!OpenForReading(in, file_name)) ReportOpenFailure(file_name);
}

// The value of a motif cell. Presence tables are nearly all small counts, and a text of at
// most 15 digits and nothing else is an integer that a double holds exactly, so adding it
// up digit by digit gives the very value the general conversion would; anything else goes
// to that conversion.
double CellValue(const std::string& cell) {
  constexpr std::size_t kExactDigits = 15;
  if (cell.empty() || cell.size() > kExactDigits) return StringToDouble(cell);
  std::uint64_t value = 0;
  for (const char c : cell) {
    const unsigned digit = static_cast<unsigned char>(c) - static_cast<unsigned>('0');
    if (digit > 9) return StringToDouble(cell);
    value = value * 10 + digit;
  }
  return static_cast<double>(value);
}

// Writes one data row and its prediction. The fields go out through one buffer so that a
// row costs a few stream calls, not two per field.
void WriteDataRow(const StringList& fields, const std::vector<double>& b, std::string& row_text,
                  std::ostream& out) {
  double prediction = b[0];
  row_text.clear();
  for (std::uint32_t field_index = 0; field_index < fields.count; ++field_index) {
    const std::string& field = fields.items[field_index];
    row_text += field;
    row_text += '\t';
    if (field_index >= 2) prediction = CellValue(field) * b[field_index - 1] + prediction;
  }
  out << row_text;
  // Every NaN is written "nan": the processor's default NaN (from inf - inf) has its sign
  // bit set and would print as "-nan".
  if (std::isnan(prediction)) {
    out << "nan";
  } else {
    out << prediction;
  }
  out << std::endl;
}

}  // namespace

int ReadCoefficientTable(std::istream& in, const std::string& file_name, std::vector<double>& b) {
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
      if (fields.count < 4) {
        ExitBadInput(file_name, line_number,
                     "coefficient line: expected at least 4 tab-separated fields, found " +
                         std::to_string(fields.count));
      }
      b.push_back(CoefficientIn(fields, 3, "coefficient line", file_name, line_number));
    }
    if (fields.items[0] == kInterceptLabel) {
      if (fields.count < 2) {
        ExitBadInput(file_name, line_number,
                     "\"Intercept\" line: expected at least 2 tab-separated fields, found " +
                         std::to_string(fields.count));
      }
      b.push_back(CoefficientIn(fields, 1, "\"Intercept\" line", file_name, line_number));
      intercept_seen = true;
    }
  }
  if (in.bad()) ExitBadInput(file_name, "could not be read to its end");
  if (!intercept_seen) {
    ExitBadInput(file_name,
                 "no \"Intercept\" line: the intercept and the coefficient lines after it are "
                 "missing");
  }
  return 0;
}

int WritePredictionTable(std::istream& in, const std::string& file_name,
                         const std::vector<double>& b, std::ostream& out) {
  if (b.empty()) return 1;
  bool header_written = false;
  std::size_t line_number = 0;
  std::string line;
  std::string row_text;
  StringList fields;
  while (GetLineUntil(in, line, "\n")) {
    ++line_number;
    if (SplitStringInto(line, "\t", 0, fields) == 0) continue;
    if (!header_written) {
      for (std::uint32_t field_index = 0; field_index < fields.count; ++field_index) {
        out << fields.items[field_index] << '\t';
      }
      out << "Predicted" << std::endl;
      header_written = true;
    } else {
      // Field j >= 2 takes b[j - 1]: a row can use at most b.size() + 1 fields.
      if (fields.count > b.size() + 1) {
        ExitBadInput(file_name, line_number,
                     "data row has " + std::to_string(fields.count) +
                         " tab-separated fields, but the " + std::to_string(b.size()) +
                         " coefficients (intercept included) serve at most " +
                         std::to_string(b.size() + 1));
      }
      WriteDataRow(fields, b, row_text, out);
    }
    if (!out) return 2;
  }
  if (in.bad()) ExitBadInput(file_name, "could not be read to its end");
  return 0;
}

int RunScorefit(const std::vector<std::string>& args) {
  if (args.empty() || (args.size() == 1 && (args[0] == "--help" || args[0] == "-h"))) {
    WriteUsage(std::cout);
    return 0;
  }
  if (args.size() == 1 && args[0] == "--version") {
    WriteVersion(std::cout);
    return 0;
  }
  if (args.size() < 3) {
    WriteUsage(std::cerr);
    return 1;
  }
  const std::string& coefficient_name = args[0];
  const std::string& presence_name = args[1];
  const std::string& output_name = args[2];
  RefuseOverwritingInputs(coefficient_name, presence_name, output_name);

  std::cout << "Coeffs fload" << std::endl;
  std::ifstream in;
  OpenInput(in, coefficient_name);
  std::vector<double> b;
  ReadCoefficientTable(in, coefficient_name, b);
  in.close();

  WriteDoubleVector(b, kCoefficientDumpName);

  std::cout << "Sitecount fload and calc" << std::endl;
  OpenInput(in, presence_name);
  std::ofstream out(output_name);
  if (!out) ReportOpenFailure(output_name);
  const int status = WritePredictionTable(in, presence_name, b, out);
  in.close();
  out.close();
  if (status != 0 || !out) ExitWriteFailed(output_name);
  return 0;
}
