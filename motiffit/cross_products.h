#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include "motiffit/cross_product_kernels.h"

class BackgroundTask;
template <typename Item>
class RecyclingQueue;

// Centred sufficient statistics of a set of rows: everything a linear fit of the response
// on the columns needs. Entry `columns` (the last) of the means and of the products is the
// response. Values are in working units (see WorkingUnits).
struct Moments {
  std::size_t columns = 0;
  double rows = 0;
  std::vector<double> means;     // columns + 1
  std::vector<double> products;  // (columns + 1)^2, row-major, symmetric, filled in full:
                                 // sums of products of deviations from the means

  explicit Moments(std::size_t column_count = 0);
  double& product(std::size_t i, std::size_t j) { return products[i * (columns + 1) + j]; }
  double product(std::size_t i, std::size_t j) const { return products[i * (columns + 1) + j]; }
};

// Adds the rows that `from` describes to `into`, with the pairwise update of means and
// centred products, which adds only terms of one sign and so cancels nothing.
void MergeMoments(Moments& into, const Moments& from);

// Working value = (value - shift) * scale, per column, the response last. The shift is
// the column's value in the first row, so a constant column is exactly zero; the scale is
// a power of two, 1 unless the column's first non-zero working value lies outside
// [2^-40, 2^40], so that no column's squares underflow or overflow for want of a scale.
struct WorkingUnits {
  std::vector<double> shift;
  std::vector<double> scale;
};

// Which vector kernel to use; kBest picks the best one the processor has.
enum class KernelChoice { kBest, kScalar, kAvx2, kAvx512 };

// The choice named by MOTIFFIT_KERNEL (scalar, avx2, avx512), or kBest.
KernelChoice KernelChoiceFromEnvironment();

// Reads rows one at a time into per-fold centred moments, in memory that does not grow
// with the number of rows: row i (counted from 0 over the rows added) goes to fold
// i mod folds. Rows are gathered per fold in blocks; a block whose working values are all
// integers of at most 2047 in magnitude is summed exactly in integers (count tables
// nearly always are), any other block is centred on its own means and summed in doubles.
// With two threads or more, full blocks are summed on a thread of their own while the
// caller reads the next rows; the sums are the same bit for bit either way, since each
// fold's blocks are summed in the order they were filled.
class CrossProducts {
 public:
  CrossProducts(std::size_t column_count, std::size_t fold_count,
                KernelChoice kernel = KernelChoice::kBest, std::size_t threads = 1);
  ~CrossProducts();
  CrossProducts(const CrossProducts&) = delete;
  CrossProducts& operator=(const CrossProducts&) = delete;

  // Largest magnitude of a working value: the products of any two summed over 2^63 rows
  // stay finite.
  static constexpr double kLargestWorkingValue = 0x1p480;

  // Adds one row: `values` one finite value per column, `response` finite. Returns the
  // column (`column_count` for the response) whose working value is beyond
  // kLargestWorkingValue, or `column_count` + 1 when all are in range; a row out of range
  // is not added. (A working value too small for its square is summed as it is.)
  std::size_t AddRow(const double* values, double response);

  std::size_t rows() const { return rows_; }
  std::size_t column_count() const { return column_count_; }
  const WorkingUnits& units() const { return units_; }
  std::string_view kernel_name() const { return kernel_->name; }

  // The moments of each fold, after the last row. Call once. Throws again what the
  // summing thread threw.
  std::vector<Moments> Finish();

 private:
  struct Block;
  struct Fold;
  struct BlockJob;
  // Hands the fold's full block to the summing thread, or sums it here without one.
  void BlockFilled(std::size_t fold_index);
  void SumBlock(Fold& fold, Block& block);
  void SumHandedBlocks();
  void StopSumming();

  std::size_t column_count_;
  std::size_t width_;  // column_count_ rounded up to the kernels' step
  std::size_t rows_ = 0;
  const CrossProductKernel* kernel_;
  WorkingUnits units_;
  std::vector<char> scale_set_;
  std::size_t columns_unscaled_;
  std::vector<std::unique_ptr<Fold>> folds_;
  std::vector<std::int32_t> pairs_;  // a block in the integer kernel's layout
  // Full blocks on their way to the summing thread, and that thread; null with one thread.
  std::unique_ptr<RecyclingQueue<BlockJob>> handed_;
  std::unique_ptr<BackgroundTask> summing_;
};
