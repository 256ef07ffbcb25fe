// Speed of the multi-motif counting engine against the per-pair occurrence count, on the
// example peaks and on random 500-residue windows with 500 motifs of 4 to 12 positions.
// Items per second are residues x motifs per second; run the whole program to compare the
// kernels and the per-pair loop side by side.
#include <benchmark/benchmark.h>

#include <random>
#include <string>
#include <vector>

#include "motifs/motif_engine.h"
#include "motifs/motif_set.h"
#include "sequences/dna_sequence.h"

namespace {

const std::string kSourceDir = BENCH_SOURCE_DIR;

struct Workload {
  std::vector<std::vector<NucleotideCode>> windows;
  MotifSet motifs;
  std::size_t residues = 0;
};

Workload ExampleWorkload(const std::string& motif_file) {
  Workload workload;
  SeqSet peaks;
  peaks.fload(kSourceDir + "/examples/peaks.fa");
  for (const DNA_Sequence& sequence : peaks.sequences) workload.windows.push_back(sequence.codes);
  workload.motifs.fload(kSourceDir + "/" + motif_file);
  return workload;
}

// Random bases, and motifs that are mostly bases with some two-base codes and wildcards.
Workload RandomWorkload() {
  Workload workload;
  std::mt19937 random(12345);
  std::uniform_int_distribution<NucleotideCode> base(0, 3);
  for (int w = 0; w < 400; ++w) {
    std::vector<NucleotideCode>& window = workload.windows.emplace_back(500);
    for (NucleotideCode& code : window) code = base(random);
  }
  const std::string letters = "ACGTACGTACGTACGTRYMKWSN";
  std::uniform_int_distribution<std::size_t> letter(0, letters.size() - 1);
  std::uniform_int_distribution<std::size_t> length(4, 12);
  for (int m = 0; m < 500; ++m) {
    std::string text(length(random), 'A');
    for (char& c : text) c = letters[letter(random)];
    workload.motifs.AppendMotif().InitFromString(text);
  }
  return workload;
}

const Workload& CachedWorkload(int which) {
  static const Workload example = ExampleWorkload("examples/motifs.mot");
  static const Workload restriction = ExampleWorkload("bench/data/restriction_sites.mot");
  static const Workload random_set = RandomWorkload();
  return which == 0 ? example : which == 1 ? restriction : random_set;
}

void ReportItems(benchmark::State& state, const Workload& workload) {
  std::size_t residues = 0;
  for (const auto& window : workload.windows) residues += window.size();
  state.SetItemsProcessed(
      static_cast<std::int64_t>(state.iterations() * residues * workload.motifs.motifs.size()));
}

// The presence run as it stands: every motif over every window, one pair at a time.
void BM_PerPair(benchmark::State& state, int which) {
  const Workload& workload = CachedWorkload(which);
  MotifSet motifs = workload.motifs;
  for (auto _ : state) {
    std::uint64_t total = 0;
    for (const auto& window : workload.windows) {
      for (IUPAC_Motif& motif : motifs.motifs) {
        total += motif.CountOccurrences(window, MOTORIENT_ANY);
      }
    }
    benchmark::DoNotOptimize(total);
  }
  ReportItems(state, workload);
}

// The engine, one call per window with the counts of that window, as a driver would.
void BM_Engine(benchmark::State& state, int which, MotifKernel kernel) {
  const Workload& workload = CachedWorkload(which);
  const MotifCountEngine engine(workload.motifs, kernel);
  const char* wanted = kernel == MotifKernel::kAvx512 ? "avx512"
                       : kernel == MotifKernel::kAvx2 ? "avx2"
                                                      : "scalar";
  if (std::string(engine.KernelName()) != wanted) {
    state.SkipWithError("kernel not available on this processor");
    return;
  }
  MotifCountScratch scratch;
  std::vector<std::uint64_t> counts(engine.MotifCount());
  for (auto _ : state) {
    std::uint64_t total = 0;
    for (const auto& window : workload.windows) {
      std::fill(counts.begin(), counts.end(), 0);
      engine.Count(window, window.size(), counts, scratch);
      total += counts.front();
    }
    benchmark::DoNotOptimize(total);
  }
  ReportItems(state, workload);
}

constexpr int kExample = 0;
constexpr int kRestriction = 1;
constexpr int kRandom = 2;

BENCHMARK_CAPTURE(BM_PerPair, example_motifs, kExample)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Engine, example_motifs_scalar, kExample, MotifKernel::kScalar)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Engine, example_motifs_avx2, kExample, MotifKernel::kAvx2)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Engine, example_motifs_avx512, kExample, MotifKernel::kAvx512)
    ->Unit(benchmark::kMillisecond);

BENCHMARK_CAPTURE(BM_PerPair, restriction_sites, kRestriction)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Engine, restriction_sites_scalar, kRestriction, MotifKernel::kScalar)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Engine, restriction_sites_avx2, kRestriction, MotifKernel::kAvx2)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Engine, restriction_sites_avx512, kRestriction, MotifKernel::kAvx512)
    ->Unit(benchmark::kMillisecond);

BENCHMARK_CAPTURE(BM_PerPair, random_500x500, kRandom)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Engine, random_500x500_scalar, kRandom, MotifKernel::kScalar)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Engine, random_500x500_avx2, kRandom, MotifKernel::kAvx2)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Engine, random_500x500_avx512, kRandom, MotifKernel::kAvx512)
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
