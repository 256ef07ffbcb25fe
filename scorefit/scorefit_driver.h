#pragma once

#include <cstddef>
#include <istream>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "common/byte_source.h"
#include "common/line_error.h"

// The file in the working directory to which every run writes the coefficients it read.
inline constexpr const char* kCoefficientDumpName = "out_b.tab";

// Runs Scorefit on its command-line arguments (program name excluded): the coefficient
// table, the presence table and the output file; arguments after the third are ignored.
// No argument, "--help" or "-h": usage on standard output; "--version": one version line;
// one or two arguments: usage on standard error and 1. A file that cannot be opened or
// input that cannot be honestly processed gives one line on standard error and 1.
// Returns the exit code.
int RunScorefit(const std::vector<std::string>& args);

// Reads a coefficient table and appends its coefficients to `b`: the number in the second
// field of the first "Intercept" line, then the fourth field of every later non-empty line.
// Lines before the "Intercept" line are ignored. Empty when the table was read in full;
// otherwise what stopped it: a line with too few fields or a coefficient field that holds
// no number (with its line), no "Intercept" line or a failed read (line 0).
std::optional<LineError> ReadCoefficientTable(std::istream& in, std::vector<double>& b);

// How a prediction pass ended.
struct PredictionOutcome {
  enum class Status {
    kDone,          // the whole table was written
    kNoIntercept,   // `b` is empty: nothing was read or written
    kBadRow,        // a data row has more fields than `b` serves; the output is incomplete
    kReadFailed,    // the input could not be read to its end
    kWriteFailed,   // the output stream failed
    kOutOfMemory,   // memory ran out while reading the line `line_number`
  };
  Status status = Status::kDone;
  std::size_t line_number = 0;  // the bad row's line, or the line being read, from 1
  std::size_t field_count = 0;  // the bad row's fields
};

// Copies the presence table `in` to `out` with one tab after every field, adding the column
// "Predicted" to the first non-empty line and, to every later one, b[0] plus each field
// from the third on times b[field - 1]. A field that holds no number makes that row's
// prediction "nan". A row can use at most b.size() + 1 fields.
PredictionOutcome WritePredictionTable(std::istream& in, const std::vector<double>& b,
                                       std::ostream& out);
// The same over a byte source, read in large blocks.
PredictionOutcome WritePredictionTable(ByteSource& in, const std::vector<double>& b,
                                       std::ostream& out);

// The message for a data row of `field_count` fields under `coefficient_count`
// coefficients, intercept included.
std::string TooManyFieldsText(std::size_t field_count, std::size_t coefficient_count);
