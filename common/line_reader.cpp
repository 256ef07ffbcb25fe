#include "common/line_reader.h"

#include <cstring>

std::ptrdiff_t StreamSource::Read(char* buffer, std::size_t capacity) {
  in_.read(buffer, static_cast<std::streamsize>(capacity));
  if (in_.bad()) return -1;
  return static_cast<std::ptrdiff_t>(in_.gcount());
}

LineReader::LineReader(ByteSource& source)
    : source_(source), buffer_(std::make_unique_for_overwrite<char[]>(kBlockSize)) {}

bool LineReader::Refill() {
  if (at_end_) return false;
  const std::ptrdiff_t got = source_.Read(buffer_.get(), kBlockSize);
  position_ = 0;
  end_ = got > 0 ? static_cast<std::size_t>(got) : 0;
  if (got <= 0) {
    at_end_ = true;
    failed_ = got < 0;
    return false;
  }
  return true;
}

bool LineReader::Next(std::string_view& line) {
  spill_.clear();
  bool spilled = false;
  for (;;) {
    if (position_ == end_ && !Refill()) {
      if (!spilled) return false;
      line = spill_;
      return true;
    }
    const char* first = buffer_.get() + position_;
    const std::size_t available = end_ - position_;
    const char* line_end = static_cast<const char*>(std::memchr(first, '\n', available));
    if (line_end == nullptr) {
      spill_.append(first, available);
      spilled = true;
      position_ = end_;
      continue;
    }
    const std::size_t length = static_cast<std::size_t>(line_end - first);
    position_ += length + 1;
    if (!spilled) {
      line = std::string_view(first, length);
    } else {
      spill_.append(first, length);
      line = spill_;
    }
    return true;
  }
}
