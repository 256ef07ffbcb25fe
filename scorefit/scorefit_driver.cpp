#include "scorefit/scorefit_driver.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <new>
#include <optional>
#include <string_view>
#include <thread>

#include "common/background_writer.h"
#include "common/diagnostics.h"
#include "common/files.h"
#include "common/input_source.h"
#include "common/line_reader.h"
#include "common/number_text.h"
#include "common/output_file.h"
#include "common/table_utils.h"
#include "common/text_utils.h"

namespace {

constexpr std::string_view kInterceptLabel = "Intercept";

void WriteUsage(std::ostream& out) {
  out << "Program for multiple regression estimation. " << std::endl
      << "Program gets [Coeffs.tab] [Sitecount.tab] [Output file] " << std::endl;
}

void WriteVersion(std::ostream& out) { out << "Scorefit " << MOTIF_WORKFLOW_VERSION << std::endl; }

// A field as it goes into a message: quoted, every byte that is not printable escaped.
std::string Quoted(std::string_view field) {
  std::string quoted(1, '"');
  quoted += Printable(field);
  quoted += '"';
  return quoted;
}

// Ordinal words for the few field positions a message names.
std::string FieldOrdinal(std::uint32_t field_index) {
  static constexpr std::string_view kOrdinals[] = {"first", "second", "third", "fourth"};
  if (field_index < 4) return std::string(kOrdinals[field_index]);
  return "field " + std::to_string(field_index + 1);
}

// Appends to `b` the number in field `field_index` of a coefficient-table line of the kind
// `what`; what is wrong when the line has too few fields or that field holds no number.
std::optional<LineError> TakeCoefficient(const StringList& fields, std::uint32_t field_index,
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
  if (IsStandardInput(coefficient_name) && IsStandardInput(presence_name)) {
    return Refusal{presence_name, "standard input can be only one of the two tables"};
  }
  for (const std::string* input_name : {&coefficient_name, &presence_name}) {
    if (IsStandardInput(*input_name)) continue;
    if (auto problem = OverwritesInput(output_name, *input_name)) {
      return Refusal{output_name, *problem};
    }
  }
  for (const std::string* input_name : {&coefficient_name, &presence_name}) {
    if (IsStandardInput(*input_name)) continue;
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

// Output is gathered into blocks of about this size before it goes to the stream.
constexpr std::size_t kOutputBlock = std::size_t{1} << 20;

// A field is a maximal run of characters other than tab.
struct FieldScan {
  std::size_t count = 0;
  bool plain = true;  // one tab between fields and none at either end
};

// Appends each field of `line` followed by one tab: how a row is written back when its
// tabs are not already one between each two fields.
void AppendFieldsWithTabs(std::string_view line, std::string& text) {
  std::size_t position = 0;
  while (position < line.size()) {
    while (position < line.size() && line[position] == '\t') ++position;
    if (position == line.size()) break;
    const std::size_t tab = line.find('\t', position);
    const std::size_t end = tab == std::string_view::npos ? line.size() : tab;
    text.append(line.data() + position, end - position);
    text += '\t';
    position = end;
  }
}

// The prediction as the stream writes a double by default, and every NaN as "nan": the
// processor's default NaN (from inf - inf) has its sign bit set and would print as "-nan".
void AppendPrediction(double prediction, std::string& text) {
  if (std::isnan(prediction)) {
    text += "nan";
    return;
  }
  char buffer[32];
  const int length = std::snprintf(buffer, sizeof buffer, "%.*g", 6, prediction);
  text.append(buffer, static_cast<std::size_t>(length));
}

// The value of a cell. Presence tables are nearly all small counts, and a cell of at most
// 15 digits and nothing else is an integer that a double holds exactly, so its digits
// summed as they are scanned give the very value the general conversion would; any other
// cell goes to that conversion.
inline double CellValue(std::string_view cell, bool digits_only, std::uint64_t digits_value) {
  constexpr std::size_t kExactDigits = 15;
  if (digits_only && cell.size() <= kExactDigits) [[likely]] {
    return static_cast<double>(digits_value);
  }
  return StringToDouble(cell);
}

// b[0] plus values[k] * b[k] for k from 1 to `terms` - 1, added from left to right. On its
// own, so that the sum stays in a register; the additions wait on each other, the
// products do not.
[[gnu::noinline]] double PredictionOf(const double* values, const double* b, std::size_t terms) {
  double prediction = b[0];
  for (std::size_t k = 1; k < terms; ++k) prediction = values[k] * b[k] + prediction;
  return prediction;
}

// Appends a data row with its prediction to `text`. The cells are read in one pass into
// `values` (value k for field k + 1), then summed in a second, tight one: b[0] plus each
// value times its coefficient, from left to right. Returns the row's field scan; when the
// row has more fields than `b` serves, nothing is appended.
FieldScan AppendDataRow(std::string_view line, const std::vector<double>& b,
                        std::vector<double>& values, std::string& text) {
  FieldScan scan;
  values.resize(b.size());
  const char* const data = line.data();
  const std::size_t size = line.size();
  std::size_t previous_end = 0;
  for (std::size_t start = 0;; start = previous_end) {
    while (start < size && data[start] == '\t') ++start;
    if (start == size) {
      if (start != previous_end) scan.plain = false;  // tabs after the last field
      break;
    }
    if (start - previous_end != (scan.count == 0 ? 0 : 1)) scan.plain = false;
    std::uint64_t digits_value = 0;
    bool digits_only = true;
    std::size_t end = start;
    const unsigned first_digit =
        static_cast<unsigned char>(data[start]) - static_cast<unsigned>('0');
    if (first_digit <= 9 && (start + 1 == size || data[start + 1] == '\t')) {
      // The usual cell, one digit: no loop.
      digits_value = first_digit;
      end = start + 1;
    } else {
      for (; end < size && data[end] != '\t'; ++end) {
        const unsigned digit = static_cast<unsigned char>(data[end]) - static_cast<unsigned>('0');
        digits_only = digits_only && digit <= 9;
        digits_value = digits_value * 10 + digit;
      }
    }
    const std::size_t field_index = scan.count++;
    if (field_index >= 2 && field_index <= b.size()) {
      values[field_index - 1] =
          CellValue(std::string_view(data + start, end - start), digits_only, digits_value);
    }
    previous_end = end;
  }
  // Field j >= 2 takes b[j - 1]: a row can use at most b.size() + 1 fields.
  if (scan.count > b.size() + 1) return scan;
  const double prediction = PredictionOf(values.data(), b.data(), scan.count - 1);
  if (scan.plain) {
    text.append(line);
    text += '\t';
  } else {
    AppendFieldsWithTabs(line, text);
  }
  AppendPrediction(prediction, text);
  text += '\n';
  return scan;
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
      if (auto error = TakeCoefficient(fields, 3, "coefficient line", line_number, b)) {
        return error;
      }
    }
    if (fields.items[0] == kInterceptLabel) {
      if (auto error = TakeCoefficient(fields, 1, "\"Intercept\" line", line_number, b)) {
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

PredictionOutcome WritePredictionTable(std::istream& in, const std::vector<double>& b,
                                       std::ostream& out) {
  StreamSource source(in);
  return WritePredictionTable(source, b, out);
}

namespace {

// Data rows gathered to be predicted on two threads: the rows' text end to end, where
// each row starts, and its line number.
struct RowBatch {
  std::string text;
  std::vector<std::size_t> starts;
  std::vector<std::size_t> line_numbers;
  std::size_t rows() const { return starts.size(); }
  std::string_view row(std::size_t index) const {
    const std::size_t end = index + 1 < starts.size() ? starts[index + 1] : text.size();
    return std::string_view(text).substr(starts[index], end - starts[index]);
  }
  void Clear() {
    text.clear();
    starts.clear();
    line_numbers.clear();
  }
};

// Rows gathered before a batch is predicted: enough that starting a thread costs little.
constexpr std::size_t kBatchBytes = std::size_t{2} << 20;

// Predicts rows [first, last) of `batch` into `text`: done, or the first row that has more
// fields than `b` serves, or out of memory.
PredictionOutcome PredictRows(const RowBatch& batch, std::size_t first, std::size_t last,
                              const std::vector<double>& b, std::vector<double>& values,
                              std::string& text) {
  using Status = PredictionOutcome::Status;
  std::size_t index = first;
  try {
    for (; index < last; ++index) {
      const FieldScan scan = AppendDataRow(batch.row(index), b, values, text);
      if (scan.count > b.size() + 1) {
        return {Status::kBadRow, batch.line_numbers[index], scan.count};
      }
    }
  } catch (const std::bad_alloc&) {
    return {Status::kOutOfMemory, batch.line_numbers[index]};
  }
  return {Status::kDone};
}

}  // namespace

PredictionOutcome WritePredictionTable(ByteSource& in, const std::vector<double>& b,
                                       std::ostream& out) {
  using Status = PredictionOutcome::Status;
  if (b.empty()) return {Status::kNoIntercept};
  LineReader lines(in);
  // The blocks are written by a thread of their own while the next ones are made, and the
  // rows of a batch are predicted in two halves at once where there are two processors.
  BackgroundWriter writer(out);
  const bool two_threads = std::thread::hardware_concurrency() > 1;
  bool header_written = false;
  std::size_t line_number = 0;  // of the line being read
  std::string text;
  std::string second_text;
  std::string_view line;
  std::vector<double> values;
  std::vector<double> second_values;
  RowBatch batch;
  PredictionOutcome outcome{Status::kDone};

  // Predicts the gathered rows and hands their text to the writer; false to stop.
  const auto flush_batch = [&] {
    if (batch.rows() == 0) return true;
    const std::size_t half = two_threads ? batch.rows() / 2 : batch.rows();
    PredictionOutcome second{Status::kDone};
    std::thread helper;
    if (half < batch.rows()) {
      helper = std::thread(
          [&] { second = PredictRows(batch, half, batch.rows(), b, second_values, second_text); });
    }
    const PredictionOutcome first = PredictRows(batch, 0, half, b, values, text);
    if (helper.joinable()) helper.join();
    batch.Clear();
    outcome = first.status != Status::kDone ? first : second;
    if (outcome.status != Status::kDone) return false;
    return writer.Write(text) && writer.Write(second_text);
  };

  try {
    while (++line_number, lines.Next(line)) {
      // A line of tabs alone, or an empty one, has no field: it writes nothing.
      if (line.find_first_not_of('\t') == std::string_view::npos) continue;
      if (!header_written) {
        AppendFieldsWithTabs(line, text);
        text += "Predicted\n";
        header_written = true;
        continue;
      }
      batch.starts.push_back(batch.text.size());
      batch.line_numbers.push_back(line_number);
      batch.text.append(line);
      if (batch.text.size() >= kBatchBytes && !flush_batch()) break;
    }
    if (outcome.status == Status::kDone) flush_batch();
  } catch (const std::bad_alloc&) {
    // A line too long for the memory there is; what was written goes nowhere.
    writer.Finish();
    return {Status::kOutOfMemory, line_number};
  }
  if (outcome.status == Status::kOutOfMemory || outcome.status == Status::kBadRow) {
    writer.Finish();
    return outcome;
  }
  if (!writer.Write(text) || !writer.Finish()) return {Status::kWriteFailed};
  if (lines.failed()) return {Status::kReadFailed};
  return outcome;
}

std::string TooManyFieldsText(std::size_t field_count, std::size_t coefficient_count) {
  return "data row has " + std::to_string(field_count) + " tab-separated fields, but the " +
         std::to_string(coefficient_count) + " coefficients (intercept included) serve at most " +
         std::to_string(coefficient_count + 1);
}

namespace {

// Opens a table ("-" standard input, gzip data decompressed); null after its message when
// it cannot be opened or is compressed in a format that is not read.
std::unique_ptr<ByteSource> OpenTable(const std::string& file_name) {
  std::string problem;
  std::unique_ptr<ByteSource> source = OpenInputSource(file_name, problem);
  if (source == nullptr) {
    if (problem.empty()) {
      PrintOpenFailure(file_name);
    } else {
      PrintBadInput(file_name, problem);
    }
  }
  return source;
}

// Reads the coefficient table into `b`; false after its message when it cannot be opened
// or read.
bool LoadCoefficients(const std::string& file_name, std::vector<double>& b) {
  const std::unique_ptr<ByteSource> source = OpenTable(file_name);
  if (source == nullptr) return false;
  SourceStream in(*source);
  try {
    if (auto error = ReadCoefficientTable(in, b)) {
      // Damaged compressed data says what was wrong with it.
      if (in.failed() && !in.problem().empty()) error = LineError{0, in.problem()};
      PrintBadInput(file_name, *error);
      return false;
    }
  } catch (const std::bad_alloc&) {
    PrintBadInput(file_name, "out of memory while reading it; nothing was written");
    return false;
  }
  return true;
}

// Reports how a prediction pass that did not finish ended.
void ReportPredictionFailure(const PredictionOutcome& outcome, const ByteSource& presence,
                             const std::string& presence_name, const std::string& output_name,
                             std::size_t coefficient_count) {
  using Status = PredictionOutcome::Status;
  switch (outcome.status) {
    case Status::kBadRow:
      PrintBadInput(presence_name, outcome.line_number,
                    TooManyFieldsText(outcome.field_count, coefficient_count));
      return;
    case Status::kReadFailed:
      if (presence.Problem().empty()) {
        PrintReadFailed(presence_name);
      } else {
        PrintBadInput(presence_name, presence.Problem());
      }
      return;
    case Status::kOutOfMemory:
      PrintBadInput(presence_name, outcome.line_number,
                    "out of memory while reading this line; nothing was written");
      return;
    case Status::kNoIntercept:
    case Status::kWriteFailed:
    case Status::kDone:
      PrintWriteFailed(output_name);
      return;
  }
}

}  // namespace

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
  KeepRunningWhenPipesClose();
  const std::string& coefficient_name = args[0];
  const std::string& presence_name = args[1];
  const std::string& output_name = args[2];
  if (const auto refusal = OverwriteRefusal(coefficient_name, presence_name, output_name)) {
    PrintBadInput(refusal->file_name, refusal->what);
    return 1;
  }

  std::cout << "Coeffs fload" << std::endl;
  std::vector<double> b;
  if (!LoadCoefficients(coefficient_name, b)) return 1;

  WriteDoubleVector(b, kCoefficientDumpName);

  std::cout << "Sitecount fload and calc" << std::endl;
  const std::unique_ptr<ByteSource> presence = OpenTable(presence_name);
  if (presence == nullptr) return 1;
  OutputFile output;
  if (!output.Open(output_name)) {
    PrintOpenFailure(output_name);
    return 1;
  }
  const PredictionOutcome outcome = WritePredictionTable(*presence, b, output.stream());
  if (outcome.status != PredictionOutcome::Status::kDone) {
    ReportPredictionFailure(outcome, *presence, presence_name, output_name, b.size());
    return 1;
  }
  if (!output.Commit()) {
    PrintWriteFailed(output_name);
    return 1;
  }
  return 0;
}
