#include "common/input_source.h"

#include <isa-l/igzip_lib.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <utility>

#include "common/diagnostics.h"

namespace {

using namespace std::string_view_literals;

// Enough leading bytes to tell every format below apart from text.
constexpr std::size_t kPeekSize = 10;

bool StartsWith(std::string_view head, std::string_view magic) {
  return head.substr(0, magic.size()) == magic;
}

// "BZh" and a block size digit could start a line of text, so the magic of the first block
// (or of the end of an empty stream) must follow.
bool Bzip2BlockFollows(std::string_view head) {
  return head.size() == kPeekSize && head[3] >= '1' && head[3] <= '9' &&
         (head.substr(4) == "\x31\x41\x59\x26\x53\x59"sv ||
          head.substr(4) == "\x17\x72\x45\x38\x50\x90"sv);
}

struct UnreadFormat {
  std::string_view name;
  std::string_view command;  // the command that decompresses it
  std::string_view magic;    // its first bytes
  bool bzip2_block_follows = false;
};

constexpr std::array<UnreadFormat, 5> kUnreadFormats{{
    {"xz", "xz -d", "\xFD\x37\x7A\x58\x5A\x00"sv},
    {"bzip2", "bzip2 -d", "BZh"sv, true},
    {"zstd", "zstd -d", "\x28\xB5\x2F\xFD"sv},
    {"lz4", "lz4 -d", "\x04\x22\x4D\x18"sv},
    {"zip", "unzip", "PK\x03\x04"sv},
}};

bool Matches(const UnreadFormat& format, std::string_view head) {
  return StartsWith(head, format.magic) && (!format.bzip2_block_follows || Bzip2BlockFollows(head));
}

constexpr std::string_view kGzipMagic = "\x1F\x8B"sv;

// Delivers the bytes read ahead to decide the format, then the rest of the input; a read
// that failed while reading ahead fails again after them.
class ReplaySource : public ByteSource {
 public:
  ReplaySource(std::unique_ptr<ByteSource> inner, std::string head, bool failed)
      : inner_(std::move(inner)), head_(std::move(head)), failed_(failed) {}

  std::ptrdiff_t Read(char* buffer, std::size_t capacity) override {
    if (position_ < head_.size()) {
      const std::size_t count = std::min(capacity, head_.size() - position_);
      std::memcpy(buffer, head_.data() + position_, count);
      position_ += count;
      return static_cast<std::ptrdiff_t>(count);
    }
    if (failed_) return -1;
    return inner_->Read(buffer, capacity);
  }

  std::string Problem() const override { return inner_->Problem(); }

 private:
  std::unique_ptr<ByteSource> inner_;
  std::string head_;
  std::size_t position_ = 0;
  bool failed_;
};

// The number of line feeds among `count` bytes. Counted in byte-wide sums of at most 240
// bytes each, which the compiler turns into one vector compare and subtract per 16 bytes;
// a sum as wide as the result would be widened lane by lane, several times the work.
std::size_t CountLineFeeds(const char* bytes, std::size_t count) {
  constexpr std::size_t kRun = 240;
  std::size_t line_feeds = 0;
  while (count > 0) {
    const std::size_t run = std::min(count, kRun);
    std::uint8_t in_run = 0;
    for (std::size_t i = 0; i < run; ++i) in_run += bytes[i] == '\n' ? 1 : 0;
    line_feeds += in_run;
    bytes += run;
    count -= run;
  }
  return line_feeds;
}

// Passes text through and stops at the first NUL byte: the read that reaches it fails, and
// the line it stands on is known. One scan for the NUL and one count of line feeds per
// block, each a pass over bytes already in cache.
class TextOnlySource : public ByteSource {
 public:
  explicit TextOnlySource(std::unique_ptr<ByteSource> inner) : inner_(std::move(inner)) {}

  std::ptrdiff_t Read(char* buffer, std::size_t capacity) override {
    if (binary_) return -1;
    const std::ptrdiff_t got = inner_->Read(buffer, capacity);
    if (got <= 0) return got;
    const auto size = static_cast<std::size_t>(got);
    const char* nul = static_cast<const char*>(std::memchr(buffer, '\0', size));
    const std::size_t text = nul != nullptr ? static_cast<std::size_t>(nul - buffer) : size;
    line_feeds_ += CountLineFeeds(buffer, text);
    if (nul == nullptr) return got;
    binary_ = true;
    return text > 0 ? static_cast<std::ptrdiff_t>(text) : -1;
  }

  std::string Problem() const override { return binary_ ? BinaryDataText() : inner_->Problem(); }
  std::size_t ProblemLine() const override {
    return binary_ ? line_feeds_ + 1 : inner_->ProblemLine();
  }

 private:
  std::unique_ptr<ByteSource> inner_;
  std::size_t line_feeds_ = 0;  // in the bytes delivered
  bool binary_ = false;
};

std::string DescribeInflateError(int result) {
  switch (result) {
    case ISAL_INCORRECT_CHECKSUM:
      return "corrupt compressed data (CRC or length mismatch)";
    case ISAL_INVALID_WRAPPER:
      return "corrupt compressed data (invalid gzip header)";
    case ISAL_UNSUPPORTED_METHOD:
      return "corrupt compressed data (unknown gzip compression method)";
    case ISAL_INVALID_BLOCK:
    case ISAL_INVALID_SYMBOL:
    case ISAL_INVALID_LOOKBACK:
      return "corrupt compressed data (invalid deflate data)";
    default:
      return "corrupt compressed data";
  }
}

// Decompresses gzip data as it is read, member after member, straight into the caller's
// buffer. Memory stays fixed: one input block and the inflater's state with its window.
// Each header is read on its own, with a header record that asks for none of its fields:
// the inflater's own header reading leaves part of its record unset when the header has an
// extra field, as block-compressing tools write in every member.
class GzipSource : public ByteSource {
 public:
  explicit GzipSource(std::unique_ptr<ByteSource> compressed)
      : compressed_(std::move(compressed)),
        input_(std::make_unique_for_overwrite<std::uint8_t[]>(kInputSize)),
        inflater_(std::make_unique<inflate_state>()) {
    isal_inflate_init(inflater_.get());
  }

  std::ptrdiff_t Read(char* buffer, std::size_t capacity) override;
  std::string Problem() const override { return problem_; }

 private:
  enum class Phase { kBetweenMembers, kHeader, kBody };

  std::ptrdiff_t Fail(std::string problem) {
    failed_ = true;
    problem_ = std::move(problem);
    return -1;
  }
  void StartMember();

  static constexpr std::size_t kInputSize = std::size_t{1} << 20;
  // The inflater counts in 32 bits.
  static constexpr std::size_t kMaxOutput = std::size_t{1} << 30;

  std::unique_ptr<ByteSource> compressed_;
  std::unique_ptr<std::uint8_t[]> input_;
  std::unique_ptr<inflate_state> inflater_;
  isal_gzip_header header_{};
  Phase phase_ = Phase::kBetweenMembers;
  bool input_ended_ = false;
  bool finished_ = false;
  bool failed_ = false;
  std::string problem_;
};

// The reset is not documented to leave the buffer pointers alone: they are put back.
void GzipSource::StartMember() {
  inflate_state& state = *inflater_;
  std::uint8_t* const next_in = state.next_in;
  const std::uint32_t avail_in = state.avail_in;
  std::uint8_t* const next_out = state.next_out;
  const std::uint32_t avail_out = state.avail_out;
  isal_inflate_reset(&state);
  state.next_in = next_in;
  state.avail_in = avail_in;
  state.next_out = next_out;
  state.avail_out = avail_out;
  isal_gzip_header_init(&header_);
  phase_ = Phase::kHeader;
}

std::ptrdiff_t GzipSource::Read(char* buffer, std::size_t capacity) {
  if (failed_) return -1;
  if (finished_ || capacity == 0) return 0;
  inflate_state& state = *inflater_;
  const auto out_size = static_cast<std::uint32_t>(std::min(capacity, kMaxOutput));
  state.next_out = reinterpret_cast<std::uint8_t*>(buffer);
  state.avail_out = out_size;
  for (;;) {
    const std::uint32_t produced = out_size - state.avail_out;
    if (state.avail_in == 0 && !input_ended_) {
      // What is decoded goes out before a pipe is waited on for more.
      if (produced > 0) return produced;
      const std::ptrdiff_t got =
          compressed_->Read(reinterpret_cast<char*>(input_.get()), kInputSize);
      if (got < 0) return Fail(compressed_->Problem());
      input_ended_ = got == 0;
      state.next_in = input_.get();
      state.avail_in = static_cast<std::uint32_t>(got);
    }
    if (phase_ == Phase::kBetweenMembers) {
      // Zero bytes between and after members are padding, as block devices and tape
      // archives leave it; anything else must start another member.
      while (state.avail_in > 0 && *state.next_in == 0) {
        ++state.next_in;
        --state.avail_in;
      }
      if (state.avail_in == 0) {
        if (!input_ended_) continue;
        finished_ = true;
        return produced;
      }
      if (*state.next_in != static_cast<std::uint8_t>(kGzipMagic[0])) {
        return Fail("corrupt compressed data (bytes after a gzip member start no other member)");
      }
      StartMember();
    }
    const std::uint32_t in_before = state.avail_in;
    const std::uint32_t out_before = state.avail_out;
    if (phase_ == Phase::kHeader) {
      const int result = isal_read_gzip_header(&state, &header_);
      if (result == ISAL_DECOMP_OK) {
        // The deflate data follows; the trailer's CRC and length are checked at its end.
        state.crc_flag = ISAL_GZIP_NO_HDR_VER;
        phase_ = Phase::kBody;
        continue;
      }
      if (result != ISAL_END_INPUT) return Fail(DescribeInflateError(result));
    } else {
      const int result = isal_inflate(&state);
      if (result < 0) return Fail(DescribeInflateError(result));
      if (state.block_state == ISAL_BLOCK_FINISH) {
        phase_ = Phase::kBetweenMembers;
        continue;
      }
      if (state.avail_out == 0) return out_size;
    }
    if (input_ended_ && state.avail_in == in_before && state.avail_out == out_before) {
      return Fail("truncated compressed data: the file ends inside a gzip member");
    }
  }
}

}  // namespace

bool IsStandardInput(const std::string& file_name) { return file_name == "-"; }

std::unique_ptr<ByteSource> OpenRawInput(const std::string& file_name) {
  if (IsStandardInput(file_name)) return std::make_unique<FileDescriptorSource>(0, false);
  return OpenFileSource(file_name);
}

std::unique_ptr<ByteSource> OpenInputSource(const std::string& file_name, std::string& problem) {
  problem.clear();
  std::unique_ptr<ByteSource> raw = OpenRawInput(file_name);
  if (raw == nullptr) return nullptr;
  return DecodeInputSource(std::move(raw), problem);
}

std::unique_ptr<ByteSource> DecodeInputSource(std::unique_ptr<ByteSource> raw,
                                              std::string& problem) {
  problem.clear();
  // A pipe may hand over fewer bytes than asked for: read until the head is full.
  std::string head(kPeekSize, '\0');
  std::size_t filled = 0;
  bool failed = false;
  while (filled < kPeekSize) {
    const std::ptrdiff_t got = raw->Read(head.data() + filled, kPeekSize - filled);
    if (got <= 0) {
      failed = got < 0;
      break;
    }
    filled += static_cast<std::size_t>(got);
  }
  head.resize(filled);
  for (const UnreadFormat& format : kUnreadFormats) {
    if (Matches(format, head)) {
      problem = "is compressed with " + std::string(format.name) +
                ", which is not read; decompress it first (" + std::string(format.command) + ")";
      return nullptr;
    }
  }
  const bool gzip = StartsWith(head, kGzipMagic);
  std::unique_ptr<ByteSource> bytes =
      std::make_unique<ReplaySource>(std::move(raw), std::move(head), failed);
  if (gzip) bytes = std::make_unique<GzipSource>(std::move(bytes));
  return std::make_unique<TextOnlySource>(std::move(bytes));
}

void PrintReadProblem(const std::string& file_name, const ByteSource& source) {
  const std::string what = source.Problem();
  if (what.empty()) {
    PrintReadFailed(file_name);
  } else {
    PrintBadInput(file_name, source.ProblemLine(), what);
  }
}

SourceStreamBuf::SourceStreamBuf(ByteSource& source)
    : source_(source), buffer_(std::make_unique_for_overwrite<char[]>(kBlockSize)) {}

SourceStreamBuf::int_type SourceStreamBuf::underflow() {
  if (gptr() < egptr()) return traits_type::to_int_type(*gptr());
  if (at_end_) return traits_type::eof();
  const std::ptrdiff_t got = source_.Read(buffer_.get(), kBlockSize);
  if (got <= 0) {
    at_end_ = true;
    if (got < 0) {
      failed_ = true;
      problem_ = source_.Problem();
      if (stream_ != nullptr) stream_->setstate(std::ios::badbit);
    }
    return traits_type::eof();
  }
  setg(buffer_.get(), buffer_.get(), buffer_.get() + got);
  return traits_type::to_int_type(*gptr());
}

SourceStream::SourceStream(ByteSource& source) : std::istream(nullptr), buffer_(source) {
  rdbuf(&buffer_);
  buffer_.ReportFailureTo(*this);
}
