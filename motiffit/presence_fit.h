#pragma once

#include <cstddef>
#include <ostream>
#include <string>
#include <vector>

#include "common/byte_source.h"
#include "motiffit/cross_products.h"
#include "motiffit/elastic_net.h"
#include "motiffit/least_squares.h"

// How a presence table is fitted.
struct FitSettings {
  std::size_t folds = 5;  // data row i (counted over the rows fitted) is in fold i mod folds
  PenaltySettings penalty;
  KernelChoice kernel = KernelChoice::kBest;
  std::size_t threads = 1;  // two or more: the sums are formed beside the reading
};

// A presence table read and fitted: Ln(Peak score), the second column, on the motif
// columns, the third on.
struct PresenceFit {
  enum class Status {
    kDone,                // `fit` (or `penalised`) holds the fit
    kNoHeader,            // no line with a field
    kHeaderTooNarrow,     // the header has no second column: `field_count` fields
    kRowTooWide,          // a row has `field_count` fields, more than the header
    kReadFailed,          // the source failed before its end
    kNoDegreesOfFreedom,  // `fit.rows` rows for `fit.rank` coefficients
    kOutOfRange,          // a cell of column `column` (labels.size() for the score) whose
                          // square, next to the column's other values, would overflow
    kTooFewRowsForFolds,  // a penalised fit with fewer usable rows than folds (or 2)
    kNotFinite,           // the fit gave a value that is not finite, for term `column`
  };
  Status status = Status::kDone;
  std::size_t line_number = 0;  // of the header or the row that stopped the reading
  std::size_t field_count = 0;
  std::size_t column = 0;
  std::string cell;  // the cell out of range, as written
  FitSettings settings;
  // The motif columns' labels as they go into the coefficient table: the header's, except
  // that an empty one or one reading "Intercept" is replaced by "column N" (N counted from
  // 1 over all columns), so that no label line can pass for the intercept line.
  std::vector<std::string> labels;
  std::size_t data_rows = 0;           // non-empty lines after the header
  std::size_t rows_without_score = 0;  // left out: a score column missing or not finite
  std::size_t rows_with_bad_cell = 0;  // left out: a motif cell missing or not a number
  std::vector<bool> constant;          // per column: constant over the rows fitted
  LinearFit fit;                       // the unpenalised fit
  PenalisedFit penalised;              // the penalised fit, when one was asked for
};

// Reads a presence table in one pass and fits it. Fields are separated by single tabs, so
// that an empty cell keeps the cells after it under their labels; a line feed, a carriage
// return and the pair of both each end a line; empty lines and lines of tabs only are
// skipped. The first remaining line is the header. A data row is fitted when its first two
// fields are finite numbers and it has a number in every motif cell; a number is read from
// the front of a cell as Scorefit reads it. Other rows are left out and counted.
PresenceFit FitPresenceTable(ByteSource& source, const FitSettings& settings = {});

// The message for a table that was not fitted, or empty when it was.
std::string ProblemText(const PresenceFit& table);
