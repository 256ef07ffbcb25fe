#include "scorefit/prediction_table.h"

#include <algorithm>
#include <atomic>
#include <charconv>
#include <cmath>
#include <cstring>
#include <exception>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <string_view>

#include "common/background_writer.h"
#include "common/line_reader.h"
#include "common/thread_pool.h"

namespace {

// Appends each field of `line` followed by one tab: how a row is written back when its
// tabs are not already one between each two fields. A field is a maximal run of characters
// other than tab.
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

// Appends a data row that `scan` describes, its prediction and its line feed. The prediction
// is written as the stream writes a double by default ("%.6g", which std::to_chars gives
// exactly with the general format and precision 6), and every NaN as "nan": the processor's
// default NaN (from inf - inf) has its sign bit set and would print as "-nan".
void AppendDataRow(std::string_view line, const RowScan& scan, std::string& text) {
  char tail[40];
  char* end = tail;
  if (scan.plain) {
    text.append(line);
    *end++ = '\t';
  } else {
    AppendFieldsWithTabs(line, text);
  }
  if (std::isnan(scan.prediction)) {
    std::memcpy(end, "nan", 3);
    end += 3;
  } else {
    end = std::to_chars(end, tail + sizeof tail - 1, scan.prediction, std::chars_format::general, 6)
              .ptr;
  }
  *end++ = '\n';
  text.append(tail, static_cast<std::size_t>(end - tail));
}

// Bytes of whole lines, with room around them: after Seal, the bytes end in a line feed of
// their own, kRowScanPadding readable bytes follow it and as many come before the first,
// so that a row scan may read past either end of any row. Growing keeps the bytes and
// writes no others.
class BlockText {
 public:
  const char* data() const { return storage_.get() + kRowScanPadding; }
  char* data() { return storage_.get() + kRowScanPadding; }
  std::size_t size() const { return size_; }
  std::string_view view() const { return {data(), size_}; }

  // Makes room for `capacity` bytes in all, keeping the first size() of them.
  void Reserve(std::size_t capacity) {
    if (capacity <= capacity_ && storage_ != nullptr) return;
    capacity = std::max(capacity, capacity_ + capacity_ / 2);
    std::unique_ptr<char[]> grown(new char[kRowScanPadding + capacity + 1 + kRowScanPadding]);
    std::memset(grown.get(), '\n', kRowScanPadding);
    if (size_ != 0) std::memcpy(grown.get() + kRowScanPadding, data(), size_);
    storage_ = std::move(grown);
    capacity_ = capacity;
  }
  // `size` is at most the capacity.
  void Resize(std::size_t size) { size_ = size; }
  void Assign(std::string_view text) {
    Reserve(text.size());
    if (!text.empty()) std::memcpy(data(), text.data(), text.size());
    size_ = text.size();
  }
  void Seal() {
    Reserve(size_);
    data()[size_] = '\n';
    std::memset(data() + size_ + 1, 0, kRowScanPadding);
  }

 private:
  std::unique_ptr<char[]> storage_;
  std::size_t size_ = 0;
  std::size_t capacity_ = 0;
};

// Whole lines of the input, read by one thread and predicted in place by the others:
// each line ends in a line feed, but for the input's last one when it has none.
struct LineBlock {
  BlockText text;
  std::size_t first_line = 0;  // the number of its first line, from 1
};

// Lines are read in blocks of about this size: enough that handing one to the threads
// costs little, few enough that three stay small.
constexpr std::size_t kBlockBytes = std::size_t{2} << 20;

// Reads the source into blocks of whole lines; only the part of a line that reaches
// across two reads is copied, into the next block. Lines are not counted here: the
// threads that scan a block find its line feeds anyway.
class LineBlockReader {
 public:
  explicit LineBlockReader(ByteSource& source) : source_(source) {}

  // Fills `block` with the next lines and seals it; false when the input has none left (or
  // a read failed: see failed()).
  bool Fill(LineBlock& block) {
    BlockText& text = block.text;
    text.Assign(rest_);
    rest_.clear();
    std::size_t searched = 0;  // bytes of the block known to hold no line feed
    std::size_t last_line_end = std::string::npos;
    while (!at_end_) {
      if (text.size() >= kBlockBytes) {
        const void* found = ::memrchr(text.data() + searched, '\n', text.size() - searched);
        if (found != nullptr) {
          last_line_end = static_cast<std::size_t>(static_cast<const char*>(found) - text.data());
          break;
        }
        searched = text.size();
      }
      const std::size_t old_size = text.size();
      const std::size_t new_size = std::max(old_size + kReadBytes, kBlockBytes);
      text.Reserve(new_size);
      const std::ptrdiff_t got = source_.Read(text.data() + old_size, new_size - old_size);
      if (got <= 0) {
        at_end_ = true;
        failed_ = got < 0;
      }
      text.Resize(old_size + static_cast<std::size_t>(std::max<std::ptrdiff_t>(got, 0)));
    }
    if (last_line_end != std::string::npos) {
      // The bytes after the last line feed begin the next block.
      rest_.assign(text.view().substr(last_line_end + 1));
      text.Resize(last_line_end + 1);
    }
    text.Seal();
    return text.size() != 0;
  }

  bool failed() const { return failed_; }

 private:
  static constexpr std::size_t kReadBytes = std::size_t{1} << 20;

  ByteSource& source_;
  std::string rest_;
  bool at_end_ = false;
  bool failed_ = false;
};

// Calls visit(line, offset) for each line of text[first, last), `first` and `last` being
// line starts (or the end); a line is given without its line feed.
template <typename Visit>
bool ForEachLine(std::string_view text, std::size_t first, std::size_t last, Visit&& visit) {
  while (first < last) {
    const void* found = std::memchr(text.data() + first, '\n', last - first);
    const std::size_t end =
        found != nullptr ? static_cast<std::size_t>(static_cast<const char*>(found) - text.data())
                         : last;
    if (!visit(text.substr(first, end - first), first)) return false;
    first = end + 1;
  }
  return true;
}

// The start of the line that holds byte `offset` of text, or the end.
std::size_t LineStartAtOrAfter(std::string_view text, std::size_t offset) {
  if (offset == 0 || offset >= text.size()) return std::min(offset, text.size());
  const void* found = std::memchr(text.data() + offset - 1, '\n', text.size() - offset + 1);
  return found != nullptr
             ? static_cast<std::size_t>(static_cast<const char*>(found) - text.data()) + 1
             : text.size();
}

// The rows of one piece of a block, predicted by whichever thread took the piece. A block is
// cut into many more pieces than there are threads and the threads take them in turn, so
// that none waits long for another at the end of a block, even when the reader or the
// writer holds one of the processors for a while.
struct BlockPiece {
  std::string text;  // the piece's rows with their predictions
  PredictionOutcome::Status status = PredictionOutcome::Status::kDone;
  std::size_t bad_offset = 0;  // where the row that stopped it starts in the block
  std::size_t field_count = 0;
  std::size_t line_feeds = 0;  // of a piece predicted to its end
};

// Pieces per block, at the least.
constexpr std::size_t kPiecesPerBlock = 32;

// A line of tabs alone, or an empty one, has no field: it writes nothing.
bool HasField(std::string_view line) {
  return line.find_first_not_of('\t') != std::string_view::npos;
}

// Predicts the rows of block[first, last) into `piece`, stopping at a row that has more
// fields than `b` serves, or when memory runs out.
void PredictLines(const BlockText& block, std::size_t first, std::size_t last,
                  const std::vector<double>& b, RowScanner scan_row, BlockPiece& piece) {
  using Status = PredictionOutcome::Status;
  piece.status = Status::kDone;
  const char* const data = block.data();
  std::size_t row_offset = first;
  std::size_t rows = 0;
  try {
    for (; row_offset < last; ++rows) {
      const RowScan scan = scan_row(data + row_offset, b.data(), b.size());
      if (scan.fields > b.size() + 1) {
        piece.status = Status::kBadRow;
        piece.bad_offset = row_offset;
        piece.field_count = scan.fields;
        return;
      }
      if (scan.fields != 0) {
        AppendDataRow(std::string_view(data + row_offset, scan.length), scan, piece.text);
      }
      row_offset += scan.length + 1;
    }
  } catch (const std::bad_alloc&) {
    piece.status = Status::kOutOfMemory;
    piece.bad_offset = row_offset;
    return;
  }
  // Every row ends in a line feed, but for the input's last when it has none: that one ends
  // at the line feed that sealed the block.
  piece.line_feeds = rows - (row_offset > block.size() ? 1 : 0);
}

// The number of the line that starts at `offset` in a block.
std::size_t LineNumberAt(const LineBlock& block, std::size_t offset) {
  const char* const data = block.text.data();
  return block.first_line + static_cast<std::size_t>(std::count(data, data + offset, '\n'));
}

}  // namespace

PredictionOutcome WritePredictionTable(std::istream& in, const std::vector<double>& b,
                                       std::ostream& out, std::size_t threads, RowScanPath path) {
  StreamSource source(in);
  return WritePredictionTable(source, b, out, threads, path);
}

PredictionOutcome WritePredictionTable(ByteSource& in, const std::vector<double>& b,
                                       std::ostream& out, std::size_t threads, RowScanPath path) {
  using Status = PredictionOutcome::Status;
  if (b.empty()) return {Status::kNoIntercept};
  // One thread reads blocks of lines ahead, the pool predicts each block in pieces of its
  // lines, one text per piece, and one more thread writes the texts in order. Three blocks
  // are enough for the reader never to wait while one block is predicted and the one before
  // it written; the writer holds the texts of two blocks, so that predicting a block waits
  // on the writing only when the writing is a whole block behind.
  const RowScanner scan_row = RowScannerFor(path);
  LineBlockReader reader(in);
  RecyclingQueue<LineBlock> queue(3);
  WorkerPool pool(threads > 1 ? threads - 1 : 0);
  std::vector<BlockPiece> pieces(std::max(kPiecesPerBlock, 4 * pool.size()));
  BackgroundWriter writer(out, 2 * pieces.size());
  BackgroundTask reading(ProducerLoop(queue, [&](LineBlock& block) { return reader.Fill(block); }));

  PredictionOutcome outcome{Status::kDone};
  bool write_failed = false;
  bool header_written = false;
  std::string header_text;
  // Predicts a block and hands its texts to the writer: the block's line feeds, or nothing
  // when a row stopped the prediction.
  const auto predict_block = [&](const LineBlock& block) -> std::optional<std::size_t> {
    const std::string_view text = block.text.view();
    std::size_t data_start = 0;
    if (!header_written) {
      // The first line with a field is the header: written back with the new column.
      ForEachLine(text, 0, text.size(), [&](std::string_view line, std::size_t offset) {
        data_start = offset + line.size() + 1;
        if (!HasField(line)) return true;
        AppendFieldsWithTabs(line, header_text);
        header_text += "Predicted\n";
        header_written = true;
        return false;
      });
      data_start = std::min(data_start, text.size());
      if (!header_text.empty() && !writer.Write(header_text)) write_failed = true;
    }
    const std::size_t size = text.size() - data_start;
    std::atomic<std::size_t> next_piece{0};
    pool.Run([&](std::size_t) {
      for (std::size_t index;
           (index = next_piece.fetch_add(1, std::memory_order_relaxed)) < pieces.size();) {
        const std::size_t first =
            LineStartAtOrAfter(text, data_start + size * index / pieces.size());
        const std::size_t last =
            LineStartAtOrAfter(text, data_start + size * (index + 1) / pieces.size());
        PredictLines(block.text, first, last, b, scan_row, pieces[index]);
      }
    });
    std::size_t line_feeds =
        static_cast<std::size_t>(std::count(text.begin(), text.begin() + data_start, '\n'));
    for (const BlockPiece& piece : pieces) {
      if (piece.status != Status::kDone) {
        outcome = {piece.status, LineNumberAt(block, piece.bad_offset), piece.field_count};
        return std::nullopt;
      }
      line_feeds += piece.line_feeds;
    }
    for (BlockPiece& piece : pieces) {
      if (!piece.text.empty() && !write_failed && !writer.Write(piece.text)) write_failed = true;
      piece.text.clear();
    }
    return line_feeds;
  };

  // The number of the first line of the next block. Every block taken is counted, predicted
  // or not, so that a reader that runs out of memory is named at the line it was reading.
  std::size_t next_line = 1;
  std::exception_ptr counting_error;
  for (std::unique_ptr<LineBlock> block; (block = queue.TakeFilled()) != nullptr;) {
    block->first_line = next_line;
    std::optional<std::size_t> line_feeds;
    if (outcome.status == Status::kDone && counting_error == nullptr) {
      try {
        line_feeds = predict_block(*block);
      } catch (const std::bad_alloc&) {
        outcome = {Status::kOutOfMemory, block->first_line};
      } catch (...) {
        counting_error = std::current_exception();
      }
      if (outcome.status != Status::kDone || counting_error != nullptr || write_failed) {
        queue.Stop();
      }
    }
    const std::string_view text = block->text.view();
    next_line += line_feeds ? *line_feeds
                            : static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
    queue.GiveFree(std::move(block));
  }
  try {
    reading.Join();
  } catch (const std::bad_alloc&) {
    // A line too long for the memory there is; what was written goes nowhere.
    return {Status::kOutOfMemory, next_line};
  }
  if (counting_error != nullptr) std::rethrow_exception(counting_error);
  if (outcome.status != Status::kDone) return outcome;
  if (write_failed || !writer.Finish()) return {Status::kWriteFailed};
  if (reader.failed()) return {Status::kReadFailed};
  return outcome;
}
