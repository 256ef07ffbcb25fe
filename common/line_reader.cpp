#include "common/line_reader.h"

#include <cstring>

std::ptrdiff_t StreamSource::Read(char* buffer, std::size_t capacity) {
  in_.read(buffer, static_cast<std::streamsize>(capacity));
  if (in_.bad()) return -1;
  return static_cast<std::ptrdiff_t>(in_.gcount());
}

LineReader::LineReader(ByteSource& source) : block_(source) {}

bool LineReader::Next(std::string_view& line) {
  spill_.clear();
  bool spilled = false;
  for (;;) {
    if (!block_.Fill()) {
      if (!spilled) return false;
      line = spill_;
      return true;
    }
    const char* first = block_.next();
    const std::size_t available = block_.available();
    const char* line_end = static_cast<const char*>(std::memchr(first, '\n', available));
    if (line_end == nullptr) {
      spill_.append(first, available);
      spilled = true;
      block_.Advance(available);
      continue;
    }
    const std::size_t length = static_cast<std::size_t>(line_end - first);
    block_.Advance(length + 1);
    if (!spilled) {
      line = std::string_view(first, length);
    } else {
      spill_.append(first, length);
      line = spill_;
    }
    return true;
  }
}
