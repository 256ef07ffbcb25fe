#pragma once

#include <cstddef>
#include <ostream>
#include <string>
#include <vector>

#include "common/byte_source.h"
#include "motiffit/least_squares.h"

// A presence table read and fitted: Ln(Peak score), the second column, on the motif
// columns, the third on.
struct PresenceFit {
  enum class Status {
    kDone,                // `fit` holds the fit
    kNoHeader,            // no line with a field
    kHeaderTooNarrow,     // the header has no second column: `field_count` fields
    kRowTooWide,          // a row has `field_count` fields, more than the header
    kReadFailed,          // the source failed before its end
    kNoDegreesOfFreedom,  // `fit.rows` rows for `fit.rank` coefficients
  };
  Status status = Status::kDone;
  std::size_t line_number = 0;  // of the header or the row that stopped the reading
  std::size_t field_count = 0;
  // The motif columns' labels as they go into the coefficient table: the header's, except
  // that an empty one or one reading "Intercept" is replaced by "column N" (N counted from
  // 1 over all columns), so that no label line can pass for the intercept line.
  std::vector<std::string> labels;
  std::size_t data_rows = 0;           // non-empty lines after the header
  std::size_t rows_without_score = 0;  // left out: a score column missing or not finite
  std::size_t rows_with_bad_cell = 0;  // left out: a motif cell missing or not a number
  LinearFit fit;
};

// Reads a presence table and fits it. Fields are separated by single tabs, so that an empty
// cell keeps the cells after it under their labels; a carriage return before a line feed
// is dropped; empty lines and lines of tabs only are skipped. The first remaining line is
// the header. A data row is fitted when its first two fields are finite numbers and it has
// a number in every motif cell; a number is read from the front of a cell as Scorefit reads
// it. Other rows are left out and counted.
PresenceFit FitPresenceTable(ByteSource& source);

// Writes the coefficient table of a completed fit: title lines
// with the figures of the fit, an empty line, a line of column names, the "Intercept" line,
// then one line per motif column whose fourth field is the coefficient, written with as
// many digits as bring the same double back.
void WriteCoefficientTable(const PresenceFit& table, std::ostream& out);

// The message for a table that was not fitted, or empty when it was.
std::string ProblemText(const PresenceFit& table);
