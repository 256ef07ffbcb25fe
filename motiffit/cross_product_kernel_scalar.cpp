#include "motiffit/cross_product_kernels.h"

namespace {

// Tiles of four columns by sixteen keep the partial sums in registers where the compiler
// can, and match the tiling of the vector kernels, so every kernel adds the same entries.
constexpr std::size_t kTileRows = 4;

void AddInteger(const std::int32_t* pairs, std::size_t row_pairs, std::size_t width,
                std::int64_t* totals) {
  const std::size_t panel_words = row_pairs * kKernelWidthStep;
  for (std::size_t j0 = 0; j0 < width; j0 += kKernelWidthStep) {
    const std::int32_t* other_panel = pairs + j0 / kKernelWidthStep * panel_words;
    for (std::size_t i0 = 0; i0 < j0 + kKernelWidthStep; i0 += kTileRows) {
      const std::int32_t* own_panel =
          pairs + i0 / kKernelWidthStep * panel_words + i0 % kKernelWidthStep;
      std::int32_t sums[kTileRows][kKernelWidthStep] = {};
      for (std::size_t pair = 0; pair < row_pairs; ++pair) {
        const std::int32_t* own = own_panel + pair * kKernelWidthStep;
        const std::int32_t* other = other_panel + pair * kKernelWidthStep;
        for (std::size_t ii = 0; ii < kTileRows; ++ii) {
          const auto first = static_cast<std::int16_t>(own[ii] & 0xffff);
          const auto second = static_cast<std::int16_t>(own[ii] >> 16);
          for (std::size_t jj = 0; jj < kKernelWidthStep; ++jj) {
            const auto other_first = static_cast<std::int16_t>(other[jj] & 0xffff);
            const auto other_second = static_cast<std::int16_t>(other[jj] >> 16);
            sums[ii][jj] += first * other_first + second * other_second;
          }
        }
      }
      for (std::size_t ii = 0; ii < kTileRows; ++ii) {
        for (std::size_t jj = 0; jj < kKernelWidthStep; ++jj) {
          totals[(i0 + ii) * width + j0 + jj] += sums[ii][jj];
        }
      }
    }
  }
}

void AddReal(const double* rows, std::size_t row_count, std::size_t width, double* totals) {
  for (std::size_t i0 = 0; i0 < width; i0 += kTileRows) {
    for (std::size_t j0 = i0 / kKernelWidthStep * kKernelWidthStep; j0 < width;
         j0 += kKernelWidthStep) {
      double sums[kTileRows][kKernelWidthStep] = {};
      for (std::size_t row = 0; row < row_count; ++row) {
        const double* cells = rows + row * width;
        for (std::size_t ii = 0; ii < kTileRows; ++ii) {
          for (std::size_t jj = 0; jj < kKernelWidthStep; ++jj) {
            sums[ii][jj] += cells[i0 + ii] * cells[j0 + jj];
          }
        }
      }
      for (std::size_t ii = 0; ii < kTileRows; ++ii) {
        for (std::size_t jj = 0; jj < kKernelWidthStep; ++jj) {
          totals[(i0 + ii) * width + j0 + jj] += sums[ii][jj];
        }
      }
    }
  }
}

}  // namespace

const CrossProductKernel& ScalarCrossProductKernel() {
  static constexpr CrossProductKernel kKernel{"scalar", AddInteger, AddReal};
  return kKernel;
}
