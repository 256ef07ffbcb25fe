#include "sequences/dna_sequence.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "tests/support/temp_dir.h"

namespace {

using test_support::ReadFile;
using test_support::TempDir;
using test_support::WriteFile;
using Codes = std::vector<NucleotideCode>;

SeqSet LoadFasta(const std::string& content) {
  TempDir dir;
  WriteFile(dir.File("in.fa"), content);
  SeqSet set;
  EXPECT_EQ(set.fload(dir.File("in.fa")), 0);
  EXPECT_EQ(set.count, set.sequences.size());
  return set;
}

TEST(CharToNucleotideCode, MapsEveryByte) {
  const std::string symbols = "ATGCRYMKWSBVHD";
  for (int byte = 0; byte < 256; ++byte) {
    const char c = static_cast<char>(byte);
    NucleotideCode expected = 17;
    const std::size_t upper = symbols.find(static_cast<char>(std::toupper(byte)));
    if (byte < 128 && upper != std::string::npos) expected = static_cast<NucleotideCode>(upper);
    if (c == '-') expected = 15;
    if (c == 'N' || c == 'n' || c == '+') expected = 16;
    EXPECT_EQ(CharToNucleotideCode(c), expected) << "byte " << byte;
  }
}

TEST(FastaReader, ReadsHeaderVerbatimAndResiduesAsCodes) {
  const SeqSet set = LoadFasta(">s1\tpeak\t12.5\nACGT\nacgtn\n");
  ASSERT_EQ(set.count, 1u);
  EXPECT_EQ(set.sequences[0].descr, ">s1\tpeak\t12.5");
  EXPECT_EQ(set.sequences[0].length, 9u);
  EXPECT_EQ(set.sequences[0].codes, (Codes{0, 3, 2, 1, 0, 3, 2, 1, 16}));
  EXPECT_TRUE(set.sequences[0].textFields.empty());
  EXPECT_TRUE(set.sequences[0].intFields.empty());
}

TEST(FastaReader, OddLayouts) {
  // Two headers in a row: the first record is empty.
  SeqSet set = LoadFasta(">a\n>b\nAC\n");
  ASSERT_EQ(set.count, 2u);
  EXPECT_EQ(set.sequences[0].length, 0u);
  EXPECT_EQ(set.sequences[1].codes, (Codes{0, 3}));

  // No header at all, or an empty file: nothing.
  EXPECT_EQ(LoadFasta("").count, 0u);
  EXPECT_EQ(LoadFasta("ACGT\nACGT\n").count, 0u);

  // Residues before the first header are dropped; no final line feed is fine.
  set = LoadFasta("GGGG\n>x\nAC\nGT");
  ASSERT_EQ(set.count, 1u);
  EXPECT_EQ(set.sequences[0].codes, (Codes{0, 3, 2, 1}));

  // A line with a blank before ">" is residue text: only its S is a residue.
  set = LoadFasta(">x\nA\n >s2\n");
  ASSERT_EQ(set.count, 1u);
  EXPECT_EQ(set.sequences[0].codes, (Codes{0, 9}));

  // Blanks, stars and digits are dropped; N is held as 16.
  set = LoadFasta(">x\nAC GT*12NN\n");
  EXPECT_EQ(set.sequences[0].codes, (Codes{0, 3, 2, 1, 16, 16}));

  // A header that is only ">".
  set = LoadFasta(">\n");
  ASSERT_EQ(set.count, 1u);
  EXPECT_EQ(set.sequences[0].descr, ">");

  // Blank lines between residue lines add nothing.
  set = LoadFasta(">x\nAC\n\n\nGT\n\n");
  EXPECT_EQ(set.sequences[0].length, 4u);
}

TEST(FastaReader, CarriageReturnStaysInHeaderAndLeavesResidues) {
  const SeqSet set = LoadFasta(">s\t15.5\r\nAC\r\nGT\r\n");
  ASSERT_EQ(set.count, 1u);
  EXPECT_EQ(set.sequences[0].descr, ">s\t15.5\r");
  EXPECT_EQ(set.sequences[0].codes, (Codes{0, 3, 2, 1}));
}

TEST(FastaReader, LoadingTwiceAppends) {
  TempDir dir;
  WriteFile(dir.File("in.fa"), ">a\nAC\n>b\nG\n");
  SeqSet set;
  set.fload(dir.File("in.fa"));
  set.fload(dir.File("in.fa"));
  ASSERT_EQ(set.count, 4u);
  EXPECT_EQ(set.sequences[2].descr, ">a");
  EXPECT_EQ(set.sequences[3].codes, (Codes{2}));
}

TEST(FastaReader, MissingFileExitsWithCodeOne) {
  SeqSet set;
  EXPECT_EXIT(set.fload("no_such_dir/missing.fa"), ::testing::ExitedWithCode(1),
              "^Can't open no_such_dir/missing\\.fa file\\.\n$");
}

TEST(DNA_Sequence, SubsequenceTextStaysWithinTheCodes) {
  DNA_Sequence sequence;
  sequence.setResidues("ACGTACG");
  EXPECT_EQ(sequence.subsequenceText(2, 3), "GTA");
  EXPECT_EQ(sequence.subsequenceText(5, 10), "CG");
  EXPECT_EQ(sequence.subsequenceText(7, 1), "");
  EXPECT_EQ(sequence.subsequenceText(4000000000u, 4000000000u), "");
  sequence.setResidues("n+-");
  EXPECT_EQ(sequence.subsequenceText(0, 3), "++-");
}

TEST(SeqSet, AddAndAppendFromCopyEveryMember) {
  DNA_Sequence sequence;
  sequence.descr = ">q";
  sequence.setResidues("GATTACA");
  sequence.textFields = {"geneA", "unused"};
  sequence.intFields = {1200};

  SeqSet other;
  other.name = "other set";
  other.add(sequence);
  other.add(other.sequences[0]);  // adding an element of the set itself is safe
  ASSERT_EQ(other.count, 2u);

  SeqSet set;
  set.name = "mine";
  DNA_Sequence first;
  first.descr = ">first";
  set.add(first);
  set.appendFrom(other);
  ASSERT_EQ(set.count, 3u);
  EXPECT_EQ(set.name, "other set");
  EXPECT_EQ(set.sequences[0].descr, ">first");
  for (std::size_t i : {1u, 2u}) {
    EXPECT_EQ(set.sequences[i].descr, ">q");
    EXPECT_EQ(set.sequences[i].length, 7u);
    EXPECT_EQ(set.sequences[i].codes, sequence.codes);
    EXPECT_EQ(set.sequences[i].textFields, sequence.textFields);
    EXPECT_EQ(set.sequences[i].intFields, sequence.intFields);
  }

  set.appendFrom(set);
  EXPECT_EQ(set.count, 6u);
  EXPECT_EQ(set.sequences[3].descr, ">first");
}

TEST(FastaWriter, RecordLayoutInLinesOfFifty) {
  const auto record = [](std::size_t residues) {
    DNA_Sequence sequence;
    sequence.descr = ">r";
    sequence.setResidues(std::string(residues, 'g'));
    std::ostringstream out;
    sequence.writeRecord(out);
    return out.str();
  };
  EXPECT_EQ(record(0), ">r\n");
  EXPECT_EQ(record(3), ">r\nGGG");
  EXPECT_EQ(record(50), ">r\n" + std::string(50, 'G') + "\n");
  EXPECT_EQ(record(120), ">r\n" + std::string(50, 'G') + "\n" + std::string(50, 'G') + "\n" +
                             std::string(20, 'G'));
}

TEST(FastaWriter, SaveWritesUpperCaseAndReplacesTheFile) {
  TempDir dir;
  WriteFile(dir.File("in.fa"), ">x\t7.5\nacgtn\n>y\n" + std::string(100, 'a') + "\n>z\n");
  SeqSet set;
  set.fload(dir.File("in.fa"));
  WriteFile(dir.File("out.fa"), "old content that must go\n");
  set.fsave(dir.File("out.fa"));
  EXPECT_EQ(ReadFile(dir.File("out.fa")), ">x\t7.5\nACGT+\n>y\n" + std::string(50, 'A') + "\n" +
                                              std::string(50, 'A') + "\n\n>z\n\n");

  SeqSet empty;
  empty.fsave(dir.File("empty.fa"));
  EXPECT_EQ(ReadFile(dir.File("empty.fa")), "");
}

TEST(FastaWriter, DescriptionFileListsTheHeaderLines) {
  TempDir dir;
  test_support::ScopedWorkingDir in_dir(dir.path());
  SeqSet set;
  set.name = "peaks";
  DNA_Sequence& sequence = set.AppendSequence();
  sequence.descr = ">s1";
  sequence.setResidues("AC");
  sequence.textFields = {"geneA"};
  sequence.intFields = {1200};
  set.AppendSequence().descr = ">s2";

  set.fsaveWithDescriptions("named.fa");
  EXPECT_EQ(ReadFile("named.fa"), "peaks\n>s1\tgeneA\t1200\nAC\n>s2\n\n");
  EXPECT_EQ(ReadFile(kDescriptionFileName), "peaks\n>s1\tgeneA\t1200\n>s2\n");

  SeqSet empty;
  empty.fsaveWithDescriptions("empty.fa");
  EXPECT_EQ(ReadFile("empty.fa"), "\n");
  EXPECT_EQ(ReadFile(kDescriptionFileName), "\n");
}

TEST(FastaWriter, UnwritableFileExitsWithCodeOne) {
  SeqSet set;
  EXPECT_EXIT(set.fsave("no_such_dir/out.fa"), ::testing::ExitedWithCode(1),
              "^Can't open no_such_dir/out\\.fa file\\.\n$");
}

}  // namespace
