#include "sequences/fasta_reader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <utility>
#include <vector>

namespace {

// Hands out its bytes `step` at a time, so that lines, headers and line ends cross reads;
// fails instead of ending when `fail_at_end` is set.
class TrickleSource : public ByteSource {
 public:
  TrickleSource(std::string_view bytes, std::size_t step, bool fail_at_end = false)
      : bytes_(bytes), step_(step), fail_at_end_(fail_at_end) {}
  std::ptrdiff_t Read(char* buffer, std::size_t capacity) override {
    if (bytes_.empty()) return fail_at_end_ ? -1 : 0;
    const std::size_t count = std::min({capacity, step_, bytes_.size()});
    std::memcpy(buffer, bytes_.data(), count);
    bytes_.remove_prefix(count);
    return static_cast<std::ptrdiff_t>(count);
  }

 private:
  std::string_view bytes_;
  std::size_t step_;
  bool fail_at_end_;
};

using Records = std::vector<std::pair<std::string, std::string>>;  // header, residue letters

// Every record of `source`, the residues taken `piece` at a time.
Records ReadAll(ByteSource& source, std::size_t piece) {
  FastaReader reader(source);
  Records records;
  std::string header;
  std::vector<NucleotideCode> codes;
  while (reader.NextHeader(header)) {
    codes.clear();
    while (reader.AppendResidues(codes, piece) > 0) {
    }
    std::string letters;
    for (const NucleotideCode code : codes) letters += NucleotideLetter(code);
    records.emplace_back(header, letters);
  }
  return records;
}

TEST(FastaReader, SameRecordsWhateverTheReadSizeAndPieceSize) {
  const struct {
    std::string input;
    Records records;
  } cases[] = {
      {">s1\tpeak\t12.5\nACGT\nacgtn\n", {{">s1\tpeak\t12.5", "ACGTACGT+"}}},
      {">a\n>b\nAC\n", {{">a", ""}, {">b", "AC"}}},
      {"", {}},
      {"ACGT\nAC\n", {}},
      {"GG\n>x\nAC\nGT", {{">x", "ACGT"}}},
      {">x\nA\n >s2\n", {{">x", "AS"}}},
      {">x\nAC GT*12NN\n", {{">x", "ACGT++"}}},
      {">", {{">", ""}}},
      {">\n>\n", {{">", ""}, {">", ""}}},
      {">s\t15.5\r\nAC\r\nGT\r\n", {{">s\t15.5\r", "ACGT"}}},
      {">x\n\nA>C\n\n>y\nRY-\n", {{">x", "AC"}, {">y", "RY-"}}},
      {std::string(">a\0b\nA\0C\n", 9), {{std::string(">a\0b", 4), "AC"}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.input);
    for (const std::size_t step : {std::size_t{1}, std::size_t{3}, std::size_t{1} << 20}) {
      for (const std::size_t piece : {std::size_t{1}, std::size_t{2}, std::size_t{1} << 30}) {
        TrickleSource source(c.input, step);
        EXPECT_EQ(ReadAll(source, piece), c.records) << "step " << step << ", piece " << piece;
      }
    }
  }
}

TEST(FastaReader, RecordsLeftUnreadAreSkippedAndAFailedReadEndsTheInput) {
  TrickleSource source(">a\nACGT\nACGT\n>b\nGG", 2, /*fail_at_end=*/true);
  FastaReader reader(source);
  std::string header;
  std::vector<NucleotideCode> codes;
  ASSERT_TRUE(reader.NextHeader(header));
  EXPECT_EQ(reader.AppendResidues(codes, 3), 3u);
  ASSERT_TRUE(reader.NextHeader(header));
  EXPECT_EQ(header, ">b");
  FastaRecord record;
  EXPECT_FALSE(reader.failed());
  EXPECT_EQ(reader.AppendResidues(codes, 10), 2u);
  EXPECT_FALSE(reader.Next(record));
  EXPECT_TRUE(reader.failed());
}

TEST(FastaReader, ByteCodesAreTheCodesOnAnyText) {
  // Runs of bases in either case, which byte codes take sixteen at a time, broken by every
  // other byte value, line ends and headers; read in pieces of random size both ways.
  std::mt19937 random(20261210);
  for (int round = 0; round < 200; ++round) {
    std::string text;
    while (text.size() < 3000) {
      const int run = std::uniform_int_distribution<int>(0, 50)(random);
      for (int i = 0; i < run; ++i) text += "ACGTacgt"[random() % 8];
      text += random() % 4 == 0 ? '\n' : static_cast<char>(random() % 256);
    }
    const std::size_t piece = std::uniform_int_distribution<std::size_t>(1, 2000)(random);
    TrickleSource codes_source(text, 1 << 20);
    TrickleSource bytes_source(text, 1 << 20);
    FastaReader codes_reader(codes_source);
    FastaReader bytes_reader(bytes_source);
    std::string header;
    std::vector<NucleotideCode> codes;
    std::vector<std::uint8_t> bytes;
    for (;;) {
      const std::size_t got = codes_reader.AppendResidues(codes, piece);
      ASSERT_EQ(bytes_reader.AppendResidues(bytes, piece), got);
      if (got > 0) continue;
      const bool more = codes_reader.NextHeader(header);
      ASSERT_EQ(bytes_reader.NextHeader(header), more);
      if (!more) break;
    }
    ASSERT_TRUE(std::equal(codes.begin(), codes.end(), bytes.begin(), bytes.end()))
        << "round " << round;
  }
}

}  // namespace
