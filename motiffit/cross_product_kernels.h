#pragma once

#include <cstddef>
#include <cstdint>

// The hot loops of the fit: the products of every pair of columns over a block of rows,
// added to a running total. One set per instruction set, each built in a file of its own
// with that set's compiler flags; CrossProducts picks one at run time.
//
// `width` is a multiple of kKernelWidthStep. Totals are `width` x `width`, row-major; the
// kernels add to every entry (i, j) with j >= i and may add to entries just below the
// diagonal, which callers ignore.
inline constexpr std::size_t kKernelWidthStep = 16;

struct CrossProductKernel {
  const char* name;
  // Integer cells in pairs of rows, in panels of kKernelWidthStep columns so that a tile's
  // operands lie together: word c of pair r of panel p, pairs[(p * row_pairs + r) *
  // kKernelWidthStep + c], holds the cell of column p * kKernelWidthStep + c of row 2r in
  // its low 16 bits and that of row 2r + 1 in its high 16 bits, both signed. Every cell
  // must lie in [-2047, 2047] and `row_pairs` must be at most 128, so that no partial sum
  // leaves 32 bits. Adds the exact sums of products to `totals`.
  void (*add_integer)(const std::int32_t* pairs, std::size_t row_pairs, std::size_t width,
                      std::int64_t* totals);
  // Real cells, `row_count` rows of `width` doubles each; adds the sums of products.
  void (*add_real)(const double* rows, std::size_t row_count, std::size_t width, double* totals);
};

// The portable kernel.
const CrossProductKernel& ScalarCrossProductKernel();
#if defined(MOTIFFIT_X86_KERNELS)
// The AVX2 and FMA kernel; call only where the processor has both.
const CrossProductKernel& Avx2CrossProductKernel();
// The AVX-512F and AVX-512BW kernel; call only where the processor has both.
const CrossProductKernel& Avx512CrossProductKernel();
#endif
