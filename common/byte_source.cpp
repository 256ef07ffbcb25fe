#include "common/byte_source.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

BlockBuffer::BlockBuffer(ByteSource& source)
    : source_(source), data_(std::make_unique_for_overwrite<char[]>(kBlockSize)) {}

bool BlockBuffer::Fill() {
  if (position_ < end_) return true;
  if (at_end_) return false;
  const std::ptrdiff_t got = source_.Read(data_.get(), kBlockSize);
  position_ = 0;
  end_ = got > 0 ? static_cast<std::size_t>(got) : 0;
  if (got <= 0) {
    at_end_ = true;
    failed_ = got < 0;
    return false;
  }
  return true;
}

FileDescriptorSource::FileDescriptorSource(int descriptor, bool owned)
    : descriptor_(descriptor), owned_(owned) {}

FileDescriptorSource::~FileDescriptorSource() {
  if (owned_) ::close(descriptor_);
}

std::ptrdiff_t FileDescriptorSource::Read(char* buffer, std::size_t capacity) {
  for (;;) {
    const ssize_t got = ::read(descriptor_, buffer, capacity);
    if (got >= 0) return got;
    if (errno != EINTR) return -1;
  }
}

std::unique_ptr<ByteSource> OpenFileSource(const std::string& file_name) {
  int descriptor;
  do {
    descriptor = ::open(file_name.c_str(), O_RDONLY | O_CLOEXEC);
  } while (descriptor < 0 && errno == EINTR);
  if (descriptor < 0) return nullptr;
  // A folder opens on this platform but reads as nothing: it is no input.
  struct stat status {};
  if (::fstat(descriptor, &status) != 0 || S_ISDIR(status.st_mode)) {
    ::close(descriptor);
    return nullptr;
  }
  return std::make_unique<FileDescriptorSource>(descriptor, true);
}

std::ptrdiff_t MemorySource::Read(char* buffer, std::size_t capacity) {
  const std::size_t count = std::min(capacity, bytes_.size());
  if (count > 0) std::memcpy(buffer, bytes_.data(), count);
  bytes_.remove_prefix(count);
  return static_cast<std::ptrdiff_t>(count);
}
