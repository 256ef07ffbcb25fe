#include "motifs/iupac_motif.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

namespace {

using Codes = std::vector<NucleotideCode>;

TEST(CharToMotifCode, NIsTheWildcardAndOtherBytesAreNoSymbols) {
  for (int byte = 0; byte < 256; ++byte) {
    const char c = static_cast<char>(byte);
    const std::size_t index = NucleotideLetters.find(static_cast<char>(std::toupper(byte)));
    const NucleotideCode expected =
        byte < 128 && index != std::string_view::npos ? static_cast<NucleotideCode>(index) : 17;
    EXPECT_EQ(CharToMotifCode(c), expected) << "byte " << byte;
  }
  EXPECT_EQ(CharToMotifCode('n'), 14);
  EXPECT_EQ(CharToMotifCode('U'), 17);
}

TEST(CodeMatch, EqualsTheWrittenTable) {
  // Rows: sequence code, columns: motif code, both in the order ATGCRYMKWSBVHDN-+.
  const char* const rows[17] = {"10001010100111100", "01000101101011100", "00101001011101100",
                                "00010110011110100", "10101000000101100", "01010100001010100",
                                "10010010000110100", "01100001001001100", "11000000100011100",
                                "00110000011100100", "01110101011000100", "10111010010100100",
                                "11010110100010100", "11101001100001100", "11111111111111100",
                                "00000000000000010", "00000000000000000"};
  for (std::size_t seq = 0; seq < 17; ++seq) {
    for (std::size_t mot = 0; mot < 17; ++mot) {
      EXPECT_EQ(CodeMatch[seq][mot], rows[seq][mot] - '0') << seq << ',' << mot;
    }
  }
}

TEST(IUPAC_Motif, ReverseComplementAndPrintedForms) {
  IUPAC_Motif motif("acgtn");
  EXPECT_EQ(motif.length, 5u);
  EXPECT_EQ(motif.codes, (Codes{0, 3, 2, 1, 14}));
  EXPECT_EQ(motif.MotifString(0, 0), "ACGTN");
  EXPECT_EQ(motif.MotifString(1, 0), "NACGT");

  EXPECT_EQ(IUPAC_Motif("RYN").MotifString(1, 0), "NRY");
  for (const char* palindrome : {"ACGT", "GAATTC", "W", "S", "N", "-", "+"}) {
    EXPECT_EQ(IUPAC_Motif(palindrome).MotifString(1, 0), palindrome);
  }
  EXPECT_EQ(IUPAC_Motif("BVHDKM").MotifString(1, 0), "KMHDBV");

  IUPAC_Motif by_length(3u);
  EXPECT_EQ(by_length.MotifString(0, 0), "AAA");
  EXPECT_EQ(by_length.MotifString(1, 0), "TTT");

  EXPECT_EQ(IUPAC_Motif("ACG").MotifString(0, 1), std::string("\x00\x03\x02", 3));
  EXPECT_EQ(IUPAC_Motif().MotifString(0, 0), "");

  std::ostringstream raw;
  IUPAC_Motif("ACG").Print(raw, 1, 1);
  EXPECT_EQ(raw.str(), "3 2 1 ");  // CGT
}

TEST(IUPAC_Motif, NonSymbolIsKeptAsSeventeenWithoutBreakingTheTables) {
  IUPAC_Motif motif("AUG");
  EXPECT_EQ(motif.codes, (Codes{0, 17, 2}));
  EXPECT_EQ(motif.revComplCodes, (Codes{3, 17, 1}));
  EXPECT_EQ(motif.MotifString(0, 0), "A?G");
}

TEST(IUPAC_Motif, CopyFromDropsTheMatchStateAssignmentKeepsIt) {
  IUPAC_Motif source("GATC");
  source.value1 = 10;
  source.value2 = 1;
  source.value3 = 7;
  source.ComputeLogRatio(0);
  EXPECT_DOUBLE_EQ(source.logRatio, 1);
  source.found = 1;
  source.lastDirection = 2;

  IUPAC_Motif copied;
  copied.CopyFrom(source);
  EXPECT_EQ(copied.MotifString(0, 0), "GATC");
  EXPECT_EQ(copied.value3, 7);
  EXPECT_EQ(copied.logRatio, 0);
  EXPECT_EQ(copied.found, 0);
  EXPECT_EQ(copied.lastDirection, 0);

  IUPAC_Motif assigned;
  assigned = source;
  EXPECT_DOUBLE_EQ(assigned.logRatio, 1);
  EXPECT_EQ(assigned.lastDirection, 2);

  source.value2 = 0;
  source.ComputeLogRatio(0);
  EXPECT_EQ(source.logRatio, 0);
}

TEST(IUPAC_Motif, ValuesPrintTabSeparated) {
  IUPAC_Motif motif("tata");
  motif.value1 = 2.75;
  motif.value2 = -1.5;
  motif.value3 = 1234567;
  std::ostringstream plain;
  plain << motif;
  EXPECT_EQ(plain.str(), "TATA\t2.75\t-1.5\t1.23457e+06");

  std::ostringstream truncated;
  motif.value3 = 1e30;  // held to the range of int rather than overflowing
  motif.PrintWithValues(truncated, 1, 0, 1);
  EXPECT_EQ(truncated.str(), "TATA\t2\t-1\t2147483647");
}

}  // namespace
