#include "motiffit/least_squares.h"

#include <Eigen/Dense>
#include <algorithm>
#include <boost/math/distributions/students_t.hpp>
#include <cmath>
#include <limits>
#include <numeric>

namespace {

using Matrix = Eigen::MatrixXd;
using Vector = Eigen::VectorXd;

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

// The columns with an estimate and the Cholesky factor of their correlation matrix.
struct Solution {
  std::vector<std::size_t> kept;  // columns with an estimate, in table order
  Vector spread;                  // square roots of their centred sums of squares
  Matrix factor;                  // lower triangle: factor * factor' = their correlations
  Vector standardised;            // solution of the correlations against the response
  std::vector<double> slopes;     // per column, working units, 0 where not kept
  double intercept = 0;           // working units
  double residual_sum_of_squares = 0;
};

// Chooses the columns in table order: a column is taken unless it is constant or less than
// kCollinearShare of its correlation-scaled sum of squares is left after the columns
// taken before it, so the choice does not depend on the scale of any column. Then solves
// the normal equations of the columns taken.
Solution Solve(const Moments& moments, const WorkingUnits& units) {
  const std::size_t columns = moments.columns;
  Solution solution;
  std::vector<std::size_t> candidates;
  for (std::size_t column = 0; column < columns; ++column) {
    if (!IsConstantColumn(moments, units, column)) candidates.push_back(column);
  }
  const auto count = static_cast<Eigen::Index>(candidates.size());
  Vector spread(count);
  for (Eigen::Index k = 0; k < count; ++k) {
    const std::size_t column = candidates[static_cast<std::size_t>(k)];
    spread(k) = std::sqrt(moments.product(column, column));
  }
  // Right-looking Cholesky that skips a column whose remaining share is too small: the
  // columns skipped take no part in the elimination, so the factor of the columns taken
  // is that of their own correlation matrix.
  Matrix work(count, count);
  for (Eigen::Index j = 0; j < count; ++j) {
    for (Eigen::Index i = j; i < count; ++i) {
      work(i, j) = moments.product(candidates[static_cast<std::size_t>(i)],
                                   candidates[static_cast<std::size_t>(j)]) /
                   (spread(i) * spread(j));
    }
    work(j, j) = 1;
  }
  std::vector<Eigen::Index> taken;
  // Nearly always every column is taken: the blocked factorisation then gives the same
  // factor faster, and its pivots are the same remaining shares.
  Eigen::LLT<Matrix> blocked(work.selfadjointView<Eigen::Lower>());
  bool all_taken = blocked.info() == Eigen::Success;
  if (all_taken) {
    const Matrix& factor = blocked.matrixLLT();
    for (Eigen::Index j = 0; j < count && all_taken; ++j) {
      all_taken = factor(j, j) * factor(j, j) >= kCollinearShare;
    }
  }
  if (all_taken) {
    work = blocked.matrixLLT();
    for (Eigen::Index j = 0; j < count; ++j) taken.push_back(j);
  }
  for (Eigen::Index j = 0; j < count && !all_taken; ++j) {
    const double remaining = work(j, j);
    if (!(remaining >= kCollinearShare)) continue;
    taken.push_back(j);
    const double pivot = std::sqrt(remaining);
    for (Eigen::Index i = j; i < count; ++i) work(i, j) /= pivot;
    for (Eigen::Index k = j + 1; k < count; ++k) {
      const double factor = work(k, j);
      if (factor == 0) continue;
      for (Eigen::Index i = k; i < count; ++i) work(i, k) -= work(i, j) * factor;
    }
  }
  const auto kept = static_cast<Eigen::Index>(taken.size());
  solution.factor.resize(kept, kept);
  solution.spread.resize(kept);
  Vector correlation(kept);
  for (Eigen::Index a = 0; a < kept; ++a) {
    const std::size_t column =
        candidates[static_cast<std::size_t>(taken[static_cast<std::size_t>(a)])];
    solution.kept.push_back(column);
    solution.spread(a) = spread(taken[static_cast<std::size_t>(a)]);
    correlation(a) = moments.product(column, columns) / solution.spread(a);
    for (Eigen::Index b = 0; b < kept; ++b) {
      solution.factor(a, b) =
          b <= a ? work(taken[static_cast<std::size_t>(a)], taken[static_cast<std::size_t>(b)])
                 : 0.0;
    }
  }
  const Vector forward = solution.factor.triangularView<Eigen::Lower>().solve(correlation);
  solution.standardised = solution.factor.transpose().triangularView<Eigen::Upper>().solve(forward);
  solution.slopes.assign(columns, 0.0);
  double intercept = moments.means[columns];
  for (Eigen::Index a = 0; a < kept; ++a) {
    const std::size_t column = solution.kept[static_cast<std::size_t>(a)];
    const double slope = solution.standardised(a) / solution.spread(a);
    solution.slopes[column] = slope;
    intercept -= slope * moments.means[column];
  }
  solution.intercept = intercept;
  solution.residual_sum_of_squares =
      std::max(0.0, moments.product(columns, columns) - solution.standardised.dot(correlation));
  return solution;
}

}  // namespace

bool IsConstantColumn(const Moments& moments, const WorkingUnits& units, std::size_t column) {
  const double square_sum = moments.product(column, column);
  if (!(square_sum > 0)) return true;
  // The mean on the column's own scale, shift included: a column of values all near 1e8
  // that differ only by rounding is as constant as one of equal values.
  const double magnitude =
      std::fabs(units.shift[column] * units.scale[column] + moments.means[column]);
  const double noise = 16 * std::numeric_limits<double>::epsilon() * magnitude;
  return square_sum <= moments.rows * noise * noise;
}

double HeldOutSquaredError(const Moments& rows, double intercept,
                           const std::vector<double>& slopes) {
  const std::size_t columns = rows.columns;
  const auto size = static_cast<Eigen::Index>(columns + 1);
  const Eigen::Map<const Matrix> products(rows.products.data(), size, size);
  const Eigen::Map<const Vector> slope(slopes.data(), static_cast<Eigen::Index>(columns));
  const Eigen::Map<const Vector> means(rows.means.data(), static_cast<Eigen::Index>(columns));
  const auto column_products = products.topLeftCorner(size - 1, size - 1);
  // Sum of (y - a - x b)^2 = Syy - 2 b'Sxy + b'Sxx b + n (mean y - a - mean x b)^2, the S
  // centred products of the rows.
  const double error = products(size - 1, size - 1) -
                       2 * slope.dot(products.col(size - 1).head(size - 1)) +
                       slope.dot(column_products * slope);
  const double mean_error = rows.means[columns] - intercept - slope.dot(means);
  return std::max(0.0, error) + rows.rows * mean_error * mean_error;
}

Moments MomentsWithout(const std::vector<Moments>& folds, std::size_t left_out) {
  Moments rest(folds.front().columns);
  for (std::size_t fold = 0; fold < folds.size(); ++fold) {
    if (fold != left_out) MergeMoments(rest, folds[fold]);
  }
  return rest;
}

std::vector<double> BenjaminiHochbergQValues(const std::vector<double>& p_values) {
  std::vector<std::size_t> order;
  for (std::size_t k = 0; k < p_values.size(); ++k) {
    if (!std::isnan(p_values[k])) order.push_back(k);
  }
  std::stable_sort(order.begin(), order.end(),
                   [&](std::size_t a, std::size_t b) { return p_values[a] < p_values[b]; });
  std::vector<double> q_values(p_values.size(), kNotAvailable);
  const auto tests = static_cast<double>(order.size());
  double smallest = 1;
  for (std::size_t rank = order.size(); rank-- > 0;) {
    const double q = p_values[order[rank]] * tests / static_cast<double>(rank + 1);
    smallest = std::min(smallest, q);
    q_values[order[rank]] = smallest;
  }
  return q_values;
}

LinearFit FitLeastSquares(const Moments& all, const std::vector<Moments>& folds,
                          const WorkingUnits& units) {
  const std::size_t columns = all.columns;
  LinearFit fit;
  fit.rows = static_cast<std::size_t>(all.rows);
  const Solution solution = Solve(all, units);
  const auto kept = static_cast<Eigen::Index>(solution.kept.size());
  fit.rank = solution.kept.size() + 1;
  fit.fitted = fit.rows > fit.rank;
  if (!fit.fitted) return fit;

  const std::size_t terms = columns + 1;
  const double response_scale = units.scale[columns];
  fit.degrees_of_freedom = fit.rows - fit.rank;
  fit.coefficients.assign(terms, 0.0);
  fit.standard_errors.assign(terms, kNotAvailable);
  fit.t_values.assign(terms, kNotAvailable);
  fit.p_values.assign(terms, kNotAvailable);
  fit.estimated.assign(terms, false);
  fit.estimated[0] = true;

  // Back to the table's units: a working value is (value - shift) * scale.
  auto original_mean = [&](std::size_t column) {
    return units.shift[column] + all.means[column] / units.scale[column];
  };
  double intercept = original_mean(columns);
  for (const std::size_t column : solution.kept) {
    const double coefficient = solution.slopes[column] * units.scale[column] / response_scale;
    fit.coefficients[column + 1] = coefficient;
    fit.estimated[column + 1] = true;
    intercept -= coefficient * original_mean(column);
  }
  fit.coefficients[0] = intercept;

  const double total = all.product(columns, columns);
  const double degrees = static_cast<double>(fit.degrees_of_freedom);
  fit.residual_sum_of_squares =
      solution.residual_sum_of_squares / (response_scale * response_scale);
  fit.total_sum_of_squares = total / (response_scale * response_scale);
  fit.r_squared = total > 0 ? 1 - solution.residual_sum_of_squares / total : kNotAvailable;
  fit.adjusted_r_squared = 1 - (1 - fit.r_squared) * static_cast<double>(fit.rows - 1) / degrees;
  const double sigma = std::sqrt(solution.residual_sum_of_squares / degrees);  // working
  fit.residual_standard_error = sigma / response_scale;

  // Standard errors from the inverse of the correlation matrix of the columns kept: the
  // squared lengths of the columns of the factor's inverse are its diagonal.
  const Matrix inverse =
      solution.factor.triangularView<Eigen::Lower>().solve(Matrix::Identity(kept, kept));
  for (Eigen::Index a = 0; a < kept; ++a) {
    const std::size_t column = solution.kept[static_cast<std::size_t>(a)];
    const double error =
        sigma * inverse.col(a).norm() / solution.spread(a) * units.scale[column] / response_scale;
    fit.standard_errors[column + 1] = error;
  }
  // The intercept's variance: sigma^2 (1/n + m' C^-1 m), m the columns' means in the
  // table's units, here on the working scale of each column.
  Vector means(kept);
  for (Eigen::Index a = 0; a < kept; ++a) {
    const std::size_t column = solution.kept[static_cast<std::size_t>(a)];
    means(a) = (units.shift[column] * units.scale[column] + all.means[column]) / solution.spread(a);
  }
  const double leverage = (inverse * means).squaredNorm();
  fit.standard_errors[0] = sigma * std::sqrt(1 / all.rows + leverage) / response_scale;
  for (std::size_t term = 0; term < terms; ++term) {
    if (!fit.estimated[term]) continue;
    fit.t_values[term] = fit.coefficients[term] / fit.standard_errors[term];
    fit.p_values[term] = TwoSidedP(fit.t_values[term], fit.degrees_of_freedom);
  }
  std::vector<double> column_p(fit.p_values.begin() + 1, fit.p_values.end());
  const std::vector<double> column_q = BenjaminiHochbergQValues(column_p);
  fit.q_values.assign(1, kNotAvailable);
  fit.q_values.insert(fit.q_values.end(), column_q.begin(), column_q.end());

  fit.standardised.assign(columns, 0.0);
  fit.standardised_errors.assign(columns, kNotAvailable);
  for (std::size_t column = 0; column < columns; ++column) {
    const double scale =
        total > 0 ? std::sqrt(std::max(0.0, all.product(column, column)) / total) : kNotAvailable;
    fit.standardised[column] = solution.slopes[column] * scale;
    if (fit.estimated[column + 1]) {
      fit.standardised_errors[column] =
          fit.standard_errors[column + 1] * response_scale / units.scale[column] * scale;
    }
  }

  fit.cross_validated_r_squared = kNotAvailable;
  if (folds.size() >= 2 && total > 0) {
    double held_out = 0;
    for (std::size_t fold = 0; fold < folds.size(); ++fold) {
      const Moments rest = MomentsWithout(folds, fold);
      if (folds[fold].rows == 0) return fit;
      const Solution training = Solve(rest, units);
      if (rest.rows <= static_cast<double>(training.kept.size() + 1)) return fit;
      held_out += HeldOutSquaredError(folds[fold], training.intercept, training.slopes);
    }
    fit.cross_validated_r_squared = 1 - held_out / total;
  }
  return fit;
}
