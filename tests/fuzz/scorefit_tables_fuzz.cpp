// The coefficient table reader and the prediction pass on arbitrary bytes. The input is
// cut at its first 0xFF byte (or, without one, half way): the first part is the
// coefficient table; when it reads, the second part is the presence table. The prediction
// table, on every scan path, is compared with one built field by field through the general
// number reader, and the presence table's lines, read over small reads, with the lines of
// the input.

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "common/line_reader.h"
#include "common/number_text.h"
#include "scorefit/coefficient_table.h"
#include "scorefit/prediction_table.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

// The lines of `bytes`, each without its line feed: a final line feed ends the last line
// and starts none.
std::vector<std::string_view> Lines(std::string_view bytes) {
  std::vector<std::string_view> lines;
  std::size_t position = 0;
  while (position < bytes.size()) {
    const std::size_t line_feed = std::min(bytes.find('\n', position), bytes.size());
    lines.push_back(bytes.substr(position, line_feed - position));
    position = line_feed + 1;
  }
  return lines;
}

// The lines through a LineReader over small reads, so that lines reach across its blocks.
void CheckLineReader(std::string_view bytes, const std::vector<std::string_view>& lines) {
  ChunkedSource source(bytes, 1 + bytes.size() % 7);
  LineReader reader(source);
  std::string_view line;
  for (const std::string_view expected : lines) {
    Require(reader.Next(line), "LineReader hands out every line");
    Require(line == expected, "LineReader's line as in the input");
  }
  Require(!reader.Next(line), "LineReader hands out no line after the last");
  Require(!reader.failed(), "a memory source never fails");
}

// The maximal runs of characters other than tab.
std::vector<std::string_view> TabFields(std::string_view line) {
  std::vector<std::string_view> fields;
  std::size_t position = 0;
  while (position < line.size()) {
    position = line.find_first_not_of('\t', position);
    if (position == std::string_view::npos) break;
    const std::size_t tab = std::min(line.find('\t', position), line.size());
    fields.push_back(line.substr(position, tab - position));
    position = tab;
  }
  return fields;
}

// A prediction as the stream writes a double by default; any NaN as "nan".
std::string PredictionText(double prediction) {
  if (std::isnan(prediction)) return "nan";
  std::ostringstream text;
  text << prediction;
  return text.str();
}

// What the prediction pass should write for `presence` under `b`, and where it should stop.
struct ModelPrediction {
  std::string text;
  std::size_t bad_line = 0;  // the first data row with too many fields, 0 for none
  std::size_t bad_field_count = 0;
};

ModelPrediction ModelPredictionTable(const std::vector<std::string_view>& lines,
                                     const std::vector<double>& b) {
  ModelPrediction model;
  bool header_written = false;
  std::size_t line_number = 0;
  for (const std::string_view line : lines) {
    ++line_number;
    const std::vector<std::string_view> fields = TabFields(line);
    if (fields.empty()) continue;
    if (header_written && fields.size() > b.size() + 1) {
      model.bad_line = line_number;
      model.bad_field_count = fields.size();
      break;
    }
    for (const std::string_view field : fields) {
      model.text += field;
      model.text += '\t';
    }
    if (!header_written) {
      model.text += "Predicted\n";
      header_written = true;
      continue;
    }
    double prediction = b[0];
    for (std::size_t field = 2; field < fields.size(); ++field) {
      prediction = StringToDouble(fields[field]) * b[field - 1] + prediction;
    }
    model.text += PredictionText(prediction);
    model.text += '\n';
  }
  return model;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  std::size_t cut = bytes.find('\xFF');
  const bool has_marker = cut != std::string_view::npos;
  if (!has_marker) cut = size / 2;
  const std::string_view coefficients = bytes.substr(0, cut);
  const std::string_view presence = bytes.substr(has_marker ? cut + 1 : cut);

  const std::vector<std::string_view> lines = Lines(presence);
  CheckLineReader(presence, lines);

  std::istringstream coefficient_in{std::string(coefficients)};
  std::vector<double> b;
  if (const auto error = ReadCoefficientTable(coefficient_in, b)) {
    Require(error->line_number <= Lines(coefficients).size(), "a coefficient error names a line");
    Require(!error->what.empty(), "a coefficient error says what is wrong");
    return 0;
  }
  Require(!b.empty(), "a table that reads holds the intercept");
  for (const double coefficient : b) Require(std::isfinite(coefficient), "coefficients are finite");

  // Every scan path, the same table; a path the processor lacks falls back to another.
  const ModelPrediction model = ModelPredictionTable(lines, b);
  for (const RowScanPath path : {RowScanPath::kPortable, RowScanPath::kAvx2}) {
    std::istringstream presence_in{std::string(presence)};
    std::ostringstream out;
    const PredictionOutcome outcome = WritePredictionTable(presence_in, b, out, 1, path);
    const std::string written = out.str();

    using Status = PredictionOutcome::Status;
    Require(outcome.status == Status::kDone || outcome.status == Status::kBadRow,
            "a string stream neither fails to read nor to write");
    if (outcome.status == Status::kBadRow) {
      Require(outcome.line_number >= 1 && outcome.line_number <= lines.size(),
              "a bad row names a line of the presence table");
      Require(outcome.field_count > b.size() + 1, "a bad row has more fields than b serves");
    }
    Require(outcome.line_number == model.bad_line, "the first row with too many fields stops");
    Require(outcome.field_count == model.bad_field_count, "a bad row's fields are counted");
    Require(written.empty() || written.back() == '\n', "output lines end in a line feed");
    // After a bad row the output is abandoned, so only a finished table is compared.
    if (outcome.status == Status::kDone) {
      Require(written == model.text, "the rows and predictions as the number reader gives them");
    }
  }
  return 0;
}
