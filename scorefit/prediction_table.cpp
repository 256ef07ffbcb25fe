#include "scorefit/prediction_table.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <new>
#include <string>
#include <string_view>

#include "common/background_writer.h"
#include "common/input_source.h"
#include "common/line_reader.h"
#include "common/number_text.h"
#include "common/thread_pool.h"

namespace {

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


// Data rows gathered to be predicted together: the rows' text end to end, where each row
// starts, and its line number.
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

// Rows gathered before a batch is predicted: enough that handing it to the threads costs
// little.
constexpr std::size_t kBatchBytes = std::size_t{2} << 20;

// What one thread of the pool keeps from batch to batch.
struct PredictionShare {
  std::vector<double> values;
  std::string text;
  PredictionOutcome outcome;
};

// Predicts rows [first, last) of `batch` into `share`: done, or the first row that has
// more fields than `b` serves, or out of memory.
void PredictRows(const RowBatch& batch, std::size_t first, std::size_t last,
                 const std::vector<double>& b, PredictionShare& share) {
  using Status = PredictionOutcome::Status;
  share.outcome = {Status::kDone};
  std::size_t index = first;
  try {
    for (; index < last; ++index) {
      const FieldScan scan = AppendDataRow(batch.row(index), b, share.values, share.text);
      if (scan.count > b.size() + 1) {
        share.outcome = {Status::kBadRow, batch.line_numbers[index], scan.count};
        return;
      }
    }
  } catch (const std::bad_alloc&) {
    share.outcome = {Status::kOutOfMemory, batch.line_numbers[index]};
  }
}

}  // namespace

PredictionOutcome WritePredictionTable(std::istream& in, const std::vector<double>& b,
                                       std::ostream& out, std::size_t threads) {
  StreamSource source(in);
  return WritePredictionTable(source, b, out, threads);
}

PredictionOutcome WritePredictionTable(ByteSource& in, const std::vector<double>& b,
                                       std::ostream& out, std::size_t threads) {
  using Status = PredictionOutcome::Status;
  if (b.empty()) return {Status::kNoIntercept};
  LineReader lines(in);
  // The rows of a batch are predicted in contiguous shares, one per thread, and the blocks
  // are written by a thread of their own while the next ones are made.
  WorkerPool pool(threads > 1 ? threads - 1 : 0);
  BackgroundWriter writer(out);
  std::vector<PredictionShare> shares(pool.size());
  std::string header_text;
  bool header_written = false;
  std::size_t line_number = 0;  // of the line being read
  std::string_view line;
  RowBatch batch;
  PredictionOutcome outcome{Status::kDone};

  // Predicts the gathered rows and hands their text to the writer; false to stop.
  const auto flush_batch = [&] {
    if (batch.rows() == 0) return true;
    const std::size_t rows = batch.rows();
    pool.Run([&](std::size_t share_index) {
      PredictRows(batch, rows * share_index / shares.size(),
                  rows * (share_index + 1) / shares.size(), b, shares[share_index]);
    });
    batch.Clear();
    for (PredictionShare& share : shares) {
      if (share.outcome.status != Status::kDone) {
        outcome = share.outcome;
        return false;
      }
    }
    if (!header_text.empty() && !writer.Write(header_text)) return false;
    for (PredictionShare& share : shares) {
      if (!writer.Write(share.text)) return false;
    }
    return true;
  };

  try {
    while (++line_number, lines.Next(line)) {
      // A line of tabs alone, or an empty one, has no field: it writes nothing.
      if (line.find_first_not_of('\t') == std::string_view::npos) continue;
      if (!header_written) {
        AppendFieldsWithTabs(line, header_text);
        header_text += "Predicted\n";
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
    return {Status::kOutOfMemory, line_number};
  }
  if (outcome.status == Status::kOutOfMemory || outcome.status == Status::kBadRow) return outcome;
  if (!writer.Write(header_text) || !writer.Finish()) return {Status::kWriteFailed};
  if (lines.failed()) return {Status::kReadFailed};
  return outcome;
}
