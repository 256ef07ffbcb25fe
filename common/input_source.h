#pragma once

#include <cstddef>
#include <ios>
#include <istream>
#include <memory>
#include <streambuf>
#include <string>

#include "common/byte_source.h"

// True for the name "-", which stands for standard input: never a file, never the output.
bool IsStandardInput(const std::string& file_name);

// The bytes of an input as they are stored: standard input for "-", else the file (null
// when it cannot be opened or is a folder).
std::unique_ptr<ByteSource> OpenRawInput(const std::string& file_name);

// Opens an input for reading: "-" is standard input (left open at the end), any other name
// a file. Its first bytes decide how it is read, never its name: gzip data is decompressed
// as it is read (one member or several concatenated, zero bytes between or after members
// skipped as padding), anything else is read as it is. Null when the file cannot be opened
// or is a folder (`problem` empty), or when it is compressed in a format that is not read
// (`problem` says which and how to decompress it, e.g. "is compressed with xz, which is not
// read; decompress it first (xz -d)"). Never seeks: pipes work.
// What is read is text: a NUL byte, which text never holds (other binary data or compressed
// data that was not recognised do), ends the input with a failed read there, the bytes
// before it delivered; Problem() is then BinaryDataText() and ProblemLine() its line.
std::unique_ptr<ByteSource> OpenInputSource(const std::string& file_name, std::string& problem);

// The same decision over a source already open: `raw` is read through the result, or
// dropped with null and `problem` set as above. The bytes read to decide are delivered.
std::unique_ptr<ByteSource> DecodeInputSource(std::unique_ptr<ByteSource> raw,
                                              std::string& problem);

// After a read from `source`, an input opened here, failed: its one line on standard error,
// naming `file_name`, and the line and what was wrong when the source knows them.
void PrintReadProblem(const std::string& file_name, const ByteSource& source);

// A read-only stream buffer over a byte source, for readers that take a std::istream. A
// failed read ends the input like its end does and is remembered; it also sets the badbit
// of the stream given to ReportFailureTo.
class SourceStreamBuf : public std::streambuf {
 public:
  explicit SourceStreamBuf(ByteSource& source);

  // The stream that reads through this buffer, to be marked bad when a read fails.
  void ReportFailureTo(std::ios& stream) { stream_ = &stream; }

  // True when a read from the source failed; problem() is then the source's Problem().
  bool failed() const { return failed_; }
  std::string problem() const { return problem_; }

 protected:
  int_type underflow() override;

 private:
  static constexpr std::size_t kBlockSize = std::size_t{1} << 16;

  ByteSource& source_;
  std::unique_ptr<char[]> buffer_;
  std::ios* stream_ = nullptr;
  bool at_end_ = false;
  bool failed_ = false;
  std::string problem_;
};

// An input stream over a byte source that turns bad when a read fails.
class SourceStream : public std::istream {
 public:
  explicit SourceStream(ByteSource& source);
  SourceStream(const SourceStream&) = delete;
  SourceStream& operator=(const SourceStream&) = delete;

  bool failed() const { return buffer_.failed(); }
  std::string problem() const { return buffer_.problem(); }

 private:
  SourceStreamBuf buffer_;
};
