#pragma once

#include <cstddef>
#include <istream>
#include <ostream>
#include <vector>

#include "common/byte_source.h"
#include "scorefit/row_scan.h"

// How a prediction pass ended.
struct PredictionOutcome {
  enum class Status {
    kDone,         // the whole table was written
    kNoIntercept,  // `b` is empty: nothing was read or written
    kBadRow,       // a data row has more fields than `b` serves; the output is incomplete
    kReadFailed,   // the input could not be read to its end
    kWriteFailed,  // the output stream failed
    kOutOfMemory,  // memory ran out while reading the line `line_number`
  };
  Status status = Status::kDone;
  std::size_t line_number = 0;  // the bad row's line, or the line being read, from 1
  std::size_t field_count = 0;  // the bad row's fields
};

// Copies the presence table `in` to `out` with one tab after every field, adding the column
// "Predicted" to the first non-empty line and, to every later one, b[0] plus each field
// from the third on times b[field - 1]. A field that holds no number makes that row's
// prediction "nan". A row can use at most b.size() + 1 fields. Rows are predicted on
// `threads` threads at once (the caller's included), scanned on `path`, and written by one
// more.
[[nodiscard]] PredictionOutcome WritePredictionTable(std::istream& in, const std::vector<double>& b,
                                                     std::ostream& out, std::size_t threads = 1,
                                                     RowScanPath path = RowScanPath::kBest);
// The same over a byte source, read in large blocks.
[[nodiscard]] PredictionOutcome WritePredictionTable(ByteSource& in, const std::vector<double>& b,
                                                     std::ostream& out, std::size_t threads = 1,
                                                     RowScanPath path = RowScanPath::kBest);
