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

// Hands out the lines of a byte source, each without its line feed, from large blocks: a
// line is a view into the block, copied only when it reaches across two. A carriage
// return stays in its line; a last line without a line feed is a line; the empty rest
// after a last line feed is none.
class LineReader {
 public:
  explicit LineReader(ByteSource& source);

  // The next line in `line`, good until the next call; false when no line is left.
  bool Next(std::string_view& line);

  // True when a read from the source failed; the lines before it were delivered.
  bool failed() const { return block_.failed(); }

 private:
  BlockBuffer block_;
  std::string spill_;  // a line that reaches across blocks
};
