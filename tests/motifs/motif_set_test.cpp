#include "motifs/motif_set.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "sequences/dna_sequence.h"
#include "tests/support/temp_dir.h"

namespace {

using test_support::ReadFile;
using test_support::TempDir;
using test_support::WriteFile;

MotifSet Load(const std::string& content) {
  TempDir dir;
  WriteFile(dir.File("m.mot"), content);
  MotifSet set;
  EXPECT_EQ(set.fload(dir.File("m.mot")), 0);
  EXPECT_EQ(set.name, dir.File("m.mot"));
  EXPECT_EQ(set.count, set.motifs.size());
  return set;
}

std::string Words(const MotifSet& set) {
  std::string words;
  for (const IUPAC_Motif& motif : set.motifs) words += motif.MotifString(0, 0) + ' ';
  return words;
}

TEST(MotifFile, ReadsTextAndThreeValues) {
  MotifSet set = Load("acgt\t1\t2\t3\n");
  ASSERT_EQ(set.count, 1u);
  EXPECT_EQ(set.motifs[0].length, 4u);
  EXPECT_EQ(set.motifs[0].MotifString(0, 0), "ACGT");
  EXPECT_EQ(set.motifs[0].value1, 1);
  EXPECT_EQ(set.motifs[0].value2, 2);
  EXPECT_EQ(set.motifs[0].value3, 3);

  // Blanks as separators, blanks after the tab, trailing text and a carriage return.
  set = Load("GATC\t  1.5 -2 3e2 name\r\nCCWGG\t4\t5\t6\r\n");
  ASSERT_EQ(set.count, 2u);
  EXPECT_EQ(set.motifs[0].value1, 1.5);
  EXPECT_EQ(set.motifs[0].value2, -2);
  EXPECT_EQ(set.motifs[0].value3, 300);
  EXPECT_EQ(set.motifs[1].value3, 6);
}

TEST(MotifFile, ListEndsAtTheFirstLineThatIsNoMotifLine) {
  EXPECT_EQ(Words(Load("AC\t0\t0\t0\nGT\t0\t0\t0\n\nTT\t0\t0\t0\n")), "AC GT ");
  EXPECT_EQ(Load("#motifs\nAC\t0\t0\t0\n").count, 0u);
  EXPECT_EQ(Load("1AC\t0\t0\t0\n").count, 0u);
  EXPECT_EQ(Load("-AC\t0\t0\t0\n").count, 0u);
  EXPECT_EQ(Load("").count, 0u);
  // A malformed line after the end of the list is never read.
  EXPECT_EQ(Words(Load("AC\t1\t2\t3\n \nAUC\tx\n")), "AC ");
  // No final line feed; the same text twice gives two motifs.
  EXPECT_EQ(Words(Load("AC\t0\t0\t0\nAC\t0\t0\t0")), "AC AC ");
}

TEST(MotifFile, BareMotifWordsHaveZeroValues) {
  const MotifSet set = Load("gaattc\nGGATCC\r\nYGGCCR");
  EXPECT_EQ(Words(set), "GAATTC GGATCC YGGCCR ");
  EXPECT_EQ(set.motifs[1].value1, 0);
  EXPECT_EQ(set.motifs[1].length, 6u);
}

TEST(MotifFile, MalformedLinesStopWithFileLineAndReason) {
  TempDir dir;
  const std::string file = dir.File("bad.mot");
  const struct {
    const char* content;
    const char* message;
  } cases[] = {
      {"ACGT\t1\t2\t3\nACGU\t1\t2\t3\n",
       ":2: motif 'ACGU' holds 'U' at position 4, which is not an IUPAC symbol "
       "\\(one of ATGCRYMKWSBVHDN-\\+\\)\n$"},
      {"AC GT\n", ":1: motif 'AC GT' holds a blank at position 3"},
      {"AC1\t1\t2\t3\n", ":1: motif 'AC1' holds '1' at position 3"},
      {"AC\t1\t2\n", ":1: expected three numbers after the tab of motif 'AC', found 2"},
      {"AC\t\n", ":1: expected three numbers after the tab of motif 'AC', found 0"},
      {"AC\tn/a\t1\t2\n", ":1: expected three numbers after the tab of motif 'AC', found 0"},
      {"AC\t1\t1e999\t2\n", ":1: expected three numbers after the tab of motif 'AC', found 1"},
  };
  for (const auto& bad : cases) {
    SCOPED_TRACE(bad.content);
    WriteFile(file, bad.content);
    MotifSet set;
    EXPECT_EXIT(set.fload(file), ::testing::ExitedWithCode(1),
                "^.*bad\\.mot" + std::string(bad.message));
  }
}

TEST(ReadMotifs, ReturnsTheMotifsBeforeAMalformedLineAndWhatIsWrongWithIt) {
  const struct {
    const char* content;
    const char* words;
    std::size_t error_line;  // 0: no error
    const char* error_start;
  } cases[] = {
      {"AC\t1\t2\t3\nGT\t0 0 0\r\n\nTT\t0\t0\t0\n", "AC GT ", 0, ""},
      {"gaattc\r\n#end\nAUC\n", "GAATTC ", 0, ""},
      {"AC\t1\t2\t3\nGT\t1\t2\t3\nAUC\t1\t2\t3\n", "AC GT ", 3, "motif 'AUC' holds 'U'"},
      {"AC\t1\t2\n", "", 1, "expected three numbers after the tab of motif 'AC', found 2"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.content);
    std::istringstream in(c.content);
    MotifSet set;
    const std::optional<LineError> error = ReadMotifs(in, set);
    EXPECT_EQ(Words(set), c.words);
    EXPECT_EQ(set.count, set.motifs.size());
    ASSERT_EQ(error.has_value(), c.error_line != 0);
    if (error) {
      EXPECT_EQ(error->line_number, c.error_line);
      EXPECT_EQ(error->what.rfind(c.error_start, 0), 0u) << error->what;
    }
  }
}

TEST(MotifFile, MissingFileExitsWithCodeOne) {
  MotifSet set;
  EXPECT_EXIT(set.fload("missing.mot"), ::testing::ExitedWithCode(1),
              "^Can't open missing\\.mot file\\.\n$");
}

TEST(MotifFile, LoadersRefuseBinaryDataAndUnreadCompressionByFileAndLine) {
  TempDir dir;
  WriteFile(dir.File("nul.mot"), std::string("ACGT\t1 2 3\nTT\0A\t0 0 0\n", 22));
  WriteFile(dir.File("xz.mot"), std::string("\xFD"
                                            "7zXZ\0rest",
                                            10));
  WriteFile(dir.File("gz_after.fa"), std::string(">a\t1\nAC\n\x1F\x8B\x08\0\0", 13));
  MotifSet set;
  EXPECT_EXIT(set.fload(dir.File("nul.mot")), ::testing::ExitedWithCode(1),
              "nul\\.mot:2: holds binary data \\(a NUL byte\\); is it compressed\\?\n$");
  EXPECT_EXIT(set.fload(dir.File("xz.mot")), ::testing::ExitedWithCode(1),
              "xz\\.mot: is compressed with xz, which is not read; decompress it first "
              "\\(xz -d\\)\n$");
  SeqSet sequences;
  EXPECT_EXIT(sequences.fload(dir.File("gz_after.fa")), ::testing::ExitedWithCode(1),
              "gz_after\\.fa:3: holds binary data \\(a NUL byte\\); is it compressed\\?\n$");
}

TEST(MotifFile, SaveAndLoadRoundTripAtSixDigits) {
  TempDir dir;
  MotifSet set = Load("tgtgannnnnntcaca\t16\t6.123456789\t0\nGATC\t-1e-7\t2\t3\n");
  set.fsave(dir.File("out.mot"));
  EXPECT_EQ(ReadFile(dir.File("out.mot")),
            "TGTGANNNNNNTCACA\t16\t6.12346\t0\nGATC\t-1e-07\t2\t3\n");
  MotifSet again;
  again.fload(dir.File("out.mot"));
  EXPECT_EQ(Words(again), "TGTGANNNNNNTCACA GATC ");
  EXPECT_EQ(again.motifs[0].value2, 6.12346);

  std::ostringstream printed;
  set.PrintWithValues(printed, 1, 0, 1);
  EXPECT_EQ(printed.str(), "TGTGANNNNNNTCACA\t16\t6\t0\nGATC\t0\t2\t3\n");
}

TEST(MotifSet, StreamOperatorsAndConstructors) {
  std::istringstream in("AC\t1\t2\t3\nGT\t4\t5\t6\n\nTT\t0\t0\t0\n");
  MotifSet set(1u, 3u);
  in >> set;
  EXPECT_EQ(Words(set), "AAA AC GT ");
  EXPECT_TRUE(in.good());

  std::istringstream bad("AC\t1\t2\t3\nAUC\t1\t2\t3\nGT\t4\t5\t6\n");
  MotifSet partial;
  bad >> partial;
  EXPECT_EQ(Words(partial), "AC ");
  EXPECT_TRUE(bad.fail());

  IUPAC_Motif motif("GG");
  std::istringstream not_motif("# comment\n");
  not_motif >> motif;
  EXPECT_EQ(motif.MotifString(0, 0), "GG");
  EXPECT_FALSE(not_motif.fail());

  EXPECT_EQ(MotifSet(2u).count, 2u);
  EXPECT_EQ(MotifSet(2u).motifs[1].length, 0u);
}

}  // namespace
