// Sizes past what a field holds are refused, never cut to their lower bits; the limits are
// made small here so that no test needs gigabytes.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "common/byte_source.h"
#include "common/counted_append.h"
#include "common/diagnostics.h"
#include "motifs/motif_set.h"
#include "sequences/dna_sequence.h"

namespace {

TEST(Limits, FullCollectionsLongMotifsAndLongRecordsAreRefused) {
  std::uint32_t count = 0;
  std::vector<int> items;
  for (int i = 0; i < 3; ++i) AppendCounted<int, 3>(count, items) = i;
  EXPECT_THROW((AppendCounted<int, 3>(count, items)), std::length_error);
  EXPECT_EQ(count, 3u);
  EXPECT_EQ(items.size(), 3u);
  EXPECT_FALSE(CanAppendCounted<3>(count));

  IUPAC_Motif motif;
  std::string problem;
  EXPECT_EQ(ParseMotifLine("ACGT\t0\t0\t0", motif, problem, 4), MotifLineKind::kMotif);
  EXPECT_EQ(ParseMotifLine("ACGTA\t0\t0\t0", motif, problem, 4), MotifLineKind::kMalformed);
  EXPECT_EQ(problem, "motif of 5 letters; the longest motif read is 4 letters");

  MemorySource source(">a\nACG\n>b\nAC\nGT\n>c\nA\n");
  SeqSet set;
  EXPECT_EQ(ReadFastaInto(source, set, 3), "record 2 holds 4 residues; a sequence holds at most 3");
  EXPECT_EQ(set.count, 1u);
}

TEST(Limits, SearchesOverTheWholeSequenceReportPositionsPastTheLimitAsTheLimit) {
  // 100 codes past a position limit of 1000, as 2^32 + 100 codes are past the 32-bit one:
  // the search reaches the end, and a position it cannot report reads as the limit.
  std::vector<NucleotideCode> codes(1100, CharToNucleotideCode('A'));
  codes[1090] = CharToNucleotideCode('C');
  IUPAC_Motif motif("C");
  std::uint32_t position = 0;
  int direction = -1;
  EXPECT_EQ(motif.FindFirstAnywhere(codes, MOTORIENT_ANY, position, direction, 1000), 1);
  EXPECT_EQ(position, 1000u);
  EXPECT_EQ(direction, 0);
  EXPECT_EQ(motif.ContainsAnywhere(codes, MOTORIENT_ANY), 1);
  codes[999] = CharToNucleotideCode('G');  // the reverse strand, just within the limit
  EXPECT_EQ(motif.FindFirstAnywhere(codes, MOTORIENT_ANY, position, direction, 1000), 1);
  EXPECT_EQ(position, 999u);
  EXPECT_EQ(direction, 1);
}

TEST(Messages, QuotedInputShowsEveryUnprintableByteEscaped) {
  EXPECT_EQ(Printable(std::string("a\tb\r\n\x1b[31m\x7f\xc3\xa9\0z", 15)),
            "a\\tb\\r\\n\\x1B[31m\\x7F\\xC3\\xA9\\x00z");
  IUPAC_Motif motif;
  std::string problem;
  EXPECT_EQ(ParseMotifLine("AC\x1b[2J\t0\t0\t0", motif, problem), MotifLineKind::kMalformed);
  EXPECT_EQ(problem.find('\x1b'), std::string::npos) << problem;
  EXPECT_NE(problem.find("AC\\x1B[2J"), std::string::npos) << problem;
}

}  // namespace
