#include "scorefit/prediction_table.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <exception>
#include <memory>
#include <new>
#include <string>
#include <string_view>

#include "common/background_writer.h"
#include "common/line_reader.h"
#include "common/number_text.h"
#include "common/thread_pool.h"

namespace {

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

// Whole lines of the input, read by one thread and predicted in place by the others:
// each line ends in a line feed, but for the input's last one when it has none.
struct LineBlock {
  std::string text;
  std::size_t first_line = 0;  // the number of its first line, from 1
};

// Lines are read in blocks of about this size: enough that handing one to the threads
// costs little, few enough that three stay small.
constexpr std::size_t kBlockBytes = std::size_t{2} << 20;

// Reads the source into blocks of whole lines; only the part of a line that reaches
// across two reads is copied, into the next block.
class LineBlockReader {
 public:
  explicit LineBlockReader(ByteSource& source) : source_(source) {}

  // Fills `block` with the next lines; false when the input has none left (or a read
  // failed: see failed()).
  bool Fill(LineBlock& block) {
    block.text.assign(rest_);
    rest_.clear();
    block.first_line = next_line_;
    std::size_t searched = 0;  // bytes of the block known to hold no line feed
    std::size_t last_line_end = std::string::npos;
    while (!at_end_) {
      if (block.text.size() >= kBlockBytes) {
        const void* found =
            ::memrchr(block.text.data() + searched, '\n', block.text.size() - searched);
        if (found != nullptr) {
          last_line_end =
              static_cast<std::size_t>(static_cast<const char*>(found) - block.text.data());
          break;
        }
        searched = block.text.size();
      }
      const std::size_t old_size = block.text.size();
      block.text.resize(std::max(old_size + kReadBytes, kBlockBytes));
      const std::ptrdiff_t got =
          source_.Read(block.text.data() + old_size, block.text.size() - old_size);
      if (got <= 0) {
        at_end_ = true;
        failed_ = got < 0;
      }
      block.text.resize(old_size + static_cast<std::size_t>(std::max<std::ptrdiff_t>(got, 0)));
    }
    if (last_line_end != std::string::npos) {
      // The bytes after the last line feed begin the next block.
      rest_.assign(block.text, last_line_end + 1);
      block.text.resize(last_line_end + 1);
    }
    next_line_ += static_cast<std::size_t>(std::count(block.text.begin(), block.text.end(), '\n'));
    return !block.text.empty();
  }

  bool failed() const { return failed_; }
  // The number of the line being read.
  std::size_t line_number() const { return next_line_; }

 private:
  static constexpr std::size_t kReadBytes = std::size_t{1} << 20;

  ByteSource& source_;
  std::string rest_;
  std::size_t next_line_ = 1;
  bool at_end_ = false;
  bool failed_ = false;
};

// Calls visit(line, offset) for each line of text[first, last), `first` and `last` being
// line starts (or the end); a line is given without its line feed.
template <typename Visit>
bool ForEachLine(const std::string& text, std::size_t first, std::size_t last, Visit&& visit) {
  while (first < last) {
    const void* found = std::memchr(text.data() + first, '\n', last - first);
    const std::size_t end =
        found != nullptr ? static_cast<std::size_t>(static_cast<const char*>(found) - text.data())
                         : last;
    if (!visit(std::string_view(text).substr(first, end - first), first)) return false;
    first = end + 1;
  }
  return true;
}

// The start of the line that holds byte `offset` of text, or the end.
std::size_t LineStartAtOrAfter(const std::string& text, std::size_t offset) {
  if (offset == 0 || offset >= text.size()) return std::min(offset, text.size());
  const void* found = std::memchr(text.data() + offset - 1, '\n', text.size() - offset + 1);
  return found != nullptr
             ? static_cast<std::size_t>(static_cast<const char*>(found) - text.data()) + 1
             : text.size();
}

// What one thread of the pool keeps from block to block.
struct PredictionShare {
  std::vector<double> values;
  std::string text;
  PredictionOutcome::Status status = PredictionOutcome::Status::kDone;
  std::size_t bad_offset = 0;  // where the row that stopped it starts in the block
  std::size_t field_count = 0;
};

// A line of tabs alone, or an empty one, has no field: it writes nothing.
bool HasField(std::string_view line) {
  return line.find_first_not_of('\t') != std::string_view::npos;
}

// Predicts the rows of text[first, last) into `share`, stopping at a row that has more
// fields than `b` serves, or when memory runs out.
void PredictLines(const std::string& text, std::size_t first, std::size_t last,
                  const std::vector<double>& b, PredictionShare& share) {
  using Status = PredictionOutcome::Status;
  share.status = Status::kDone;
  std::size_t row_offset = first;
  try {
    ForEachLine(text, first, last, [&](std::string_view line, std::size_t offset) {
      if (!HasField(line)) return true;
      row_offset = offset;
      const FieldScan scan = AppendDataRow(line, b, share.values, share.text);
      if (scan.count <= b.size() + 1) return true;
      share.status = Status::kBadRow;
      share.bad_offset = offset;
      share.field_count = scan.count;
      return false;
    });
  } catch (const std::bad_alloc&) {
    share.status = Status::kOutOfMemory;
    share.bad_offset = row_offset;
  }
}

// The number of the line that starts at `offset` in a block.
std::size_t LineNumberAt(const LineBlock& block, std::size_t offset) {
  return block.first_line +
         static_cast<std::size_t>(std::count(
             block.text.begin(), block.text.begin() + static_cast<std::ptrdiff_t>(offset), '\n'));
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
  // One thread reads blocks of lines ahead, the pool predicts each block in contiguous
  // shares of its lines, one text per share, and one more thread writes the texts in
  // order. Three blocks are enough for the reader never to wait while one block is
  // predicted and the one before it written.
  LineBlockReader reader(in);
  RecyclingQueue<LineBlock> queue(3);
  WorkerPool pool(threads > 1 ? threads - 1 : 0);
  std::vector<PredictionShare> shares(pool.size());
  BackgroundWriter writer(out);
  BackgroundTask reading(ProducerLoop(queue, [&](LineBlock& block) { return reader.Fill(block); }));

  PredictionOutcome outcome{Status::kDone};
  bool write_failed = false;
  bool header_written = false;
  std::string header_text;
  const auto predict_block = [&](const LineBlock& block) {
    std::size_t data_start = 0;
    if (!header_written) {
      // The first line with a field is the header: written back with the new column.
      ForEachLine(block.text, 0, block.text.size(), [&](std::string_view line, std::size_t offset) {
        data_start = offset + line.size() + 1;
        if (!HasField(line)) return true;
        AppendFieldsWithTabs(line, header_text);
        header_text += "Predicted\n";
        header_written = true;
        return false;
      });
      data_start = std::min(data_start, block.text.size());
      if (!header_text.empty() && !writer.Write(header_text)) write_failed = true;
    }
    const std::size_t size = block.text.size() - data_start;
    pool.Run([&](std::size_t share_index) {
      const std::size_t first =
          LineStartAtOrAfter(block.text, data_start + size * share_index / shares.size());
      const std::size_t last =
          LineStartAtOrAfter(block.text, data_start + size * (share_index + 1) / shares.size());
      PredictLines(block.text, first, last, b, shares[share_index]);
    });
    for (PredictionShare& share : shares) {
      if (share.status != Status::kDone) {
        outcome = {share.status, LineNumberAt(block, share.bad_offset), share.field_count};
        return;
      }
    }
    for (PredictionShare& share : shares) {
      if (!write_failed && !writer.Write(share.text)) write_failed = true;
      share.text.clear();
    }
  };

  std::exception_ptr counting_error;
  for (std::unique_ptr<LineBlock> block; (block = queue.TakeFilled()) != nullptr;) {
    if (outcome.status == Status::kDone && counting_error == nullptr) {
      try {
        predict_block(*block);
      } catch (const std::bad_alloc&) {
        outcome = {Status::kOutOfMemory, block->first_line};
      } catch (...) {
        counting_error = std::current_exception();
      }
      if (outcome.status != Status::kDone || counting_error != nullptr || write_failed) {
        queue.Stop();
      }
    }
    queue.GiveFree(std::move(block));
  }
  try {
    reading.Join();
  } catch (const std::bad_alloc&) {
    // A line too long for the memory there is; what was written goes nowhere.
    return {Status::kOutOfMemory, reader.line_number()};
  }
  if (counting_error != nullptr) std::rethrow_exception(counting_error);
  if (outcome.status != Status::kDone) return outcome;
  if (write_failed || !writer.Finish()) return {Status::kWriteFailed};
  if (reader.failed()) return {Status::kReadFailed};
  return outcome;
}
