#include "motifconv/iupac_word.h"

#include <gtest/gtest.h>

#include <sstream>

#include "motifconv/position_matrix.h"

namespace {

// Each column of 20 counts (A, C, G, T) and the letter worked out by hand from the rules:
// the edges (exactly half, exactly twice the second, exactly three quarters, exactly 95 %)
// and the tie order A, C, G, T.
TEST(IupacLetter, FollowsTheRulesAtTheirEdges) {
  struct Case {
    std::array<double, 4> acgt;
    char letter;
  };
  const Case cases[] = {
      {{20, 0, 0, 0}, 'A'},   // one base only
      {{11, 5, 4, 0}, 'A'},   // above half and above twice the second
      {{0, 11, 0, 9}, 'Y'},   // above half, not above twice the second: C and T
      {{10, 10, 0, 0}, 'M'},  // exactly half is not more than half
      {{10, 1, 9, 0}, 'R'},   // 19 of 20 in the first two
      {{1, 1, 9, 9}, 'K'},    // tie of G and T
      {{6, 1, 1, 12}, 'W'},   // 12 is not more than twice 6
      {{1, 9, 9, 1}, 'S'},   {{8, 7, 5, 0}, 'V'},  // the first two exactly three quarters: not more
      {{6, 0, 7, 7}, 'D'},                         // G and T tie, A third
      {{1, 5, 8, 6}, 'B'},                         // the first three exactly 95 %
      {{6, 7, 1, 6}, 'H'},   {{2, 6, 6, 6}, 'N'},  // the first three 90 %
      {{5, 5, 5, 5}, 'N'},   {{0, 0, 0, 0.5}, 'T'},  // frequencies as well as counts
  };
  for (const Case& test_case : cases) {
    EXPECT_EQ(IupacLetter(test_case.acgt), test_case.letter)
        << test_case.acgt[0] << ' ' << test_case.acgt[1] << ' ' << test_case.acgt[2] << ' '
        << test_case.acgt[3];
  }
}

TEST(InformationContent, TwoBitsForOneBaseNoneForAnEvenColumn) {
  EXPECT_DOUBLE_EQ(InformationContent({{20, 0, 0, 0}, {5, 5, 5, 5}, {0, 10, 10, 0}}), 3.0);
}

// The same matrix in each format gives the same word: JASPAR with its rows in another
// order and a CR LF line end, HOMER and MEME as frequencies, TRANSFAC with its columns
// reordered by the P0 line.
TEST(ReadMatrices, EveryFormatGivesTheSameColumns) {
  const std::string jaspar = ">M1 name\r\nT [ 0 2 ]\r\nG:[0 0]\r\nC [0 18]\r\nA [20 0]\r\n";
  const std::string plain = "20 0\n0 18\n0 0\n0 2\n";
  const std::string homer = ">AC\tM1\t4.5\n1 0 0 0\n0 0.9 0 0.1\n";
  const std::string meme =
      "MEME version 4\n\nMOTIF M1\nletter-probability matrix: alength= 4 w= 2\n1 0 0 0\n0 0.9 "
      "0 0.1\n";
  const std::string transfac = "ID M1\nP0 T C G A\n01 0 0 0 20\n02 2 18 0 0\n//\n";
  for (const std::string& text : {jaspar, plain, homer, meme, transfac}) {
    std::istringstream in(text);
    MatrixFormat format = MatrixFormat::kAuto;
    std::vector<PositionMatrix> matrices;
    const auto error = ReadMatrices(in, format, matrices);
    ASSERT_FALSE(error) << text << error->what;
    ASSERT_EQ(matrices.size(), 1u) << text;
    EXPECT_EQ(IupacWord(matrices[0].positions), "AC") << text;
  }
}

}  // namespace
