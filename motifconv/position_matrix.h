#pragma once

#include <array>
#include <cstddef>
#include <istream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/line_error.h"

// One position weight matrix as the motif collections write them: per position, the counts
// (or frequencies) of A, C, G and T, in that order.
struct PositionMatrix {
  std::string name;         // "MA0004.1 Arnt": identifier and name, joined by a blank
  std::size_t line_number;  // the line where the matrix starts, for messages
  std::vector<std::array<double, 4>> positions;
  double sites = 0;  // the number of sites where the file gives it (counts, nsites=), else 0
};

// The matrix file formats that are read.
enum class MatrixFormat { kAuto, kJaspar, kMeme, kHomer, kTransfac };

// The format named "jaspar", "meme", "homer", "transfac" or "auto"; nothing for another name.
std::optional<MatrixFormat> MatrixFormatNamed(std::string_view name);
std::string_view MatrixFormatName(MatrixFormat format);

// Reads every matrix of `in` in `format` (kAuto: told by the first line that is not blank,
// and `format` is set to what was found) and appends them to `matrices`. The first problem
// is returned with its line: a row that is not numbers, rows of different lengths, a
// negative or non-finite number, a position whose numbers add up to 0, a file that holds no
// matrix.
std::optional<LineError> ReadMatrices(std::istream& in, MatrixFormat& format,
                                      std::vector<PositionMatrix>& matrices);
