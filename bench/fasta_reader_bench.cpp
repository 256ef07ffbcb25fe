// Speed of reading FASTA: the block reader against the line-by-line stream loader it
// replaced, and the bare cost of reading the file's bytes as the floor. The file (about
// 55 MB: 100,000 records of 500 residues in lines of 60) is made once per run.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "common/byte_source.h"
#include "sequences/dna_sequence.h"
#include "sequences/fasta_reader.h"

namespace {

const std::string& BenchFile() {
  static const std::string name = [] {
    const std::string path =
        (std::filesystem::temp_directory_path() / "motif_workflow_reader_bench.fa").string();
    std::ofstream out(path, std::ios::binary);
    std::mt19937 random(7);
    const char kBases[] = "ACGT";
    std::string line;
    for (int record = 0; record < 100000; ++record) {
      out << ">chr1:" << record * 500 << '-' << record * 500 + 500 << "\tpeak_" << record << '\t'
          << record % 97 + 0.5 << '\n';
      for (int left = 500; left > 0; left -= 60) {
        line.clear();
        for (int i = 0; i < std::min(left, 60); ++i) line += kBases[random() % 4];
        out << line << '\n';
      }
    }
    return path;
  }();
  return name;
}

void SetBytes(benchmark::State& state) {
  state.SetBytesProcessed(state.iterations() *
                          static_cast<std::int64_t>(std::filesystem::file_size(BenchFile())));
}

// The loader as it was: getline per line, residue text gathered in a string, then
// converted into the record.
void LegacyLoad(const std::string& file_name, SeqSet& set) {
  std::ifstream in(file_name);
  std::string line, descr, residues;
  bool seen_header = false;
  const auto store = [&] {
    DNA_Sequence& sequence = set.AppendSequence();
    sequence.descr = descr;
    sequence.setResidues(std::move(residues));
    residues.clear();
  };
  while (std::getline(in, line)) {
    if (!line.empty() && line[0] == '>') {
      if (seen_header) store();
      seen_header = true;
      descr = line;
      residues.clear();
    } else {
      residues += line;
    }
  }
  if (!descr.empty()) store();
}

void BM_LineByLineLoader(benchmark::State& state) {
  for (auto _ : state) {
    SeqSet set;
    LegacyLoad(BenchFile(), set);
    benchmark::DoNotOptimize(set.count);
  }
  SetBytes(state);
}

void BM_SeqSetFload(benchmark::State& state) {
  for (auto _ : state) {
    SeqSet set;
    set.fload(BenchFile());
    benchmark::DoNotOptimize(set.count);
  }
  SetBytes(state);
}

// One record at a time with the buffers reused, as a streaming driver reads.
void BM_RecordByRecord(benchmark::State& state) {
  for (auto _ : state) {
    const std::unique_ptr<ByteSource> source = OpenFileSource(BenchFile());
    FastaReader reader(*source);
    FastaRecord record;
    std::size_t residues = 0;
    while (reader.Next(record)) residues += record.codes.size();
    benchmark::DoNotOptimize(residues);
  }
  SetBytes(state);
}

// The floor: the file's bytes read in the same blocks and thrown away, as cat does.
void BM_ReadBytesOnly(benchmark::State& state) {
  std::vector<char> block(std::size_t{1} << 20);
  for (auto _ : state) {
    const int descriptor = ::open(BenchFile().c_str(), O_RDONLY);
    std::size_t total = 0;
    for (ssize_t got; (got = ::read(descriptor, block.data(), block.size())) > 0;) {
      total += static_cast<std::size_t>(got);
    }
    ::close(descriptor);
    benchmark::DoNotOptimize(total);
  }
  SetBytes(state);
}

BENCHMARK(BM_LineByLineLoader)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SeqSetFload)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RecordByRecord)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadBytesOnly)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
