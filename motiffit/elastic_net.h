#pragma once

#include <cstddef>
#include <optional>
#include <vector>

#include "motiffit/cross_products.h"

enum class Penalty { kNone, kRidge, kLasso, kElastic };

// How a penalised fit is made: the objective
//   (1/2n) |y - b0 - Z b|^2 + lambda ((1 - alpha)/2 |b|^2 + alpha |b|_1)
// on the columns standardised to mean 0 and variance 1 (divided by n), the intercept not
// penalised.
struct PenaltySettings {
  Penalty penalty = Penalty::kNone;
  double alpha = 1;                 // 0 for ridge, 1 for the lasso
  std::optional<double> lambda;     // fixed; otherwise chosen by cross-validation
  bool one_standard_error = false;  // the largest lambda within one SE of the least error
};

// Lambdas of the path, from the smallest that zeroes every coefficient down this far.
inline constexpr std::size_t kPathLength = 100;
inline constexpr double kPathDepth = 1e-4;

// One lambda of the path with its cross-validated error.
struct PathPoint {
  double lambda = 0;
  double error = 0;         // mean squared out-of-fold error
  double error_spread = 0;  // its standard error over the folds
  std::size_t kept = 0;     // columns with a non-zero coefficient in the fit of all rows
};

struct PenalisedFit {
  double lambda = 0;                 // in units of the response; NaN when the response is constant
  std::vector<double> coefficients;  // per term, intercept first, in the table's units
  std::vector<double> standardised;  // per column, in standard deviations
  std::size_t kept = 0;              // columns with a non-zero coefficient
  double r_squared = 0;              // NaN when the response is constant
  double cross_validated_r_squared = 0;  // NaN without folds
  std::vector<PathPoint> path;           // empty when lambda was given
  std::size_t chosen = 0;                // index of `lambda` in `path`
};

// Fits the rows that `all` describes; `folds` (the same rows, split; two or more) serve to
// choose lambda and to give the cross-validated R-squared. Constant columns get 0.
PenalisedFit FitPenalised(const Moments& all, const std::vector<Moments>& folds,
                          const WorkingUnits& units, const PenaltySettings& settings);
