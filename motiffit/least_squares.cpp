#include "motiffit/least_squares.h"

#include <Eigen/Dense>
#include <algorithm>
#include <boost/math/distributions/students_t.hpp>
#include <cmath>
#include <limits>

namespace {

using Matrix = Eigen::MatrixXd;
using MatrixMap = Eigen::Map<Matrix>;
using Vector = Eigen::VectorXd;

// A block of rows takes about this much memory; with fewer rows the factor's own rows at
// the top of each fold would cost more than the block, with many more the block would
// outgrow the caches for nothing.
constexpr std::size_t kBlockBytes = std::size_t{32} << 20;
constexpr std::size_t kMostBlockRows = 65536;

constexpr double kNotAvailable = std::numeric_limits<double>::quiet_NaN();

// The t distribution never throws here: a value it cannot give comes back as NaN.
using QuietPolicy = boost::math::policies::policy<
    boost::math::policies::domain_error<boost::math::policies::ignore_error>,
    boost::math::policies::overflow_error<boost::math::policies::ignore_error>,
    boost::math::policies::evaluation_error<boost::math::policies::ignore_error>>;

// Two-sided p-value of `t` on `degrees_of_freedom`.
double TwoSidedP(double t, std::size_t degrees_of_freedom) {
  if (std::isnan(t)) return kNotAvailable;
  if (std::isinf(t)) return 0;
  const boost::math::students_t_distribution<double, QuietPolicy> distribution(
      static_cast<double>(degrees_of_freedom));
  return 2 * boost::math::cdf(boost::math::complement(distribution, std::fabs(t)));
}

}  // namespace

LeastSquares::LeastSquares(std::size_t column_count)
    : column_count_(column_count),
      width_(column_count + 2),
      block_rows_(
          std::max(width_, std::min(kBlockBytes / (width_ * sizeof(double)), kMostBlockRows))),
      leading_(width_ + block_rows_),
      // Not initialised: rows are written before they are read, and pages never written
      // (most of them when the table has fewer rows than columns) cost no memory.
      work_(new double[leading_ * width_]) {}

LeastSquares::~LeastSquares() = default;

void LeastSquares::AddRow(const double* values, double response) {
  double* row = work_.get() + factor_rows_ + filled_;
  row[0] = 1;
  for (std::size_t column = 0; column < column_count_; ++column) {
    row[(column + 1) * leading_] = values[column];
  }
  row[(width_ - 1) * leading_] = response;
  ++rows_;
  if (++filled_ == block_rows_) FoldBlock();
}

// Replaces the factor R and the block B below it by the triangular factor of [R; B]: both
// have the same Gram matrix, so the factor of every row so far is kept in at most `width_`
// rows.
void LeastSquares::FoldBlock() {
  if (filled_ == 0) return;
  MatrixMap work(work_.get(), static_cast<Eigen::Index>(leading_),
                 static_cast<Eigen::Index>(width_));
  const auto active_rows = static_cast<Eigen::Index>(factor_rows_ + filled_);
  Eigen::Ref<Matrix> active = work.topRows(active_rows);
  const Eigen::HouseholderQR<Eigen::Ref<Matrix>> decomposition(active);
  // The Householder vectors are left below the diagonal; the factor is the upper triangle.
  factor_rows_ = std::min(width_, factor_rows_ + filled_);
  work.topRows(static_cast<Eigen::Index>(factor_rows_))
      .triangularView<Eigen::StrictlyLower>()
      .setZero();
  filled_ = 0;
}

LinearFit LeastSquares::Fit() {
  FoldBlock();
  LinearFit fit;
  fit.rows = rows_;
  const auto columns = static_cast<Eigen::Index>(column_count_);
  MatrixMap work(work_.get(), static_cast<Eigen::Index>(leading_),
                 static_cast<Eigen::Index>(width_));
  if (factor_rows_ == 0) {
    fit.rank = 1;
    return fit;
  }
  // The factor of [1 x y]: row 0 holds the intercept's part; below it, the columns x and
  // the response as they are about their means (the block `centred`, whose Gram matrix is
  // that of the centred data), the response's part in the last column.
  const auto factor = work.topRows(static_cast<Eigen::Index>(factor_rows_));
  const auto lower_rows = static_cast<Eigen::Index>(factor_rows_ - 1);
  const Matrix centred = factor.block(1, 1, lower_rows, columns);
  const Vector response = factor.block(1, columns + 1, lower_rows, 1);

  // Column pivoting takes the columns by the size of what is left of them after the ones
  // taken before; a column with nearly nothing left is a linear combination of those, or
  // all zero, or constant (which centring made zero), and gets no estimate. "Nearly
  // nothing" is less than the number of rows times the rounding unit of the largest
  // column: the rounding of the folds leaves an exactly collinear column a few hundred
  // rounding units, a real column of counts far more.
  Eigen::ColPivHouseholderQR<Matrix> pivoted(lower_rows, columns);
  Eigen::Index rank = 0;
  if (columns > 0 && lower_rows > 0) {
    pivoted.setThreshold(std::numeric_limits<double>::epsilon() *
                         static_cast<double>(std::max(rows_, column_count_ + 1)));
    pivoted.compute(centred);
    rank = pivoted.rank();
  }
  fit.rank = static_cast<std::size_t>(rank) + 1;
  fit.fitted = rows_ > fit.rank;
  if (!fit.fitted) return fit;

  const auto terms = static_cast<std::size_t>(columns) + 1;
  fit.degrees_of_freedom = rows_ - fit.rank;
  fit.coefficients.assign(terms, 0.0);
  fit.standard_errors.assign(terms, kNotAvailable);
  fit.t_values.assign(terms, kNotAvailable);
  fit.p_values.assign(terms, kNotAvailable);
  fit.estimated.assign(terms, false);
  fit.estimated[0] = true;

  // Slopes of the estimated columns, in pivot order, from the leading triangle; what the
  // rest of the rotated response holds is the residual.
  Vector rotated = response;
  std::vector<Eigen::Index> pivot_columns;
  if (rank > 0) {
    rotated.applyOnTheLeft(pivoted.householderQ().adjoint());
    const Vector slopes = pivoted.matrixQR()
                              .topLeftCorner(rank, rank)
                              .triangularView<Eigen::Upper>()
                              .solve(rotated.head(rank));
    for (Eigen::Index k = 0; k < rank; ++k) {
      const Eigen::Index column = pivoted.colsPermutation().indices()(k);
      pivot_columns.push_back(column);
      fit.coefficients[static_cast<std::size_t>(column) + 1] = slopes(k);
      fit.estimated[static_cast<std::size_t>(column) + 1] = true;
    }
  }
  fit.residual_sum_of_squares = rotated.tail(lower_rows - rank).squaredNorm();
  fit.total_sum_of_squares = response.squaredNorm();

  // Intercept: what row 0 of the factor leaves once the slopes are known (the mean of the
  // response less the slopes times the means of their columns).
  double intercept_part = factor(0, columns + 1);
  for (Eigen::Index column = 0; column < columns; ++column) {
    intercept_part -=
        factor(0, column + 1) * fit.coefficients[static_cast<std::size_t>(column) + 1];
  }
  fit.coefficients[0] = intercept_part / factor(0, 0);

  const auto degrees = static_cast<double>(fit.degrees_of_freedom);
  fit.r_squared = 1 - fit.residual_sum_of_squares / fit.total_sum_of_squares;
  fit.adjusted_r_squared = 1 - (1 - fit.r_squared) * static_cast<double>(rows_ - 1) / degrees;
  fit.residual_standard_error = std::sqrt(fit.residual_sum_of_squares / degrees);

  // Standard errors: sigma^2 (T'T)^-1 is the covariance of the estimates, T the triangular
  // factor of the intercept and the estimated columns, so each error is sigma times the
  // length of a row of T^-1.
  Matrix triangle = Matrix::Zero(rank + 1, rank + 1);
  triangle(0, 0) = factor(0, 0);
  for (Eigen::Index k = 0; k < rank; ++k) {
    triangle(0, k + 1) = factor(0, pivot_columns[static_cast<std::size_t>(k)] + 1);
  }
  if (rank > 0) {
    triangle.bottomRightCorner(rank, rank) =
        pivoted.matrixQR().topLeftCorner(rank, rank).triangularView<Eigen::Upper>();
  }
  const Matrix inverse =
      triangle.triangularView<Eigen::Upper>().solve(Matrix::Identity(rank + 1, rank + 1));
  for (Eigen::Index k = 0; k <= rank; ++k) {
    const std::size_t term =
        k == 0 ? 0 : static_cast<std::size_t>(pivot_columns[static_cast<std::size_t>(k - 1)]) + 1;
    const double error = fit.residual_standard_error * inverse.row(k).norm();
    fit.standard_errors[term] = error;
    fit.t_values[term] = fit.coefficients[term] / error;
    fit.p_values[term] = TwoSidedP(fit.t_values[term], fit.degrees_of_freedom);
  }

  // A column's spread about its mean is the length of its centred part; the scale of the
  // standardised coefficient is the ratio of the spreads of the column and of the response.
  const double response_spread = response.norm();
  fit.standardised.assign(static_cast<std::size_t>(columns), 0.0);
  fit.standardised_errors.assign(static_cast<std::size_t>(columns), kNotAvailable);
  for (Eigen::Index column = 0; column < columns; ++column) {
    const auto index = static_cast<std::size_t>(column);
    const double scale =
        response_spread > 0 ? centred.col(column).norm() / response_spread : kNotAvailable;
    fit.standardised[index] = fit.coefficients[index + 1] * scale;
    if (fit.estimated[index + 1])
      fit.standardised_errors[index] = fit.standard_errors[index + 1] * scale;
  }
  return fit;
}
