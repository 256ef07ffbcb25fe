#include "motifs/motif_engine.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "motifs/motif_set.h"
#include "sequences/dna_sequence.h"

namespace {

using Counts = std::vector<std::uint64_t>;

const std::filesystem::path kSourceDir =
    std::filesystem::path(__FILE__).parent_path().parent_path().parent_path();

// The kernels this processor runs: an engine asked for a missing one falls back to another.
std::vector<MotifKernel> AvailableKernels() {
  const std::pair<MotifKernel, std::string> kernels[] = {{MotifKernel::kScalar, "scalar"},
                                                         {MotifKernel::kAvx2, "avx2"},
                                                         {MotifKernel::kAvx512, "avx512"}};
  std::vector<MotifKernel> available;
  for (const auto& [kernel, name] : kernels) {
    if (MotifCountEngine(MotifSet(), kernel).KernelName() == name) available.push_back(kernel);
  }
  return available;
}

Counts ReferenceCounts(MotifSet& motifs, const std::vector<NucleotideCode>& codes) {
  Counts counts;
  for (IUPAC_Motif& motif : motifs.motifs) {
    counts.push_back(motif.CountOccurrences(codes, MOTORIENT_ANY));
  }
  return counts;
}

Counts WholeCounts(const MotifCountEngine& engine, const std::vector<NucleotideCode>& codes,
                   MotifCountScratch& scratch) {
  Counts counts(engine.MotifCount(), 0);
  engine.Count(codes, codes.size(), counts, scratch);
  return counts;
}

// Cuts the sequence into chunks of random sizes that overlap by LongestMotif() - 1, each
// counting the starts of its own part only.
Counts ChunkedCounts(const MotifCountEngine& engine, const std::vector<NucleotideCode>& codes,
                     std::mt19937& random, MotifCountScratch& scratch) {
  Counts counts(engine.MotifCount(), 0);
  const std::size_t overlap = std::max<std::size_t>(engine.LongestMotif(), 1) - 1;
  std::uniform_int_distribution<std::size_t> part_size(1, 2 * engine.LongestMotif() + 300);
  for (std::size_t start = 0; start < codes.size();) {
    const std::size_t part = std::min(part_size(random), codes.size() - start);
    const std::size_t end = std::min(codes.size(), start + part + overlap);
    engine.Count(std::span(codes).subspan(start, end - start), part, counts, scratch);
    start += part;
  }
  return counts;
}

// Mostly bases, so that motifs hit often; unless `bases_only`, every other code, and now
// and then a value that is no code at all.
std::vector<NucleotideCode> RandomSequence(std::mt19937& random, std::size_t size,
                                           bool bases_only) {
  std::uniform_int_distribution<int> kind(0, 99);
  std::uniform_int_distribution<NucleotideCode> base(0, 3);
  std::uniform_int_distribution<NucleotideCode> any_code(0, 16);
  std::vector<NucleotideCode> codes(size);
  for (NucleotideCode& code : codes) {
    const int roll = kind(random);
    code = roll < 80 || bases_only ? base(random)
           : roll < 98             ? any_code(random)
           : roll == 98            ? 17
                                   : -5;
  }
  return codes;
}

// Every symbol in both cases and many wildcards; one motif in ten may hold "+" or a
// non-symbol, which match nothing. A quarter of the motifs are palindromes.
std::string RandomMotifText(std::mt19937& random, std::size_t length) {
  static const std::string kLetters = "ATGCRYMKWSBVHDN-atgcrymkwsbvhdn+U";
  std::uniform_int_distribution<int> percent(0, 99);
  const std::size_t letters = kLetters.size() - (percent(random) < 10 ? 0 : 2);
  std::uniform_int_distribution<std::size_t> letter(0, letters - 1);
  std::string text;
  for (std::size_t i = 0; i < length; ++i) {
    text += percent(random) < 40 ? 'N' : kLetters[letter(random)];
  }
  if (percent(random) < 25) {
    IUPAC_Motif half(text.substr(0, length / 2));
    text = text.substr(0, length / 2) + (length % 2 ? "W" : "") + half.MotifString(1, 0);
  }
  return text;
}

// Writes, at a random place and on a random strand, sequence codes that the motif matches,
// so that long motifs hit too. Positions that nothing matches stay as they were.
void Plant(const IUPAC_Motif& motif, std::vector<NucleotideCode>& sequence, std::mt19937& random) {
  if (sequence.size() < motif.codes.size()) return;
  const std::size_t start =
      std::uniform_int_distribution<std::size_t>(0, sequence.size() - motif.codes.size())(random);
  const auto& pattern = random() % 2 ? motif.codes : motif.revComplCodes;
  for (std::size_t i = 0; i < pattern.size(); ++i) {
    std::vector<NucleotideCode> matching;
    for (NucleotideCode code = 0; code < 17; ++code) {
      if (pattern[i] < 17 && CodeMatch[code][pattern[i]]) matching.push_back(code);
    }
    if (!matching.empty()) sequence[start + i] = matching[random() % matching.size()];
  }
}

TEST(MotifCountEngine, EveryKernelMatchesThePerMotifCountOnRandomSets) {
  std::mt19937 random(20240611);
  const auto kernels = AvailableKernels();
  ASSERT_FALSE(kernels.empty());
  MotifCountScratch scratch;  // one scratch serves every engine and every size
  for (int round = 0; round < 24; ++round) {
    const bool long_motifs = round % 8 == 2;
    const std::size_t sequence_size =
        std::uniform_int_distribution<std::size_t>(long_motifs ? 2000 : 0, 2500)(random);
    // On bases only, N and NN hit at every position: the packed counters fill up.
    const bool bases_only = round % 4 == 3;
    std::vector<NucleotideCode> sequence = RandomSequence(random, sequence_size, bases_only);
    const std::size_t max_length = round % 3 == 0 ? 12 : round % 3 == 1 ? 40 : 100;
    std::uniform_int_distribution<std::size_t> length(1, max_length);
    std::bernoulli_distribution planted(0.2);
    MotifSet motifs;
    const std::size_t motif_total = std::uniform_int_distribution<std::size_t>(1, 160)(random);
    for (std::size_t m = 0; m < motif_total; ++m) {
      IUPAC_Motif& motif = motifs.AppendMotif();
      motif.InitFromString(RandomMotifText(random, length(random)));
      if (planted(random)) Plant(motif, sequence, random);
    }
    if (round % 8 == 1) motifs.AppendMotif();  // length 0
    if (bases_only) {
      // Hits at most positions, short and long, so that many sites straddle chunk ends.
      const std::size_t long_length = std::uniform_int_distribution<std::size_t>(65, 99)(random);
      std::string twin = "a";
      twin.append(long_length, 'n');
      for (const std::string& text :
           {std::string("N"), std::string("nn"), std::string(long_length, 'N'), twin}) {
        motifs.AppendMotif().InitFromString(text);
      }
    }
    if (long_motifs) {
      for (std::size_t long_length : {300, 2000}) {
        IUPAC_Motif& motif = motifs.AppendMotif();
        motif.InitFromString(RandomMotifText(random, long_length));
        Plant(motif, sequence, random);
        Plant(motif, sequence, random);
      }
    }
    const Counts expected = ReferenceCounts(motifs, sequence);
    for (MotifKernel kernel : kernels) {
      const MotifCountEngine engine(motifs, kernel);
      SCOPED_TRACE(::testing::Message()
                   << "round " << round << ", kernel " << engine.KernelName() << ", "
                   << motifs.count << " motifs, sequence of " << sequence_size);
      EXPECT_EQ(WholeCounts(engine, sequence, scratch), expected);
      EXPECT_EQ(ChunkedCounts(engine, sequence, random, scratch), expected);
    }
  }
}

TEST(MotifCountEngine, CountsTheExampleFilesLikeThePerMotifCount) {
  SeqSet peaks;
  peaks.fload((kSourceDir / "examples/peaks.fa").string());
  ASSERT_GT(peaks.count, 50u);
  for (const char* motif_file : {"examples/motifs.mot", "bench/data/restriction_sites.mot"}) {
    MotifSet motifs;
    motifs.fload((kSourceDir / motif_file).string());
    ASSERT_GT(motifs.count, 0u);
    // The restriction sites over a sample of the peaks keep the sanitised run short.
    const std::size_t sequence_total = motifs.count > 100 ? 50 : peaks.count;
    std::vector<Counts> expected;
    for (std::size_t s = 0; s < sequence_total; ++s) {
      expected.push_back(ReferenceCounts(motifs, peaks.sequences[s].codes));
    }
    for (MotifKernel kernel : AvailableKernels()) {
      const MotifCountEngine engine(motifs, kernel);
      MotifCountScratch scratch;
      for (std::size_t s = 0; s < sequence_total; ++s) {
        ASSERT_EQ(WholeCounts(engine, peaks.sequences[s].codes, scratch), expected[s])
            << motif_file << ", kernel " << engine.KernelName() << ", sequence " << s;
      }
    }
  }
}

TEST(MotifCountEngine, TenThousandLetterMotifRunsInLinearTime) {
  MotifSet motifs;
  motifs.AppendMotif().InitFromString(std::string(10000, 'N'));
  motifs.AppendMotif().InitFromString(std::string(5000, 'A') + std::string(5000, 'N'));
  std::vector<NucleotideCode> sequence(100000);
  std::mt19937 random(7);
  std::uniform_int_distribution<NucleotideCode> base(0, 3);
  for (NucleotideCode& code : sequence) code = base(random);
  // Exactly 5000 T, the reverse strand of 5000 A, preceded by 5000 bases.
  std::fill_n(sequence.begin() + 20000, 5000, 1);
  sequence[19999] = sequence[25000] = 2;

  const MotifCountEngine engine(motifs);
  MotifCountScratch scratch;
  const auto started = std::chrono::steady_clock::now();
  const Counts counts = WholeCounts(engine, sequence, scratch);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  // Testing each of the 90,001 windows letter by letter takes 900 million steps per
  // strand, seconds even when optimised; the shift-and takes 16 million word operations.
  EXPECT_EQ(counts, (Counts{90001, 1}));
#if defined(NDEBUG)
  EXPECT_LT(seconds, 0.5);
#else
  EXPECT_LT(seconds, 10.0);  // unoptimised, sanitised builds
#endif
}

TEST(MotifCountEngine, TakesTheRequestedKernelOrTheFastest) {
  MotifSet motifs;
  motifs.AppendMotif().InitFromString("ACGT");
  const auto available = AvailableKernels();  // slowest first
  const std::string fastest = MotifCountEngine(motifs, available.back()).KernelName();
  EXPECT_EQ(MotifCountEngine(motifs).KernelName(), fastest);
  EXPECT_EQ(MotifCountEngine(motifs, MotifKernel::kBest).KernelName(), fastest);
  EXPECT_STREQ(MotifCountEngine(motifs, MotifKernel::kScalar).KernelName(), "scalar");
  for (const MotifKernel kernel : {MotifKernel::kAvx2, MotifKernel::kAvx512}) {
    if (std::find(available.begin(), available.end(), kernel) == available.end()) {
      EXPECT_EQ(MotifCountEngine(motifs, kernel).KernelName(), fastest);
    }
  }
}

}  // namespace
