#include <immintrin.h>

#include "motiffit/cross_product_kernels.h"

namespace {

constexpr std::size_t kTileRows = 8;

// Adds sixteen 32-bit sums to sixteen 64-bit totals, through memory: once per tile and
// block, off the hot loop.
inline void AddWidened(__m512i sums, std::int64_t* totals) {
  alignas(64) std::int32_t parts[16];
  _mm512_store_si512(parts, sums);
  for (int k = 0; k < 16; ++k) totals[k] += parts[k];
}

void AddInteger(const std::int32_t* pairs, std::size_t row_pairs, std::size_t width,
                std::int64_t* totals) {
  const std::size_t panel_words = row_pairs * kKernelWidthStep;
  for (std::size_t j0 = 0; j0 < width; j0 += kKernelWidthStep) {
    const std::int32_t* other_panel = pairs + j0 / kKernelWidthStep * panel_words;
    for (std::size_t i0 = 0; i0 < j0 + kKernelWidthStep; i0 += kTileRows) {
      const std::int32_t* own_panel =
          pairs + i0 / kKernelWidthStep * panel_words + i0 % kKernelWidthStep;
      __m512i sums[kTileRows];
      for (auto& tile_row : sums) tile_row = _mm512_setzero_si512();
      for (std::size_t pair = 0; pair < row_pairs; ++pair) {
        const std::int32_t* own = own_panel + pair * kKernelWidthStep;
        const __m512i other = _mm512_loadu_si512(other_panel + pair * kKernelWidthStep);
        for (std::size_t ii = 0; ii < kTileRows; ++ii) {
          const __m512i broadcast = _mm512_set1_epi32(own[ii]);
          sums[ii] = _mm512_add_epi32(sums[ii], _mm512_madd_epi16(broadcast, other));
        }
      }
      for (std::size_t ii = 0; ii < kTileRows; ++ii) {
        AddWidened(sums[ii], totals + (i0 + ii) * width + j0);
      }
    }
  }
}

void AddReal(const double* rows, std::size_t row_count, std::size_t width, double* totals) {
  for (std::size_t i0 = 0; i0 < width; i0 += kTileRows) {
    for (std::size_t j0 = i0 / kKernelWidthStep * kKernelWidthStep; j0 < width;
         j0 += kKernelWidthStep) {
      __m512d sums[kTileRows][2];
      for (auto& tile_row : sums) tile_row[0] = tile_row[1] = _mm512_setzero_pd();
      for (std::size_t row = 0; row < row_count; ++row) {
        const double* cells = rows + row * width;
        const __m512d other_low = _mm512_loadu_pd(cells + j0);
        const __m512d other_high = _mm512_loadu_pd(cells + j0 + 8);
        for (std::size_t ii = 0; ii < kTileRows; ++ii) {
          const __m512d own = _mm512_set1_pd(cells[i0 + ii]);
          sums[ii][0] = _mm512_fmadd_pd(own, other_low, sums[ii][0]);
          sums[ii][1] = _mm512_fmadd_pd(own, other_high, sums[ii][1]);
        }
      }
      for (std::size_t ii = 0; ii < kTileRows; ++ii) {
        double* row_totals = totals + (i0 + ii) * width + j0;
        _mm512_storeu_pd(row_totals, _mm512_add_pd(_mm512_loadu_pd(row_totals), sums[ii][0]));
        _mm512_storeu_pd(row_totals + 8,
                         _mm512_add_pd(_mm512_loadu_pd(row_totals + 8), sums[ii][1]));
      }
    }
  }
}

}  // namespace

const CrossProductKernel& Avx512CrossProductKernel() {
  static constexpr CrossProductKernel kKernel{"avx512", AddInteger, AddReal};
  return kKernel;
}
