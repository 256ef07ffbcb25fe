#include "common/table_utils.h"

#include <algorithm>
#include <fstream>
#include <iostream>
#include <new>
#include <stdexcept>

#include "common/diagnostics.h"
#include "common/files.h"
#include "common/number_text.h"
#include "common/output_file.h"

namespace {

// Appends one line per read until the stream stops being good. The end-of-file test comes
// before the read, so the read that meets the end still appends its (empty) line.
void AppendLinesUntil(StringList& list, const std::string& file_name, std::string_view stop_set) {
  std::ifstream in;
  if (!OpenForReading(in, file_name)) ReportOpenFailure(file_name);
  std::string line;
  while (in.good()) {
    GetLineUntil(in, line, stop_set);
    AppendItem(list) = line;
  }
}

// Gives either matrix `row_count` zero-filled rows of `col_count` values, replacing what it
// held: first the row table, then each row in order, any failure ending the process with
// the memory message. Both matrix records keep their storage the same way.
template <typename Matrix>
void AllocateRows(Matrix& matrix, std::uint32_t row_count, std::uint32_t col_count) {
  matrix.rows = row_count;
  matrix.cols = col_count;
  matrix.data.clear();
  matrix.data.shrink_to_fit();
  try {
    matrix.data.resize(row_count);
    for (std::vector<std::int32_t>& row : matrix.data) row.assign(col_count, 0);
  } catch (const std::bad_alloc&) {
    ExitOutOfMemory();
  } catch (const std::length_error&) {
    ExitOutOfMemory();
  }
}

// The value at (row, col), reading only storage that exists: sizes are public members, so
// they may disagree with what was allocated.
std::int32_t ValueAt(const std::vector<std::vector<std::int32_t>>& data, std::uint32_t row,
                     std::uint32_t col) {
  if (row >= data.size() || col >= data[row].size()) return 0;
  return data[row][col];
}

const std::string& NameAt(const StringList& names, std::uint32_t index) {
  static const std::string kNoName;
  const std::size_t held = std::min<std::size_t>(names.count, names.items.size());
  return index < held ? names.items[index] : kNoName;
}

}  // namespace

int StringList::LoadLines(const std::string& file_name) {
  AppendLinesUntil(*this, file_name, "\t\n\r");
  return 0;
}

int StringList::LoadLinesUntil(const std::string& file_name, std::string_view stop_set) {
  AppendLinesUntil(*this, file_name, stop_set);
  return 0;
}

int StringList::LoadTokens(const std::string& file_name) {
  std::ifstream in;
  if (!OpenForReading(in, file_name)) ExitWhereIs(file_name);
  int result = 0;
  std::string line;
  while (in.good()) {
    GetLineUntil(in, line, "\t\n\r");
    if (line.empty()) continue;
    std::string& token = AppendItem(*this);
    token = ExtractToken(line, "is_symbol", ".,|-+\t\n\r");
    if (token.empty()) {
      result = 1;
      std::cout << count << " line doesn't contain the substring." << std::endl;
    }
  }
  return result;
}

int StringList::WriteLines(const std::string& file_name) const {
  std::ofstream out(file_name);
  const std::size_t held = std::min<std::size_t>(count, items.size());
  for (std::size_t index = 0; index < held; ++index) out << items[index] << std::endl;
  return 0;
}

int WriteText(const std::string& file_name, const std::string& text, int mode) {
  std::ofstream out;
  if (mode == FILEEOUTTYPE_OVERWRITE) {
    out.open(file_name, std::ios::out | std::ios::trunc);
  } else if (mode == FILEEOUTTYPE_ADD) {
    out.open(file_name, std::ios::out | std::ios::app);
  } else {
    return 0;
  }
  if (!out) ReportOpenFailure(file_name);
  out << text;
  out.close();
  return 0;
}

IntMatrix::IntMatrix(std::uint32_t row_count, std::uint32_t col_count) {
  Allocate(row_count, col_count);
}

int IntMatrix::Allocate(std::uint32_t row_count, std::uint32_t col_count) {
  AllocateRows(*this, row_count, col_count);
  return 0;
}

int IntMatrix::Free() {
  data.clear();
  data.shrink_to_fit();
  rows = 0;
  cols = 0;
  return 0;
}

int IntMatrix::Write(const std::string& file_name) const {
  std::ofstream out(file_name);
  for (std::uint32_t row = 0; row < rows; ++row) {
    for (std::uint32_t col = 0; col < cols; ++col) out << ValueAt(data, row, col);
    out << std::endl;
  }
  return 0;
}

LabelledIntMatrix::LabelledIntMatrix(std::uint32_t row_count, std::uint32_t col_count) {
  Allocate(row_count, col_count);
}

int LabelledIntMatrix::Allocate(std::uint32_t row_count, std::uint32_t col_count) {
  AllocateRows(*this, row_count, col_count);
  return 0;
}

int LabelledIntMatrix::Write(const std::string& file_name) const {
  std::ofstream out(file_name);
  for (std::uint32_t col = 0; col < cols; ++col) out << '\t' << NameAt(columnNames, col);
  out << std::endl;
  for (std::uint32_t row = 0; row < rows; ++row) {
    out << NameAt(rowNames, row);
    for (std::uint32_t col = 0; col < cols; ++col) out << '\t' << ValueAt(data, row, col);
    out << std::endl;
  }
  return 0;
}

int WriteUnsignedArray(const std::uint32_t* values, std::uint32_t value_count,
                       const std::string& file_name) {
  std::ofstream out(file_name);
  if (values != nullptr) {
    for (std::uint32_t index = 0; index < value_count; ++index) out << values[index];
  }
  out << std::endl;
  return 0;
}

int WriteDoubleVector(const std::vector<double>& values, const std::string& file_name) {
  OutputFile output;
  if (!output.Open(file_name)) ExitCannotOpen(file_name);
  std::ostream& out = output.stream();
  for (const double value : values) out << value << '\n';
  if (!output.Commit()) ExitWriteFailed(file_name);
  return 0;
}

int ReadDoubleVector(std::vector<double>& values, const std::string& file_name) {
  std::ifstream in;
  if (!OpenForReading(in, file_name)) ExitCannotOpen(file_name);
  std::string line;
  while (std::getline(in, line)) {
    if (!IsNumber(line)) continue;
    // A line of signs and points alone ('-', '.', '-.') passes the character test but holds
    // no number; like a number beyond the range of a double, it is skipped.
    if (const auto value = ReadLeadingDouble(line)) values.push_back(*value);
  }
  return 0;
}

int PrintUnsignedVector(const std::vector<std::uint32_t>& values) {
  for (const std::uint32_t value : values) std::cout << value << std::endl;
  return 0;
}

int PrintDoubleVector(const std::vector<double>& values) {
  for (const double value : values) std::cout << value << std::endl;
  return 0;
}

int ReportElapsed(std::clock_t& last_clock, double ticks_per_unit, const std::string& unit_label,
                  const std::string& prefix) {
  const std::clock_t now = std::clock();
  std::cout << prefix << static_cast<double>(now - last_clock) / ticks_per_unit << " " << unit_label
            << std::endl;
  last_clock = now;
  return 0;
}
