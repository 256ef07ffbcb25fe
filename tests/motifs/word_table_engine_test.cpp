#include "motifs/word_table_engine.h"

#include <gtest/gtest.h>

#include <random>
#include <span>
#include <vector>

#include "tests/motifs/random_motifs.h"

using test_support::MotifOf;
using test_support::RandomMotifs;
using test_support::RandomResidueBytes;

// More than one group of 256 motifs of 1 to 21 positions (every symbol, palindromes, runs
// of N), on sequences of bases, N and codes that are no symbol, whole and in overlapping
// pieces with their own start limits, with both kernels: the reference count's numbers.
// Then counts far past one byte, which go through every counter plane.
TEST(WordTableEngine, AgreesWithTheReferenceCountInGroupsPiecesAndKernels) {
  std::mt19937 random(20261210);
  for (int round = 0; round < 12; ++round) {
    std::vector<IUPAC_Motif> motifs = RandomMotifs(random, 300, 21);
    std::vector<std::uint32_t> indices;
    for (std::uint32_t index = 0; index < motifs.size(); ++index) {
      if (WordTableEngine::Takes(motifs[index])) indices.push_back(index);
    }
    const std::vector<std::uint8_t> bytes = RandomResidueBytes(random, 1 + random() % 2000);
    const std::vector<NucleotideCode> codes(bytes.begin(), bytes.end());
    for (const bool vector_kernel : {false, true}) {
      const WordTableEngine engine(motifs, indices, vector_kernel);
      WordTableEngine::Scratch scratch;
      std::vector<std::uint64_t> whole(motifs.size(), 0);
      engine.Count(bytes, bytes.size(), whole, scratch);
      std::vector<std::uint64_t> pieces(motifs.size(), 0);
      for (std::size_t start = 0; start < bytes.size();) {
        const std::size_t part = std::min<std::size_t>(1 + random() % 200, bytes.size() - start);
        const std::size_t end = std::min(bytes.size(), start + part + 20);
        engine.Count(std::span(bytes).subspan(start, end - start), part, pieces, scratch);
        start += part;
      }
      for (const std::uint32_t index : indices) {
        const std::uint64_t expected = motifs[index].CountOccurrences(codes, MOTORIENT_ANY);
        ASSERT_EQ(whole[index], expected)
            << engine.KernelName() << ", motif " << motifs[index].MotifString(0, 0);
        ASSERT_EQ(pieces[index], expected)
            << engine.KernelName() << ", motif " << motifs[index].MotifString(0, 0);
      }
    }
  }

  const std::vector<IUPAC_Motif> motifs = {MotifOf("NNN"), MotifOf("A"),
                                           MotifOf("AAAAAAAAAAAAAAAAAAAAA"), MotifOf("T")};
  const std::vector<std::uint32_t> indices = {0, 1, 2, 3};
  std::vector<std::uint8_t> bytes(70000, 0);
  bytes[50000] = 16;
  for (const bool vector_kernel : {false, true}) {
    const WordTableEngine engine(motifs, indices, vector_kernel);
    WordTableEngine::Scratch scratch;
    std::vector<std::uint64_t> counts(motifs.size(), 0);
    engine.Count(bytes, bytes.size(), counts, scratch);
    EXPECT_EQ(counts, (std::vector<std::uint64_t>{69995, 69999, 69959, 69999}))
        << engine.KernelName();
  }
}
