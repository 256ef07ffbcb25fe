#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <sstream>
#include <streambuf>
#include <string>
#include <vector>

#include "common/number_text.h"
#include "common/text_utils.h"
#include "scorefit/coefficient_table.h"
#include "scorefit/prediction_table.h"

namespace {

constexpr int kMotifs = 50;

// Accepts and forgets everything, so that the pass is measured without the disk.
class DiscardingBuffer : public std::streambuf {
 protected:
  int overflow(int c) override { return c; }
  std::streamsize xsputn(const char*, std::streamsize count) override { return count; }
};

// A presence table as Sitecount writes it with counts: score, its logarithm, 50 motif cells
// that are mostly 0.
std::string PresenceTable(int rows) {
  std::mt19937 random(7);
  std::uniform_int_distribution<int> cell(0, 9);
  std::string table = "Peak score\tLn(Peak score)";
  for (int motif = 0; motif < kMotifs; ++motif) table += "\tM" + std::to_string(motif);
  table += '\n';
  for (int row = 0; row < rows; ++row) {
    table += std::to_string(10 + row % 50) + ".25\t2.34567";
    for (int motif = 0; motif < kMotifs; ++motif) {
      const int value = cell(random);
      table += '\t';
      table += value < 6 ? '0' : static_cast<char>('0' + value - 5);
    }
    table += '\n';
  }
  return table;
}

std::vector<double> Coefficients() {
  std::vector<double> b;
  for (int k = 0; k <= kMotifs; ++k) b.push_back(0.01 * k - 0.2);
  return b;
}

// The whole prediction pass on 100,000 rows (10 MB): read, split, convert, write.
void BM_PredictionPass(benchmark::State& state) {
  const std::string table = PresenceTable(100000);
  const std::vector<double> b = Coefficients();
  DiscardingBuffer discard;
  std::ostream out(&discard);
  for (auto _ : state) {
    std::istringstream in(table);
    benchmark::DoNotOptimize(WritePredictionTable(in, b, out).status);
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(table.size()));
}
BENCHMARK(BM_PredictionPass)->Unit(benchmark::kMillisecond);

// Splitting one data row into its 52 fields, with the list reused across rows.
void BM_SplitRow(benchmark::State& state) {
  const std::string table = PresenceTable(1);
  const std::string row = table.substr(table.find('\n') + 1);
  StringList fields;
  for (auto _ : state) {
    benchmark::DoNotOptimize(SplitStringInto(row, "\t", 0, fields));
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(row.size()));
}
BENCHMARK(BM_SplitRow);

// The general number conversion on the cells of one row, for comparison with the pass.
void BM_ConvertRowCells(benchmark::State& state) {
  const std::string table = PresenceTable(1);
  const StringList fields = SplitString(table.substr(table.find('\n') + 1), "\t", 0);
  for (auto _ : state) {
    double sum = 0;
    for (std::uint32_t field = 2; field < fields.count; ++field) {
      sum += StringToDouble(fields.items[field]);
    }
    benchmark::DoNotOptimize(sum);
  }
}
BENCHMARK(BM_ConvertRowCells);

}  // namespace

BENCHMARK_MAIN();
