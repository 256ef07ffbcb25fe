#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

// Where a reader's bytes come from: a file, an open file descriptor (standard input), or a
// buffer in memory. Readers pull large blocks and find their own line ends.
class ByteSource {
 public:
  virtual ~ByteSource() = default;
  // Reads up to `capacity` bytes into `buffer`: the number read, 0 at the end of the input,
  // or -1 when reading failed.
  virtual std::ptrdiff_t Read(char* buffer, std::size_t capacity) = 0;

  // After Read returned -1: what was wrong with the input, for a message (for instance
  // "corrupt compressed data"); empty when the read itself failed.
  virtual std::string Problem() const { return {}; }
  // After Read returned -1: the line of the input (counted from 1) where the problem lies,
  // or 0 when it concerns no line in particular.
  virtual std::size_t ProblemLine() const { return 0; }
};

// The bytes of a source pulled in large blocks, for readers that find their own line ends
// in them.
class BlockBuffer {
 public:
  explicit BlockBuffer(ByteSource& source);

  // True when an unread byte is there, reading the next block once this one is used up;
  // false at the end of the input, or after a failed read (see failed()).
  bool Fill();
  // The first unread byte, and how many follow it in this block.
  const char* next() const { return data_.get() + position_; }
  std::size_t available() const { return end_ - position_; }
  // Marks `count` bytes, at most available(), as read.
  void Advance(std::size_t count) { position_ += count; }
  // True when a read from the source failed; the bytes before it were delivered.
  bool failed() const { return failed_; }

 private:
  static constexpr std::size_t kBlockSize = std::size_t{1} << 18;

  ByteSource& source_;
  std::unique_ptr<char[]> data_;
  std::size_t position_ = 0;
  std::size_t end_ = 0;
  bool at_end_ = false;
  bool failed_ = false;
};

// Reads an open file descriptor; closes it at the end only when it owns it.
class FileDescriptorSource : public ByteSource {
 public:
  FileDescriptorSource(int descriptor, bool owned);
  ~FileDescriptorSource() override;
  FileDescriptorSource(const FileDescriptorSource&) = delete;
  FileDescriptorSource& operator=(const FileDescriptorSource&) = delete;

  std::ptrdiff_t Read(char* buffer, std::size_t capacity) override;

 private:
  int descriptor_;
  bool owned_;
};

// Opens `file_name` for reading; null when it cannot be opened or names a folder.
std::unique_ptr<ByteSource> OpenFileSource(const std::string& file_name);

// Reads a buffer that the caller keeps alive.
class MemorySource : public ByteSource {
 public:
  explicit MemorySource(std::string_view bytes) : bytes_(bytes) {}
  std::ptrdiff_t Read(char* buffer, std::size_t capacity) override;

 private:
  std::string_view bytes_;
};
