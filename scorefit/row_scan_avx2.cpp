#include <immintrin.h>

#include <cstddef>
#include <cstdint>

#include "scorefit/row_scan_kernel.h"

// Compiled with -mavx2 -mbmi -mpopcnt and only called when the processor has all three. Nothing
// here may be an inline function shared with other translation units, or a copy built for AVX2
// could serve callers on processors without it.
namespace {

// What 32 bytes at `bytes` hold, one bit per byte: the tabs, the line feeds, and where a cell
// of one or two digits ends (the byte after it, when that is a tab or a line feed); and, at
// each byte, the value of the one or two digits before it. Reads the three bytes before
// `bytes` too.
struct Half {
  std::uint32_t tabs;
  std::uint32_t line_feeds;
  std::uint32_t usual_ends;
};

[[gnu::always_inline]] inline Half ReadHalf(const char* bytes, std::uint8_t* values) {
  const __m256i tab = _mm256_set1_epi8('\t');
  const __m256i line_feed = _mm256_set1_epi8('\n');
  const __m256i zero_digit = _mm256_set1_epi8('0');
  const __m256i nine = _mm256_set1_epi8(9);
  const auto load = [&](int offset) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(bytes + offset));
  };
  const auto is_end = [&](__m256i x) {
    return _mm256_or_si256(_mm256_cmpeq_epi8(x, tab), _mm256_cmpeq_epi8(x, line_feed));
  };
  const __m256i here = load(0);
  const __m256i last_digit = _mm256_sub_epi8(load(-1), zero_digit);
  const __m256i first_digit = _mm256_sub_epi8(load(-2), zero_digit);
  const __m256i last_is_digit = _mm256_cmpeq_epi8(_mm256_min_epu8(last_digit, nine), last_digit);
  const __m256i first_is_digit = _mm256_cmpeq_epi8(_mm256_min_epu8(first_digit, nine), first_digit);
  const __m256i one_digit = is_end(load(-2));
  const __m256i two_digits = _mm256_and_si256(first_is_digit, is_end(load(-3)));
  const __m256i usual = _mm256_and_si256(last_is_digit, _mm256_or_si256(one_digit, two_digits));
  const __m256i twice = _mm256_add_epi8(first_digit, first_digit);
  const __m256i eight_times =
      _mm256_add_epi8(_mm256_add_epi8(twice, twice), _mm256_add_epi8(twice, twice));
  const __m256i ten_times_plus_last =
      _mm256_add_epi8(_mm256_add_epi8(eight_times, twice), last_digit);
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(values),
                      _mm256_blendv_epi8(ten_times_plus_last, last_digit, one_digit));
  return {static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(here, tab))),
          static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(here, line_feed))),
          static_cast<std::uint32_t>(_mm256_movemask_epi8(usual))};
}

std::uint64_t Join(std::uint32_t low, std::uint32_t high) {
  return low | static_cast<std::uint64_t>(high) << 32;
}

// Sixty-four bytes at a time, about thirty cells of a count table. Where every cell that ends
// among them is one or two digits with a coefficient, their values were found for all of them
// at once, and each costs a few instructions; otherwise each is checked on its own.
RowScan ScanRowAvx2(const char* row, const double* b, std::size_t terms) {
  RowSum sum(b, terms);
  const char* cell = row;
  alignas(32) std::uint8_t values[64];
  for (const char* bytes = row;; bytes += 64) {
    const Half low = ReadHalf(bytes, values);
    const Half high = ReadHalf(bytes + 32, values + 32);
    const std::uint64_t line_feeds = Join(low.line_feeds, high.line_feeds);
    const std::uint64_t line_end = line_feeds & (0 - line_feeds);
    // The tabs before the line feed (all of them when there is none), and the line feed.
    const std::uint64_t ends = (Join(low.tabs, high.tabs) & (line_end - 1)) | line_end;
    if ((ends & ~Join(low.usual_ends, high.usual_ends)) == 0 &&
        sum.CanTakeUsual(static_cast<std::size_t>(__builtin_popcountll(ends)))) {
      for (std::uint64_t rest = ends; rest != 0; rest &= rest - 1) {
        sum.TakeUsual(values[__builtin_ctzll(rest)]);
      }
      if (ends != 0) cell = bytes + (64 - __builtin_clzll(ends));
    } else {
      for (std::uint64_t rest = ends; rest != 0; rest &= rest - 1) {
        const char* const end = bytes + __builtin_ctzll(rest);
        sum.Take(cell, end);
        cell = end + 1;
      }
    }
    if (line_end != 0) {
      return sum.Result(static_cast<std::size_t>(bytes + __builtin_ctzll(line_end) - row));
    }
  }
}

}  // namespace

RowScanner Avx2RowScanner() { return ScanRowAvx2; }
