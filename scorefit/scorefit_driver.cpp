#include "scorefit/scorefit_driver.h"

#include <cmath>
#include <cstdint>
#include <fstream>
#include <iostream>
#include <optional>
#include <string_view>

#include "common/diagnostics.h"
#include "common/files.h"
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

// The coefficient in field `field_index` of a coefficient-table line; when it holds no
// number, `error` says so.
std::optional<double> CoefficientIn(const StringList& fields, std::uint32_t field_index,
                                    std::string_view what, std::size_t line_number,
                                    std::optional<LineError>& error) {
  const std::optional<double> value = ReadLeadingDouble(fields.items[field_index]);
  if (!value) {
    error = LineError{line_number, std::string(what) + ": " + FieldOrdinal(field_index) +
                                       " field " + Quoted(fields.items[field_index]) +
                                       " is not a number"};
  }
  return value;
}

// A refusal before anything is written: the file that the message names, and the message.
struct Refusal {
  std::string file_name;
  std::string what;
};

// Stops a run that would overwrite one of its inputs, read the coefficient dump as an
// input, or replace the dump with the prediction table.
std::optional<Refusal> OverwriteRefusal(const std::string& coefficient_name,
                                        const std::string& presence_name,
                                        const std::string& output_name) {
  for (const std::string* input_name : {&coefficient_name, &presence_name}) {
    if (auto problem = OverwritesInput(output_name, *input_name)) {
      return Refusal{output_name, *problem};
    }
  }
  for (const std::string* input_name : {&coefficient_name, &presence_name}) {
    if (SameExistingFile(kCoefficientDumpName, *input_name)) {
      return Refusal{*input_name, std::string("this input is the coefficient dump ") +
                                      kCoefficientDumpName +
                                      " of the working directory, which every run rewrites; "
                                      "rename it or run in another directory"};
    }
  }
  if (SameDestination(output_name, kCoefficientDumpName)) {
    return Refusal{output_name, std::string("would replace the coefficient dump ") +
                                    kCoefficientDumpName +
                                    " that this run writes; choose another output file"};
  }
  return std::nullopt;
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

std::optional<LineError> ReadCoefficientTable(std::istream& in, std::vector<double>& b) {
  bool intercept_seen = false;
  std::size_t line_number = 0;
  std::string line;
  StringList fields;
  std::optional<LineError> error;
  while (GetLineUntil(in, line, "\n")) {
    ++line_number;
    if (SplitStringInto(line, "\t", 0, fields) == 0) continue;
    // Once the intercept is known every non-empty line is a coefficient line, whatever its
    // label; this test comes first, so the "Intercept" line itself gives only its intercept.
    if (intercept_seen) {
      if (fields.count < 4) {
        return LineError{line_number,
                         "coefficient line: expected at least 4 tab-separated fields, found " +
                             std::to_string(fields.count)};
      }
      const auto value = CoefficientIn(fields, 3, "coefficient line", line_number, error);
      if (!value) return error;
      b.push_back(*value);
    }
    if (fields.items[0] == kInterceptLabel) {
      if (fields.count < 2) {
        return LineError{line_number,
                         "\"Intercept\" line: expected at least 2 tab-separated fields, found " +
                             std::to_string(fields.count)};
      }
      const auto value = CoefficientIn(fields, 1, "\"Intercept\" line", line_number, error);
      if (!value) return error;
      b.push_back(*value);
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

PredictionOutcome WritePredictionTable(std::istream& in, const std::vector<double>& b,
                                       std::ostream& out) {
  using Status = PredictionOutcome::Status;
  if (b.empty()) return {Status::kNoIntercept};
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
      if (fields.count > b.size() + 1) return {Status::kBadRow, line_number, fields.count};
      WriteDataRow(fields, b, row_text, out);
    }
    if (!out) return {Status::kWriteFailed};
  }
  if (in.bad()) return {Status::kReadFailed};
  return {Status::kDone};
}

std::string TooManyFieldsText(std::size_t field_count, std::size_t coefficient_count) {
  return "data row has " + std::to_string(field_count) + " tab-separated fields, but the " +
         std::to_string(coefficient_count) + " coefficients (intercept included) serve at most " +
         std::to_string(coefficient_count + 1);
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
  if (const auto refusal = OverwriteRefusal(coefficient_name, presence_name, output_name)) {
    PrintBadInput(refusal->file_name, refusal->what);
    return 1;
  }

  std::cout << "Coeffs fload" << std::endl;
  std::ifstream in;
  if (!OpenForReading(in, coefficient_name)) {
    PrintOpenFailure(coefficient_name);
    return 1;
  }
  std::vector<double> b;
  if (const auto error = ReadCoefficientTable(in, b)) {
    PrintBadInput(coefficient_name, *error);
    return 1;
  }
  in.close();

  WriteDoubleVector(b, kCoefficientDumpName);

  std::cout << "Sitecount fload and calc" << std::endl;
  if (!OpenForReading(in, presence_name)) {
    PrintOpenFailure(presence_name);
    return 1;
  }
  std::ofstream out(output_name);
  if (!out) {
    PrintOpenFailure(output_name);
    return 1;
  }
  const PredictionOutcome outcome = WritePredictionTable(in, b, out);
  using Status = PredictionOutcome::Status;
  switch (outcome.status) {
    case Status::kBadRow:
      PrintBadInput(presence_name, outcome.line_number,
                    TooManyFieldsText(outcome.field_count, b.size()));
      return 1;
    case Status::kReadFailed:
      PrintReadFailed(presence_name);
      return 1;
    case Status::kNoIntercept:
    case Status::kWriteFailed:
      PrintWriteFailed(output_name);
      return 1;
    case Status::kDone:
      break;
  }
  out.close();
  if (!out) {
    PrintWriteFailed(output_name);
    return 1;
  }
  return 0;
}
