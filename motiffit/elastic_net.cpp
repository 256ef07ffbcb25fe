#include "motiffit/elastic_net.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "motiffit/least_squares.h"

namespace {

constexpr double kNotAvailable = std::numeric_limits<double>::quiet_NaN();
// A ridge path starts where a penalty of this much lasso would zero every coefficient.
constexpr double kSmallestPathAlpha = 1e-3;
// Coordinate descent stops when no coefficient moves by more than this share of the
// response's standard deviation in a sweep over every column: loosely along the path,
// where only the cross-validated errors are wanted (a squared move of 1e-7 of the
// response's variance), tightly for the fit that is written.
constexpr double kPathTolerance = 3.2e-4;
constexpr double kTolerance = 1e-13;
constexpr int kMostSweeps = 100000;

// The problem on standardised columns: their correlations and their covariances with the
// response, from the moments of the rows fitted.
struct Problem {
  std::vector<std::size_t> columns;  // the columns that vary
  std::vector<double> spread;        // their standard deviations (divided by n)
  std::vector<double> gram;          // correlations, count x count
  std::vector<double> target;        // covariances with the response / spread
  double response_spread = 0;
  const Moments* moments = nullptr;
};

Problem MakeProblem(const Moments& moments, const WorkingUnits& units) {
  Problem problem;
  problem.moments = &moments;
  const std::size_t columns = moments.columns;
  for (std::size_t column = 0; column < columns; ++column) {
    if (moments.rows > 0 && !IsConstantColumn(moments, units, column)) {
      problem.columns.push_back(column);
      problem.spread.push_back(std::sqrt(moments.product(column, column) / moments.rows));
    }
  }
  const std::size_t count = problem.columns.size();
  problem.gram.assign(count * count, 0.0);
  problem.target.assign(count, 0.0);
  for (std::size_t a = 0; a < count; ++a) {
    for (std::size_t b = 0; b < count; ++b) {
      problem.gram[a * count + b] =
          a == b ? 1.0
                 : moments.product(problem.columns[a], problem.columns[b]) /
                       (moments.rows * problem.spread[a] * problem.spread[b]);
    }
    problem.target[a] =
        moments.product(problem.columns[a], columns) / (moments.rows * problem.spread[a]);
  }
  if (moments.rows > 0) {
    problem.response_spread = std::sqrt(moments.product(columns, columns) / moments.rows);
  }
  return problem;
}

double LargestLambda(const Problem& problem, double alpha) {
  double largest = 0;
  for (const double value : problem.target) largest = std::max(largest, std::fabs(value));
  return largest / std::max(alpha, kSmallestPathAlpha);
}

// Coordinate descent with covariance updates: `gradient` is target - gram * beta, kept up
// to date as each coefficient moves. Sweeps the columns with a non-zero coefficient until
// they settle, then all of them, until a sweep over all moves nothing.
void Descend(const Problem& problem, double lambda, double alpha, double tolerance_share,
             std::vector<double>& beta, std::vector<double>& gradient) {
  const std::size_t count = problem.columns.size();
  const double threshold = lambda * alpha;
  const double shrink = 1 + lambda * (1 - alpha);
  const double tolerance = tolerance_share * std::max(problem.response_spread, 1e-300);
  auto sweep = [&](bool active_only) {
    double largest_move = 0;
    for (std::size_t a = 0; a < count; ++a) {
      const double old = beta[a];
      if (active_only && old == 0) continue;
      const double z = gradient[a] + old;
      const double magnitude = std::fabs(z) - threshold;
      const double updated = magnitude > 0 ? std::copysign(magnitude, z) / shrink : 0.0;
      if (updated == old) continue;
      const double move = updated - old;
      beta[a] = updated;
      const double* column = problem.gram.data() + a * count;
      for (std::size_t b = 0; b < count; ++b) gradient[b] -= move * column[b];
      largest_move = std::max(largest_move, std::fabs(move));
    }
    return largest_move;
  };
  for (int sweeps = 0; sweeps < kMostSweeps; ++sweeps) {
    if (sweep(false) <= tolerance) return;
    while (sweep(true) > tolerance && ++sweeps < kMostSweeps) {
    }
  }
}

// Intercept and slopes in working units from standardised coefficients.
void WorkingModel(const Problem& problem, const std::vector<double>& beta, double& intercept,
                  std::vector<double>& slopes) {
  const Moments& moments = *problem.moments;
  slopes.assign(moments.columns, 0.0);
  intercept = moments.means[moments.columns];
  for (std::size_t a = 0; a < problem.columns.size(); ++a) {
    const std::size_t column = problem.columns[a];
    slopes[column] = beta[a] / problem.spread[a];
    intercept -= slopes[column] * moments.means[column];
  }
}

// Walks the lambdas in order, warm-starting each from the last, calling visit(index, beta).
template <typename Visit>
void WalkPath(const Problem& problem, const std::vector<double>& lambdas, double alpha,
              Visit&& visit) {
  std::vector<double> beta(problem.columns.size(), 0.0);
  std::vector<double> gradient = problem.target;
  for (std::size_t index = 0; index < lambdas.size(); ++index) {
    Descend(problem, lambdas[index], alpha, kPathTolerance, beta, gradient);
    visit(index, beta);
  }
}

std::vector<double> PathLambdas(double largest) {
  std::vector<double> lambdas(kPathLength);
  for (std::size_t index = 0; index < kPathLength; ++index) {
    lambdas[index] = largest * std::pow(kPathDepth, static_cast<double>(index) /
                                                        static_cast<double>(kPathLength - 1));
  }
  return lambdas;
}

// Sum over folds of each lambda's out-of-fold squared errors, and of each fold's.
std::vector<std::vector<double>> FoldErrors(const std::vector<Moments>& folds,
                                            const WorkingUnits& units,
                                            const std::vector<double>& lambdas, double alpha) {
  std::vector<std::vector<double>> errors(folds.size(), std::vector<double>(lambdas.size(), 0));
  for (std::size_t fold = 0; fold < folds.size(); ++fold) {
    const Moments rest = MomentsWithout(folds, fold);
    const Problem problem = MakeProblem(rest, units);
    double intercept = 0;
    std::vector<double> slopes;
    WalkPath(problem, lambdas, alpha, [&](std::size_t index, const std::vector<double>& beta) {
      WorkingModel(problem, beta, intercept, slopes);
      errors[fold][index] = HeldOutSquaredError(folds[fold], intercept, slopes);
    });
  }
  return errors;
}

}  // namespace

PenalisedFit FitPenalised(const Moments& all, const std::vector<Moments>& folds,
                          const WorkingUnits& units, const PenaltySettings& settings) {
  const std::size_t columns = all.columns;
  const double response_scale = units.scale[columns];
  const double alpha = settings.alpha;
  const Problem problem = MakeProblem(all, units);
  const double total = all.product(columns, columns);
  const bool cross_validate = folds.size() >= 2;
  PenalisedFit fit;
  fit.cross_validated_r_squared = kNotAvailable;

  // The lambdas walked on all rows: the path, or the path down to a given lambda.
  const double largest = LargestLambda(problem, alpha);
  std::vector<double> lambdas;
  if (largest > 0) lambdas = PathLambdas(largest);
  std::size_t chosen = 0;
  if (settings.lambda) {
    const double given = *settings.lambda * response_scale;
    std::erase_if(lambdas, [&](double lambda) { return lambda <= given; });
    lambdas.push_back(given);
    chosen = lambdas.size() - 1;
  }

  std::vector<double> beta_chosen(problem.columns.size(), 0.0);
  if (!lambdas.empty() && !settings.lambda && cross_validate) {
    const std::vector<std::vector<double>> errors = FoldErrors(folds, units, lambdas, alpha);
    const double rows = all.rows;
    fit.path.resize(lambdas.size());
    for (std::size_t index = 0; index < lambdas.size(); ++index) {
      PathPoint& point = fit.path[index];
      point.lambda = lambdas[index] / response_scale;
      double sum = 0;
      for (const auto& fold_errors : errors) sum += fold_errors[index];
      const double mean = sum / rows;
      double spread = 0;
      for (std::size_t fold = 0; fold < folds.size(); ++fold) {
        const double deviation = errors[fold][index] / folds[fold].rows - mean;
        spread += folds[fold].rows * deviation * deviation;
      }
      point.error = mean / (response_scale * response_scale);
      point.error_spread = std::sqrt(spread / rows / static_cast<double>(folds.size() - 1)) /
                           (response_scale * response_scale);
    }
    std::size_t least = 0;
    for (std::size_t index = 1; index < fit.path.size(); ++index) {
      if (fit.path[index].error < fit.path[least].error) least = index;
    }
    chosen = least;
    if (settings.one_standard_error) {
      const double bound = fit.path[least].error + fit.path[least].error_spread;
      chosen = 0;
      while (fit.path[chosen].error > bound) ++chosen;
    }
    double held_out = 0;
    for (const auto& fold_errors : errors) held_out += fold_errors[chosen];
    if (total > 0) fit.cross_validated_r_squared = 1 - held_out / total;
  } else if (!lambdas.empty() && cross_validate) {
    const std::vector<std::vector<double>> errors = FoldErrors(folds, units, lambdas, alpha);
    double held_out = 0;
    for (const auto& fold_errors : errors) held_out += fold_errors[chosen];
    if (total > 0) fit.cross_validated_r_squared = 1 - held_out / total;
  }

  WalkPath(problem, lambdas, alpha, [&](std::size_t index, const std::vector<double>& beta) {
    std::size_t kept = 0;
    for (const double value : beta) kept += value != 0;
    if (index < fit.path.size()) fit.path[index].kept = kept;
    if (index == chosen) beta_chosen = beta;
  });

  // The coefficients written are settled to the tight tolerance, from the path's.
  if (!lambdas.empty()) {
    const std::size_t count = problem.columns.size();
    std::vector<double> gradient = problem.target;
    for (std::size_t a = 0; a < count; ++a) {
      if (beta_chosen[a] == 0) continue;
      for (std::size_t b = 0; b < count; ++b) {
        gradient[b] -= problem.gram[a * count + b] * beta_chosen[a];
      }
    }
    Descend(problem, lambdas[chosen], alpha, kTolerance, beta_chosen, gradient);
  }
  if (settings.lambda) {
    fit.lambda = *settings.lambda;
  } else {
    fit.lambda = lambdas.empty() ? kNotAvailable : lambdas[chosen] / response_scale;
  }
  fit.chosen = chosen;
  double intercept = 0;
  std::vector<double> slopes;
  WorkingModel(problem, beta_chosen, intercept, slopes);
  fit.coefficients.assign(columns + 1, 0.0);
  fit.standardised.assign(columns, total > 0 ? 0.0 : kNotAvailable);
  double original_intercept = units.shift[columns] + all.means[columns] / response_scale;
  for (std::size_t column = 0; column < columns; ++column) {
    if (slopes[column] == 0) continue;
    ++fit.kept;
    const double coefficient = slopes[column] * units.scale[column] / response_scale;
    fit.coefficients[column + 1] = coefficient;
    original_intercept -=
        coefficient * (units.shift[column] + all.means[column] / units.scale[column]);
    if (total > 0)
      fit.standardised[column] = slopes[column] * std::sqrt(all.product(column, column) / total);
  }
  fit.coefficients[0] = original_intercept;
  fit.r_squared =
      total > 0 ? 1 - HeldOutSquaredError(all, intercept, slopes) / total : kNotAvailable;
  return fit;
}
