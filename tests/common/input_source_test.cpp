#include "common/input_source.h"

#include <gtest/gtest.h>
#include <isa-l/igzip_lib.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <random>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "tests/support/temp_dir.h"

namespace {

std::string RandomFasta(std::size_t lines) {
  std::mt19937 random(5);
  std::string text;
  for (std::size_t line = 0; line < lines; ++line) {
    if (line % 8 == 0) text += ">seq" + std::to_string(line);
    for (int base = 0; line % 8 != 0 && base < 60; ++base) text += "ACGT"[random() % 4];
    text += '\n';
  }
  return text;
}

// One gzip member, as an independent compressor writes it.
std::string Gzip(std::string_view text) {
  isal_zstream stream;
  isal_deflate_init(&stream);
  stream.gzip_flag = IGZIP_GZIP;
  stream.end_of_stream = 1;
  std::string out(text.size() + text.size() / 8 + 1024, '\0');
  stream.next_in = reinterpret_cast<std::uint8_t*>(const_cast<char*>(text.data()));
  stream.avail_in = static_cast<std::uint32_t>(text.size());
  stream.next_out = reinterpret_cast<std::uint8_t*>(out.data());
  stream.avail_out = static_cast<std::uint32_t>(out.size());
  EXPECT_EQ(isal_deflate(&stream), COMP_OK);
  EXPECT_EQ(stream.internal_state.state, ZSTATE_END);
  out.resize(stream.total_out);
  return out;
}

// Hands out `bytes` in pieces of `piece` bytes, then the end, or once a failed read and
// then the end, so that a failure must be remembered by the reader above.
class PieceSource : public ByteSource {
 public:
  PieceSource(std::string_view bytes, std::size_t piece, bool fail_at_end)
      : bytes_(bytes), piece_(piece), fail_at_end_(fail_at_end) {}
  std::ptrdiff_t Read(char* buffer, std::size_t capacity) override {
    if (bytes_.empty()) return std::exchange(fail_at_end_, false) ? -1 : 0;
    const std::size_t count = std::min({capacity, piece_, bytes_.size()});
    std::copy_n(bytes_.data(), count, buffer);
    bytes_.remove_prefix(count);
    return static_cast<std::ptrdiff_t>(count);
  }

 private:
  std::string_view bytes_;
  std::size_t piece_;
  bool fail_at_end_;
};

struct Drained {
  bool failed = false;
  std::string text;
  std::string problem;
};

Drained Drain(ByteSource& source, std::size_t capacity) {
  Drained result;
  std::vector<char> block(capacity);
  for (std::ptrdiff_t got; (got = source.Read(block.data(), capacity)) != 0;) {
    if (got < 0) return {true, result.text, source.Problem()};
    result.text.append(block.data(), static_cast<std::size_t>(got));
  }
  return result;
}

// The member with an extra field in its header, as block-compressing tools write it.
std::string WithExtraField(const std::string& member) {
  const std::string extra_field("\x06\x00\x42\x43\x02\x00\x1b\x00", 8);
  const char flags = static_cast<char>(member[3] | 0x04);
  return member.substr(0, 3) + flags + member.substr(4, 6) + extra_field + member.substr(10);
}

std::string Flip(std::string bytes, std::size_t position) {
  bytes[position] = static_cast<char>(bytes[position] ^ 0x55);
  return bytes;
}

TEST(DecodeInputSource, DeliversPlainAndGzipBytesOrSaysWhatIsWrong) {
  const std::string text = RandomFasta(3000);
  const std::string gz = Gzip(text);
  const std::string second = Gzip("ACGT\n");
  const std::string kTruncated = "truncated compressed data: the file ends inside a gzip member";
  struct Case {
    std::string input;
    bool fail_at_end;
    std::string expected;  // the text delivered, or the start of the problem after -1
    bool failed;
  } cases[] = {
      {text, false, text, false},
      {"", false, "", false},
      {"\x1f", false, "\x1f", false},
      {"BZh91 starts a line of text\n", false, "BZh91 starts a line of text\n", false},
      {gz, false, text, false},
      {gz + second, false, text + "ACGT\n", false},
      {Gzip("") + gz + std::string(600, '\0') + second + std::string(9, '\0'), false,
       text + "ACGT\n", false},
      {WithExtraField(gz) + WithExtraField(second) + WithExtraField(Gzip("")), false,
       text + "ACGT\n", false},
      {gz + "trailing text", false, "corrupt compressed data (bytes after a gzip member", true},
      {"\x1f\x8b", false, kTruncated, true},
      {gz.substr(0, gz.size() / 2), false, kTruncated, true},
      {gz.substr(0, gz.size() - 1), false, kTruncated, true},
      {gz.substr(0, gz.size() / 2), true, "", true},
      {"ACGT", true, "", true},
      {Flip(gz, 2), false, "corrupt compressed data (unknown gzip compression method)", true},
      {Flip(gz, gz.size() / 2), false, "corrupt compressed data (", true},
      {Flip(gz, gz.size() - 7), false, "corrupt compressed data (CRC or length mismatch)", true},
      {Flip(gz, gz.size() - 2), false, "corrupt compressed data (CRC or length mismatch)", true},
  };
  for (const Case& test : cases) {
    // Whole blocks, and one byte at a time in and out, so that every boundary is crossed.
    for (const std::size_t piece : {std::size_t{1} << 20, std::size_t{1}}) {
      SCOPED_TRACE(::testing::Message() << "case " << &test - cases << " piece " << piece);
      std::string problem = "stale";
      auto source = DecodeInputSource(
          std::make_unique<PieceSource>(test.input, piece, test.fail_at_end), problem);
      ASSERT_NE(source, nullptr);
      EXPECT_EQ(problem, "");
      const Drained got = Drain(*source, piece == 1 ? 7 : piece);
      EXPECT_EQ(got.failed, test.failed) << got.problem;
      if (!test.failed) {
        EXPECT_TRUE(got.text == test.expected);
      } else if (test.expected.empty()) {
        EXPECT_EQ(got.problem, "");
      } else {
        EXPECT_TRUE(got.problem.starts_with(test.expected)) << got.problem;
      }
    }
  }
}

TEST(DecodeInputSource, StopsAtTheFirstNulByteNamingItsLine) {
  const std::string gz = Gzip(RandomFasta(30));
  const struct {
    std::string input;
    std::string delivered;  // the text before the NUL byte
    std::size_t line;
  } cases[] = {
      {std::string("\0", 1), "", 1},
      {std::string(">s\t1\nAC\0GT\n", 11), ">s\t1\nAC", 2},
      {Gzip(std::string("AC\nGT\n\0", 7)), "AC\nGT\n", 3},
      // FASTA text followed by a gzip member, as `cat a.fa b.fa.gz` makes it.
      {">a\t1\nACGT\n>b\t2\nTT\n" + gz, ">a\t1\nACGT\n>b\t2\nTT\n\x1f\x8b\x08", 5},
      // A gzip file whose magic lost a bit.
      {Flip(gz, 1), Flip(gz, 1).substr(0, 3), 1},
  };
  for (const auto& test : cases) {
    for (const std::size_t piece : {std::size_t{1} << 20, std::size_t{1}}) {
      SCOPED_TRACE(::testing::Message() << "case " << &test - cases << " piece " << piece);
      std::string problem;
      auto source =
          DecodeInputSource(std::make_unique<PieceSource>(test.input, piece, false), problem);
      ASSERT_NE(source, nullptr);
      const Drained got = Drain(*source, piece == 1 ? 7 : piece);
      EXPECT_TRUE(got.failed);
      EXPECT_EQ(got.text, test.delivered);
      EXPECT_EQ(got.problem, "holds binary data (a NUL byte); is it compressed?");
      EXPECT_EQ(source->ProblemLine(), test.line);
    }
  }
}

TEST(SourceStream, GetlineReadsGzipLinesAndTurnsBadOnCorruptData) {
  const std::string gz = Gzip("s1\t2.5\nACGT\nlast");
  std::vector<std::string> lines;
  std::string problem, line;
  auto source = DecodeInputSource(std::make_unique<PieceSource>(gz, 3, false), problem);
  SourceStream in(*source);
  while (std::getline(in, line)) lines.push_back(line);
  EXPECT_EQ(lines, (std::vector<std::string>{"s1\t2.5", "ACGT", "last"}));
  EXPECT_FALSE(in.bad());

  const std::string corrupt = Flip(gz, gz.size() - 6);
  source = DecodeInputSource(std::make_unique<PieceSource>(corrupt, 1 << 20, false), problem);
  SourceStream bad_in(*source);
  while (std::getline(bad_in, line)) ADD_FAILURE() << "a line from corrupt data: " << line;
  EXPECT_TRUE(bad_in.bad());
  EXPECT_TRUE(bad_in.failed());
  EXPECT_EQ(bad_in.problem(), "corrupt compressed data (CRC or length mismatch)");
}

// Files and standard input as the programs open them, written by the compressors.
TEST(OpenInputSource, ReadsFilesAndAPipeOnStandardInput) {
  test_support::TempDir folder;
  const std::string text = RandomFasta(800);
  test_support::WriteFile(folder.File("a.fa"), text);
  std::string problem = "stale";
  EXPECT_EQ(OpenInputSource(folder.File("missing.fa"), problem), nullptr);
  EXPECT_EQ(OpenInputSource(folder.path().string(), problem), nullptr);
  EXPECT_EQ(problem, "");

  // Each compressor that is installed writes the file; where it is missing, its first
  // bytes stand in.
  const auto compress = [&](const std::string& command, const std::string& name) {
    const std::string line = command + " < " + folder.File("a.fa") + " > " + folder.File(name);
    return std::system((line + " 2>/dev/null").c_str()) == 0;
  };
  const std::pair<std::string, std::string> unread_formats[] = {
      {"xz", std::string("\xFD\x37\x7A\x58\x5A\x00\x00\x04", 8)},
      {"bzip2", "BZh91AY&SY"},
      {"zstd", "\x28\xB5\x2F\xFD\x24"},
      {"lz4", "\x04\x22\x4D\x18\x64"},
      {"zip", "PK\x03\x04\x14"}};
  for (const auto& [format, head] : unread_formats) {
    if (!compress(format == "zip" ? "zip -q -" : format + " -c", format)) {
      test_support::WriteFile(folder.File(format), head);
    }
    EXPECT_EQ(OpenInputSource(folder.File(format), problem), nullptr);
    EXPECT_TRUE(problem.starts_with("is compressed with " + format +
                                    ", which is not read; decompress it first ("))
        << problem;
  }
  std::string compressed = Gzip(text);
  if (compress("gzip -c", "a.gz")) {
    compressed = test_support::ReadFile(folder.File("a.gz"));
    auto source = OpenInputSource(folder.File("a.gz"), problem);
    ASSERT_NE(source, nullptr);
    EXPECT_TRUE(Drain(*source, 4096).text == text);
  }

  int pipe_ends[2];
  ASSERT_EQ(::pipe(pipe_ends), 0);
  const int saved_input = ::dup(0);
  ::dup2(pipe_ends[0], 0);
  ::close(pipe_ends[0]);
  std::thread writer([&] {
    EXPECT_EQ(::write(pipe_ends[1], compressed.data(), compressed.size()),
              static_cast<std::ptrdiff_t>(compressed.size()));
    ::close(pipe_ends[1]);
  });
  auto source = OpenInputSource("-", problem);
  const Drained got = source ? Drain(*source, 1 << 16) : Drained{true, "", problem};
  writer.join();
  ::dup2(saved_input, 0);
  ::close(saved_input);
  EXPECT_FALSE(got.failed);
  EXPECT_TRUE(got.text == text);
}

}  // namespace
