#include "motifs/anchor_engine.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include "common/nucleotide.h"
#include "tests/motifs/random_motifs.h"

using test_support::MotifOf;
using test_support::RandomMotifs;
using test_support::RandomResidueBytes;

// Every indexable motif, on sequences of bases, N and codes that are no symbol, whole and
// in overlapping pieces, counts what the reference count does.
TEST(AnchorCountEngine, AgreesWithTheReferenceCountWholeAndInPieces) {
  std::mt19937 random(20261209);
  for (int round = 0; round < 40; ++round) {
    // Every other round, motifs long enough that some outgrow the check by bit planes.
    std::vector<IUPAC_Motif> motifs = RandomMotifs(random, 60, round % 2 == 0 ? 24 : 40);
    std::vector<std::uint32_t> indices;
    std::size_t longest = 1;
    for (std::uint32_t index = 0; index < motifs.size(); ++index) {
      if (std::isfinite(AnchorCountEngine::AnchorRate(motifs[index]))) indices.push_back(index);
      longest = std::max(longest, motifs[index].codes.size());
    }
    const AnchorCountEngine engine(motifs, indices);
    const std::vector<std::uint8_t> bytes = RandomResidueBytes(random, 1 + random() % 3000);
    const std::vector<NucleotideCode> codes(bytes.begin(), bytes.end());
    std::vector<std::uint64_t> whole(motifs.size(), 0);
    engine.Count(bytes, bytes.size(), whole);
    std::vector<std::uint64_t> pieces(motifs.size(), 0);
    for (std::size_t start = 0; start < bytes.size();) {
      const std::size_t part = std::min<std::size_t>(1 + random() % 200, bytes.size() - start);
      const std::size_t end = std::min(bytes.size(), start + part + longest - 1);
      engine.Count(std::span(bytes).subspan(start, end - start), part, pieces);
      start += part;
    }
    for (const std::uint32_t index : indices) {
      const std::uint64_t expected = motifs[index].CountOccurrences(codes, MOTORIENT_ANY);
      ASSERT_EQ(whole[index], expected) << "motif " << motifs[index].MotifString(0, 0);
      ASSERT_EQ(pieces[index], expected) << "motif " << motifs[index].MotifString(0, 0);
    }
  }
}

TEST(AnchorCountEngine, RatesFollowTheSelectivityOfTheBestWindow) {
  EXPECT_DOUBLE_EQ(AnchorCountEngine::AnchorRate(MotifOf("GAATTC")), 1.0 / 4096);  // palindrome
  EXPECT_DOUBLE_EQ(AnchorCountEngine::AnchorRate(MotifOf("GATC")), 1.0 / 256);
  EXPECT_DOUBLE_EQ(AnchorCountEngine::AnchorRate(MotifOf("GGATG")), 2.0 / 1024);
  EXPECT_DOUBLE_EQ(AnchorCountEngine::AnchorRate(MotifOf("ACGTACGTNNNNNN")), 2.0 / 65536);
  EXPECT_DOUBLE_EQ(AnchorCountEngine::AnchorRate(MotifOf("AC-GT")), 0.0);
  EXPECT_TRUE(std::isinf(AnchorCountEngine::AnchorRate(MotifOf("NNNNNNNNNN"))));
  EXPECT_TRUE(std::isinf(AnchorCountEngine::AnchorRate(IUPAC_Motif())));
}
