#include "common/line_reader.h"

#include <cstring>

std::ptrdiff_t StreamSource::Read(char* buffer, std::size_t capacity) {
  in_.read(buffer, static_cast<std::streamsize>(capacity));
  if (in_.bad()) return -1;
  return static_cast<std::ptrdiff_t>(in_.gcount());
}

LineReader::LineReader(ByteSource& source, LineEnds ends) : block_(source), ends_(ends) {}

bool LineReader::Next(std::string_view& line) {
  spill_.clear();
  bool spilled = false;
  for (;;) {
    if (!block_.Fill()) {
      if (!spilled) return false;
      line = spill_;
      ++line_number_;
      return true;
    }
    const char* first = block_.next();
    const std::size_t available = block_.available();
    if (skip_line_feed_) {
      // The line feed of a pair whose carriage return ended the line before.
      skip_line_feed_ = false;
      if (*first == '\n') {
        block_.Advance(1);
        continue;
      }
    }
    const char* end = static_cast<const char*>(std::memchr(first, '\n', available));
    if (ends_ == LineEnds::kAny) {
      const std::size_t searched =
          end == nullptr ? available : static_cast<std::size_t>(end - first);
      if (const void* carriage = std::memchr(first, '\r', searched)) {
        end = static_cast<const char*>(carriage);
      }
    }
    if (end == nullptr) {
      spill_.append(first, available);
      spilled = true;
      block_.Advance(available);
      continue;
    }
    const std::size_t length = static_cast<std::size_t>(end - first);
    skip_line_feed_ = *end == '\r';
    block_.Advance(length + 1);
    ++line_number_;
    if (!spilled) {
      line = std::string_view(first, length);
    } else {
      spill_.append(first, length);
      line = spill_;
    }
    return true;
  }
}
