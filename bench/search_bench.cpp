// Speed of the occurrence count, the presence run's hot loop: every motif at every start
// position of every sequence, both strands.
#include <benchmark/benchmark.h>

#include <string>

#include "motifs/motif_set.h"
#include "sequences/dna_sequence.h"

namespace {

const std::string kSourceDir = BENCH_SOURCE_DIR;

const SeqSet& ExamplePeaks() {
  static const SeqSet peaks = [] {
    SeqSet set;
    set.fload(kSourceDir + "/examples/peaks.fa");
    return set;
  }();
  return peaks;
}

MotifSet LoadMotifs(const std::string& relative_name) {
  MotifSet set;
  set.fload(kSourceDir + "/" + relative_name);
  return set;
}

void CountAll(benchmark::State& state, const std::string& motif_file) {
  const SeqSet& peaks = ExamplePeaks();
  MotifSet motifs = LoadMotifs(motif_file);
  std::size_t windows = 0;
  for (auto _ : state) {
    std::uint64_t total = 0;
    for (const DNA_Sequence& sequence : peaks.sequences) {
      for (IUPAC_Motif& motif : motifs.motifs) {
        total += motif.CountOccurrences(sequence.codes, MOTORIENT_ANY);
      }
    }
    benchmark::DoNotOptimize(total);
    for (const DNA_Sequence& sequence : peaks.sequences) windows += sequence.length;
  }
  // Residues scanned per motif-set pass: items per second is residues x motifs / second.
  state.SetItemsProcessed(static_cast<std::int64_t>(windows * motifs.count));
}

void BM_CountExampleMotifs(benchmark::State& state) { CountAll(state, "examples/motifs.mot"); }
void BM_CountRestrictionSites(benchmark::State& state) {
  CountAll(state, "bench/data/restriction_sites.mot");
}

BENCHMARK(BM_CountExampleMotifs)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CountRestrictionSites)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
