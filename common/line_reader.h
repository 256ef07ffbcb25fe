#pragma once

#include <cstddef>
#include <istream>
#include <string>
#include <string_view>

#include "common/byte_source.h"

// Reads a std::istream in blocks, for code that takes streams but reads in bulk. A stream
// that goes bad mid-way reads as failed.
class StreamSource : public ByteSource {
 public:
  explicit StreamSource(std::istream& in) : in_(in) {}
  std::ptrdiff_t Read(char* buffer, std::size_t capacity) override;

 private:
  std::istream& in_;
};

// Where lines end: at a line feed only (a carriage return stays in its line), or at a
// line feed, a carriage return, or the pair of both, so that files from every platform
// read alike.
enum class LineEnds { kLineFeed, kAny };

// Hands out the lines of a byte source, each without its line end, from large blocks: a
// line is a view into the block, copied only when it reaches across two. A last line
// without a line end is a line; the empty rest after a last line end is none.
class LineReader {
 public:
  explicit LineReader(ByteSource& source, LineEnds ends = LineEnds::kLineFeed);

  // The next line in `line`, good until the next call; false when no line is left.
  bool Next(std::string_view& line);

  // The number of the line that Next gave last, from 1.
  std::size_t line_number() const { return line_number_; }

  // True when a read from the source failed; the lines before it were delivered.
  bool failed() const { return block_.failed(); }

 private:
  BlockBuffer block_;
  const LineEnds ends_;
  std::string spill_;            // a line that reaches across blocks
  bool skip_line_feed_ = false;  // the last line ended in a carriage return
  std::size_t line_number_ = 0;
};
