#pragma once

#include <cstddef>
#include <memory>
#include <vector>

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
  double r_squared = 0;
  double adjusted_r_squared = 0;
  double residual_standard_error = 0;
  // Per term. A term without an estimate (a column that is all zero, constant, or a linear
  // combination of the others) has the coefficient 0 and NaN statistics.
  std::vector<double> coefficients;
  std::vector<double> standard_errors;
  std::vector<double> t_values;
  std::vector<double> p_values;  // two-sided, from the t distribution
  std::vector<bool> estimated;
  // Per column: the coefficient and its standard error in units of standard deviations of
  // the column and of the response (NaN where the response does not vary).
  std::vector<double> standardised;
  std::vector<double> standardised_errors;
};

// Fits y = b0 + b1 x1 + ... + bm xm by least squares from rows fed one at a time. Rows are
// gathered in blocks of a few thousand and folded into the triangular factor of a
// Householder QR decomposition of [1 x y], so memory holds one block and the factor, never
// the whole table. The columns whose coefficients can be estimated are then chosen by a
// QR decomposition with column pivoting of that factor, the intercept always among them.
class LeastSquares {
 public:
  explicit LeastSquares(std::size_t column_count);
  ~LeastSquares();
  LeastSquares(const LeastSquares&) = delete;
  LeastSquares& operator=(const LeastSquares&) = delete;

  // Adds one row: `values` holds one value per column, `response` the value to fit.
  void AddRow(const double* values, double response);

  std::size_t rows() const { return rows_; }

  // The fit of every row added so far. Call once, after the last row.
  LinearFit Fit();

 private:
  void FoldBlock();

  std::size_t column_count_;
  std::size_t width_;            // columns of the factor: intercept, the columns, the response
  std::size_t block_rows_;       // rows gathered before a fold
  std::size_t leading_;          // rows of the work matrix: the factor, then one block
  std::size_t factor_rows_ = 0;  // rows of the factor so far, at most `width_`
  std::size_t filled_ = 0;       // rows of the current block, right below the factor
  std::size_t rows_ = 0;
  std::unique_ptr<double[]> work_;  // column-major, `leading_` x `width_`
};
