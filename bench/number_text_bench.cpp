#include <benchmark/benchmark.h>

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstddef>
#include <cstdlib>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "common/number_text.h"

namespace {

// The reader as it was before the one-pass scan: gather the number's characters into a
// string, then convert them with strtod. Kept here as the baseline.
std::optional<double> GatherThenStrtod(std::string_view text) {
  std::size_t start = 0;
  while (start < text.size() &&
         (text[start] == ' ' || (text[start] >= '\t' && text[start] <= '\r'))) {
    ++start;
  }
  std::size_t pos = start;
  if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) ++pos;
  bool seen_digit = false;
  bool seen_point = false;
  for (; pos < text.size(); ++pos) {
    const char c = text[pos];
    if (c >= '0' && c <= '9') {
      seen_digit = true;
    } else if (c == '.' && !seen_point) {
      seen_point = true;
    } else {
      break;
    }
  }
  if (seen_digit && pos < text.size() && (text[pos] == 'e' || text[pos] == 'E')) {
    ++pos;
    if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) ++pos;
    while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9') ++pos;
  }
  const std::string gathered(text.substr(start, pos - start));
  if (gathered.empty()) return std::nullopt;
  char* end = nullptr;
  errno = 0;
  const double value = std::strtod(gathered.c_str(), &end);
  if (end != gathered.c_str() + gathered.size()) return std::nullopt;
  if (errno == ERANGE && std::isinf(value)) return std::nullopt;
  return value;
}

// Typical cells of a presence table: counts, a peak score, its logarithm, a small value in
// the exponent form the stream writes.
std::vector<std::string> cells = {"0", "1", "3", "12.5", "2.52573", "-1.3e-05"};

// One row's worth of cells as they come: mostly 0, some small counts, the two score columns.
std::vector<std::string> RowOfCells() {
  std::vector<std::string> row = {"12.5", "2.52573"};
  for (int k = 0; k < 62; ++k) row.push_back(k % 7 == 3 ? "1" : k % 13 == 5 ? "3" : "0");
  return row;
}

template <typename Reader>
void ReadOneCell(benchmark::State& state, Reader reader) {
  const std::string& cell = cells[static_cast<std::size_t>(state.range(0))];
  for (auto _ : state) {
    std::string_view view = cell;
    benchmark::DoNotOptimize(view);
    benchmark::DoNotOptimize(reader(view));
  }
  state.SetLabel(cell);
}

template <typename Reader>
void ReadRow(benchmark::State& state, Reader reader) {
  const std::vector<std::string> row = RowOfCells();
  for (auto _ : state) {
    double sum = 0;
    for (const std::string& cell : row) sum += reader(cell).value_or(0);
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(row.size()));
}

std::optional<double> StreamExtraction(std::string_view text) {
  std::istringstream in{std::string(text)};
  double value = 0;
  if (!(in >> value)) return std::nullopt;
  return value;
}

// from_chars alone, without the scan for the stream's form: what a reader without its
// own fast path could at best reach.
std::optional<double> FromCharsAlone(std::string_view text) {
  double value = 0;
  const auto [stop, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc()) return std::nullopt;
  return value;
}

std::optional<double> StrtodFlavour(std::string_view text) {
  double value = 0;
  std::size_t consumed = 0;
  if (!ReadStrtodDouble(text, value, consumed)) return std::nullopt;
  return value;
}

// strtod itself on a NUL-terminated cell, as the motif reader calls it.
std::optional<double> PlainStrtod(const char* text) {
  char* end = nullptr;
  const double value = std::strtod(text, &end);
  if (end == text) return std::nullopt;
  return value;
}

void BM_Cell_Previous(benchmark::State& state) { ReadOneCell(state, GatherThenStrtod); }
void BM_Cell_New(benchmark::State& state) { ReadOneCell(state, ReadLeadingDouble); }
void BM_Cell_FromCharsAlone(benchmark::State& state) { ReadOneCell(state, FromCharsAlone); }
void BM_Cell_Stream(benchmark::State& state) { ReadOneCell(state, StreamExtraction); }
void BM_Cell_StrtodFlavour(benchmark::State& state) { ReadOneCell(state, StrtodFlavour); }
void BM_Cell_PlainStrtod(benchmark::State& state) {
  ReadOneCell(state, [](std::string_view view) { return PlainStrtod(view.data()); });
}
void BM_Row_Previous(benchmark::State& state) { ReadRow(state, GatherThenStrtod); }
void BM_Row_New(benchmark::State& state) { ReadRow(state, ReadLeadingDouble); }

BENCHMARK(BM_Cell_Previous)->DenseRange(0, 5);
BENCHMARK(BM_Cell_New)->DenseRange(0, 5);
BENCHMARK(BM_Cell_FromCharsAlone)->DenseRange(0, 5);
BENCHMARK(BM_Cell_Stream)->DenseRange(0, 5);
BENCHMARK(BM_Cell_StrtodFlavour)->DenseRange(0, 5);
BENCHMARK(BM_Cell_PlainStrtod)->DenseRange(0, 5);
BENCHMARK(BM_Row_Previous);
BENCHMARK(BM_Row_New);

}  // namespace

BENCHMARK_MAIN();
