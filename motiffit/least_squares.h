#pragma once

#include <cstddef>
#include <vector>

#include "motiffit/cross_products.h"

// The ordinary least-squares fit of a response on an intercept and a set of columns.
// Terms are numbered with the intercept first: term 0 is the intercept, term 1 + j column j.
struct LinearFit {
  std::size_t rows = 0;
  std::size_t rank = 0;  // terms with an estimate, the intercept included
  bool fitted = false;   // rows > rank: at least one degree of freedom is left

  // The rest is set only when `fitted`.
  std::size_t degrees_of_freedom = 0;  // rows - rank
  double residual_sum_of_squares = 0;
  double total_sum_of_squares = 0;  // of the response about its mean
  double r_squared = 0;             // NaN when the response is constant
  double adjusted_r_squared = 0;
  double residual_standard_error = 0;
  // 1 - (sum of squared out-of-fold errors) / total sum of squares; NaN when not asked
  // for, or when a fold is empty or the rows without it leave no degree of freedom.
  double cross_validated_r_squared = 0;
  // Per term. A term without an estimate (a column that is all zero, constant, or a linear
  // combination of the columns before it) has the coefficient 0 and NaN statistics.
  std::vector<double> coefficients;
  std::vector<double> standard_errors;
  std::vector<double> t_values;
  std::vector<double> p_values;  // two-sided, from the t distribution
  std::vector<double> q_values;  // Benjamini-Hochberg over the columns; NaN for the intercept
  std::vector<bool> estimated;
  // Per column: the coefficient and its standard error in units of standard deviations of
  // the column and of the response (NaN where the response does not vary).
  std::vector<double> standardised;
  std::vector<double> standardised_errors;
};

// A column has an estimate unless less than this share of its centred sum of squares is
// left once the columns before it (that have one) are regressed out of it.
inline constexpr double kCollinearShare = 1e-9;

// True when a column's centred sum of squares is zero relative to its own magnitude: its
// values are all equal up to rounding.
bool IsConstantColumn(const Moments& moments, const WorkingUnits& units, std::size_t column);

// Fits the rows that `all` describes. `folds` (the same rows, split) gives the
// cross-validated R-squared when it holds two or more; pass an empty vector for none.
LinearFit FitLeastSquares(const Moments& all, const std::vector<Moments>& folds,
                          const WorkingUnits& units);

// The sum of squared errors on the rows that `rows` describes of the model `intercept` +
// sum of `slopes` (working units, one per column) times the columns.
double HeldOutSquaredError(const Moments& rows, double intercept,
                           const std::vector<double>& slopes);

// The moments of every fold but `left_out`.
Moments MomentsWithout(const std::vector<Moments>& folds, std::size_t left_out);

// Benjamini-Hochberg q-values of the p-values that are not NaN (NaN stays NaN).
std::vector<double> BenjaminiHochbergQValues(const std::vector<double>& p_values);
