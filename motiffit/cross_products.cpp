#include "motiffit/cross_products.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <exception>
#include <stdexcept>
#include <string_view>
#include <utility>

#include "common/thread_pool.h"

namespace {

// Rows gathered per fold before they are summed: with cells of at most 2047 in magnitude,
// 128 pairs of rows keep every partial sum of the integer kernel within 32 bits.
constexpr std::size_t kBlockRows = 256;
// Full blocks that may wait for the summing thread at once, beyond one per fold: the
// folds fill in step, row by row, so their blocks come full all at once, and the reader
// goes on while the summing thread works through them.
constexpr std::size_t kHandedBlocksBeyondFolds = 2;
constexpr double kLargestIntegerCell = 2047;
// A column's working values are scaled when its first non-zero one lies outside
// [2^-kScaleExponent, 2^kScaleExponent].
constexpr int kScaleExponent = 40;

__extension__ typedef __int128 Int128;

bool KernelSupported(KernelChoice kernel) {
  switch (kernel) {
    case KernelChoice::kBest:
    case KernelChoice::kScalar:
      return true;
#if defined(MOTIFFIT_X86_KERNELS)
    case KernelChoice::kAvx2:
      return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
    case KernelChoice::kAvx512:
      return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw");
#else
    case KernelChoice::kAvx2:
    case KernelChoice::kAvx512:
      return false;
#endif
  }
  return false;
}

const CrossProductKernel& KernelFor(KernelChoice kernel) {
  if (kernel == KernelChoice::kBest || !KernelSupported(kernel)) {
    kernel = KernelChoice::kScalar;
    for (const KernelChoice best : {KernelChoice::kAvx512, KernelChoice::kAvx2}) {
      if (KernelSupported(best)) {
        kernel = best;
        break;
      }
    }
  }
  switch (kernel) {
#if defined(MOTIFFIT_X86_KERNELS)
    case KernelChoice::kAvx512:
      return Avx512CrossProductKernel();
    case KernelChoice::kAvx2:
      return Avx2CrossProductKernel();
#endif
    default:
      return ScalarCrossProductKernel();
  }
}

std::size_t RoundUp(std::size_t count, std::size_t step) {
  return (count + step - 1) / step * step;
}

// Adds the pairwise term n_a n_b / (n_a + n_b) * d d' to the upper triangle of `products`
// (`width` x `width`) and moves `means` (of n_a rows) to those of the n_a + n_b rows, where
// d is the difference of the means of the n_b added rows and `means`.
void MergeMeans(double rows, std::vector<double>& means, double added_rows,
                const std::vector<double>& added_means, std::size_t count, std::size_t width,
                double* products) {
  const double total = rows + added_rows;
  const double weight = rows * added_rows / total;
  std::vector<double> difference(count);
  for (std::size_t i = 0; i < count; ++i) difference[i] = added_means[i] - means[i];
  if (weight > 0) {
    for (std::size_t i = 0; i < count; ++i) {
      const double scaled = weight * difference[i];
      double* row = products + i * width;
      for (std::size_t j = i; j < count; ++j) row[j] += scaled * difference[j];
    }
  }
  for (std::size_t i = 0; i < count; ++i) means[i] += difference[i] * (added_rows / total);
}

}  // namespace

Moments::Moments(std::size_t column_count)
    : columns(column_count),
      means(column_count + 1, 0.0),
      products((column_count + 1) * (column_count + 1), 0.0) {}

void MergeMoments(Moments& into, const Moments& from) {
  if (from.rows == 0) return;
  if (into.rows == 0) {
    into = from;
    return;
  }
  const std::size_t size = into.columns + 1;
  for (std::size_t k = 0; k < into.products.size(); ++k) into.products[k] += from.products[k];
  MergeMeans(into.rows, into.means, from.rows, from.means, size, size, into.products.data());
  for (std::size_t i = 0; i < size; ++i) {
    for (std::size_t j = 0; j < i; ++j) into.product(i, j) = into.product(j, i);
  }
  into.rows += from.rows;
}

KernelChoice KernelChoiceFromEnvironment() {
  const char* value = std::getenv("MOTIFFIT_KERNEL");
  if (value == nullptr) return KernelChoice::kBest;
  const std::string_view name(value);
  if (name == "scalar") return KernelChoice::kScalar;
  if (name == "avx2") return KernelChoice::kAvx2;
  if (name == "avx512") return KernelChoice::kAvx512;
  return KernelChoice::kBest;
}

// Rows of one fold gathered for summing.
struct CrossProducts::Block {
  std::vector<double> cells;  // kBlockRows rows of `width` working values
  std::vector<double> responses;
  std::size_t filled = 0;
  bool integral = true;  // every working value of the block is a small integer

  void Allocate(std::size_t width) {
    cells.resize(kBlockRows * width);
    responses.resize(kBlockRows);
  }
};

struct CrossProducts::BlockJob {
  std::size_t fold = 0;
  Block block;
};

struct CrossProducts::Fold {
  explicit Fold(std::size_t column_count, std::size_t width)
      : integer_sums(width, 0),
        real_means(width, 0.0),
        column_means(column_count, 0.0),
        cross(column_count, 0.0),
        block_means(column_count, 0.0),
        block_cross(column_count, 0.0) {
    filling.Allocate(width);
  }

  Block filling;

  // Blocks of integers: exact sums of the values and of their products.
  std::int64_t integer_rows = 0;
  std::vector<std::int64_t> integer_sums;
  std::vector<std::int64_t> integer_products;  // width^2, allocated at the first such block

  // Other blocks: means and centred products.
  double real_rows = 0;
  std::vector<double> real_means;
  std::vector<double> real_products;  // width^2, allocated at the first such block

  // The response's terms, over every block: means, centred products with the columns and
  // with itself.
  double rows = 0;
  std::vector<double> column_means;
  double response_mean = 0;
  std::vector<double> cross;
  double response_square = 0;

  std::vector<double> block_means;  // scratch
  std::vector<double> block_cross;
};

CrossProducts::CrossProducts(std::size_t column_count, std::size_t fold_count, KernelChoice kernel,
                             std::size_t threads)
    : column_count_(column_count),
      width_(RoundUp(column_count, kKernelWidthStep)),
      kernel_(&KernelFor(kernel)),
      scale_set_(column_count + 1, 0),
      columns_unscaled_(column_count + 1) {
  units_.shift.assign(column_count + 1, 0.0);
  units_.scale.assign(column_count + 1, 1.0);
  for (std::size_t fold = 0; fold < fold_count; ++fold) {
    folds_.push_back(std::make_unique<Fold>(column_count, width_));
  }
  if (threads >= 2) {
    constexpr std::size_t kMostFoldsInStep = 16;  // with more, a few wait: blocks are large
    handed_ = std::make_unique<RecyclingQueue<BlockJob>>(std::min(fold_count, kMostFoldsInStep) +
                                                         kHandedBlocksBeyondFolds);
    summing_ = std::make_unique<BackgroundTask>([this] { SumHandedBlocks(); });
  }
}

CrossProducts::~CrossProducts() {
  if (summing_ == nullptr) return;
  // A fit stopped early by a bad row is not finished: the summing thread takes what was
  // already handed to it, the reader hands nothing more, and the thread is joined.
  handed_->Stop();
  handed_->Finish();
  summing_.reset();
}

void CrossProducts::SumHandedBlocks() {
  std::exception_ptr error;
  for (std::unique_ptr<BlockJob> job; (job = handed_->TakeFilled()) != nullptr;) {
    if (error == nullptr) {
      try {
        SumBlock(*folds_[job->fold], job->block);
      } catch (...) {
        // The reader gets no free block from now on, and learns why at the join.
        error = std::current_exception();
        handed_->Stop();
      }
    }
    handed_->GiveFree(std::move(job));
  }
  if (error != nullptr) std::rethrow_exception(error);
}

void CrossProducts::StopSumming() {
  handed_->Finish();
  std::unique_ptr<BackgroundTask> summing = std::move(summing_);
  summing->Join();
}

void CrossProducts::BlockFilled(std::size_t fold_index) {
  Fold& fold = *folds_[fold_index];
  if (summing_ == nullptr) {
    SumBlock(fold, fold.filling);
    return;
  }
  std::unique_ptr<BlockJob> job = handed_->TakeFree();
  if (job == nullptr) {
    // The summing thread stopped on an error, which the join throws again.
    StopSumming();
    throw std::logic_error("the summing thread stopped without an error");
  }
  job->fold = fold_index;
  job->block.Allocate(width_);
  std::swap(job->block, fold.filling);
  fold.filling.filled = 0;
  fold.filling.integral = true;
  handed_->GiveFilled(std::move(job));
}

std::size_t CrossProducts::AddRow(const double* values, double response) {
  if (rows_ == 0) {
    for (std::size_t column = 0; column < column_count_; ++column) {
      units_.shift[column] = values[column];
    }
    units_.shift[column_count_] = response;
  }
  const std::size_t fold_index = rows_ % folds_.size();
  Block& block = folds_[fold_index]->filling;
  double* row = block.cells.data() + block.filled * width_;
  // The scale of a column is set at its first non-zero working value; until then its
  // working values are all zero, so setting it later changes nothing summed before.
  if (columns_unscaled_ > 0) {
    for (std::size_t column = 0; column <= column_count_; ++column) {
      if (scale_set_[column]) continue;
      const double value = column < column_count_ ? values[column] : response;
      const double working = value - units_.shift[column];
      if (working == 0 || !std::isfinite(working)) continue;
      const int exponent = std::ilogb(working);
      if (exponent > kScaleExponent || exponent < -kScaleExponent) {
        units_.scale[column] = std::ldexp(1.0, -exponent);
      }
      scale_set_[column] = 1;
      --columns_unscaled_;
    }
  }
  double largest = 0;
  bool integral = true;
  const double* shift = units_.shift.data();
  const double* scale = units_.scale.data();
  for (std::size_t column = 0; column < column_count_; ++column) {
    const double working = (values[column] - shift[column]) * scale[column];
    row[column] = working;
    largest = std::max(largest, std::fabs(working));
    // A conversion to int of the value clamped, not std::trunc, which is a library call
    // without SSE4.1.
    const double clamped = std::clamp(working, -2 * kLargestIntegerCell, 2 * kLargestIntegerCell);
    integral &= static_cast<double>(static_cast<int>(clamped)) == working;
  }
  const double working_response = (response - shift[column_count_]) * scale[column_count_];
  if (!(largest <= kLargestWorkingValue) ||
      !(std::fabs(working_response) <= kLargestWorkingValue)) {
    for (std::size_t column = 0; column < column_count_; ++column) {
      if (!(std::fabs(row[column]) <= kLargestWorkingValue)) return column;
    }
    return column_count_;
  }
  block.responses[block.filled] = working_response;
  block.integral = block.integral && integral && largest <= kLargestIntegerCell;
  ++rows_;
  if (++block.filled == kBlockRows) BlockFilled(fold_index);
  return column_count_ + 1;
}

void CrossProducts::SumBlock(Fold& fold, Block& block) {
  const std::size_t count = block.filled;
  if (count == 0) return;
  const auto block_rows = static_cast<double>(count);
  const std::size_t columns = column_count_;

  // The response's terms: the block's own centred sums, merged into the fold's.
  double response_mean = 0;
  for (std::size_t row = 0; row < count; ++row) response_mean += block.responses[row];
  response_mean /= block_rows;
  double response_square = 0;
  std::fill(fold.block_means.begin(), fold.block_means.end(), 0.0);
  std::fill(fold.block_cross.begin(), fold.block_cross.end(), 0.0);
  for (std::size_t row = 0; row < count; ++row) {
    const double* cells = block.cells.data() + row * width_;
    const double deviation = block.responses[row] - response_mean;
    response_square += deviation * deviation;
    for (std::size_t column = 0; column < columns; ++column) {
      fold.block_means[column] += cells[column];
      fold.block_cross[column] += cells[column] * deviation;
    }
  }
  for (double& mean : fold.block_means) mean /= block_rows;
  {
    const double total = fold.rows + block_rows;
    const double weight = fold.rows * block_rows / total;
    const double response_step = response_mean - fold.response_mean;
    for (std::size_t column = 0; column < columns; ++column) {
      const double column_step = fold.block_means[column] - fold.column_means[column];
      fold.cross[column] += fold.block_cross[column] + weight * column_step * response_step;
      fold.column_means[column] += column_step * (block_rows / total);
    }
    fold.response_square += response_square + weight * response_step * response_step;
    fold.response_mean += response_step * (block_rows / total);
    fold.rows = total;
  }

  if (block.integral) {
    if (fold.integer_products.empty()) fold.integer_products.assign(width_ * width_, 0);
    const std::size_t row_pairs = (count + 1) / 2;
    pairs_.resize(row_pairs * width_);
    for (std::size_t pair = 0; pair < row_pairs; ++pair) {
      const double* first = block.cells.data() + 2 * pair * width_;
      const double* second = 2 * pair + 1 < count ? first + width_ : nullptr;
      for (std::size_t column = 0; column < width_; ++column) {
        const auto low = static_cast<std::int32_t>(first[column]);
        const std::int32_t high = second != nullptr ? static_cast<std::int32_t>(second[column]) : 0;
        fold.integer_sums[column] += low + high;
        // The kernels' panel layout: the words of a panel's columns, pair after pair.
        pairs_[(column / kKernelWidthStep * row_pairs + pair) * kKernelWidthStep +
               column % kKernelWidthStep] =
            static_cast<std::int32_t>((static_cast<std::uint32_t>(low) & 0xffffu) |
                                      (static_cast<std::uint32_t>(high) << 16));
      }
    }
    kernel_->add_integer(pairs_.data(), row_pairs, width_, fold.integer_products.data());
    fold.integer_rows += static_cast<std::int64_t>(count);
  } else {
    if (fold.real_products.empty()) fold.real_products.assign(width_ * width_, 0.0);
    // Centred on the block's own means, the products lose nothing to cancellation however
    // far the values lie from zero.
    for (std::size_t row = 0; row < count; ++row) {
      double* cells = block.cells.data() + row * width_;
      for (std::size_t column = 0; column < columns; ++column) {
        cells[column] -= fold.block_means[column];
      }
    }
    kernel_->add_real(block.cells.data(), count, width_, fold.real_products.data());
    MergeMeans(fold.real_rows, fold.real_means, block_rows, fold.block_means, columns, width_,
               fold.real_products.data());
    fold.real_rows += block_rows;
  }
  block.filled = 0;
  block.integral = true;
}

std::vector<Moments> CrossProducts::Finish() {
  const std::size_t columns = column_count_;
  if (summing_ != nullptr) StopSumming();
  std::vector<Moments> result;
  for (const std::unique_ptr<Fold>& fold_pointer : folds_) {
    Fold& fold = *fold_pointer;
    SumBlock(fold, fold.filling);
    Moments moments(columns);
    moments.rows = fold.rows;
    if (fold.rows == 0) {
      result.push_back(std::move(moments));
      continue;
    }
    // The integer blocks, centred exactly: n * S_ij - S_i * S_j in 128-bit integers, then
    // divided by n, so the only errors are the final roundings.
    std::vector<double> means(columns, 0.0);
    std::vector<double> products(width_ * width_, 0.0);
    double rows = 0;
    if (fold.integer_rows > 0) {
      const std::int64_t count = fold.integer_rows;
      rows = static_cast<double>(count);
      for (std::size_t i = 0; i < columns; ++i) {
        means[i] = static_cast<double>(fold.integer_sums[i]) / rows;
        for (std::size_t j = i; j < columns; ++j) {
          const Int128 centred =
              static_cast<Int128>(count) * fold.integer_products[i * width_ + j] -
              static_cast<Int128>(fold.integer_sums[i]) * fold.integer_sums[j];
          products[i * width_ + j] = static_cast<double>(centred) / rows;
        }
      }
    }
    if (fold.real_rows > 0) {
      for (std::size_t i = 0; i < columns; ++i) {
        for (std::size_t j = i; j < columns; ++j) {
          products[i * width_ + j] += fold.real_products[i * width_ + j];
        }
      }
      if (rows == 0) {
        means.assign(fold.real_means.begin(), fold.real_means.begin() + static_cast<long>(columns));
      } else {
        MergeMeans(rows, means, fold.real_rows, fold.real_means, columns, width_, products.data());
      }
    }
    for (std::size_t i = 0; i < columns; ++i) {
      moments.means[i] = means[i];
      for (std::size_t j = i; j < columns; ++j) {
        moments.product(i, j) = moments.product(j, i) = products[i * width_ + j];
      }
      moments.product(i, columns) = moments.product(columns, i) = fold.cross[i];
    }
    moments.means[columns] = fold.response_mean;
    moments.product(columns, columns) = fold.response_square;
    result.push_back(std::move(moments));
  }
  return result;
}
