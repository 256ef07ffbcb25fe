#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

#include "common/text_utils.h"
#include "common/util_enums.h"

// File side of the utility library: text, list and number files and two small integer
// matrices. StringList's loaders and writer are declared with StringList in text_utils.h.
// Every line end written here flushes the stream. Writers documented as "no check" write
// nothing and say nothing when their file cannot be created.

// Writes `text` unchanged to `file_name`: mode FILEEOUTTYPE_OVERWRITE replaces the file,
// FILEEOUTTYPE_ADD appends (creating it if missing); any other mode writes nothing.
// Returns 0; a file that cannot be opened ends the process through ReportOpenFailure.
int WriteText(const std::string& file_name, const std::string& text, int mode);

// A rectangular table of integers, zero-filled when allocated. Rows are held in standard
// containers, so the matrix owns and releases its storage itself.
struct IntMatrix {
  std::uint32_t rows = 0;
  std::uint32_t cols = 0;
  std::vector<std::vector<std::int32_t>> data;

  IntMatrix() = default;
  IntMatrix(std::uint32_t row_count, std::uint32_t col_count);

  // Replaces the storage with `row_count` zero-filled rows of `col_count` values. Returns 0;
  // when storage cannot be had, prints "Problem of memory allocation." and exits with 1.
  int Allocate(std::uint32_t row_count, std::uint32_t col_count);
  // Releases all storage and sets both sizes to 0. Returns 0.
  int Free();
  // One line per row: the values in decimal with no separator between them. Returns 0;
  // no check.
  int Write(const std::string& file_name) const;
};

// The same storage with row and column names, which the owner appends before writing.
struct LabelledIntMatrix {
  std::uint32_t rows = 0;
  std::uint32_t cols = 0;
  StringList columnNames;
  StringList rowNames;
  std::vector<std::vector<std::int32_t>> data;

  LabelledIntMatrix() = default;
  LabelledIntMatrix(std::uint32_t row_count, std::uint32_t col_count);

  // As IntMatrix::Allocate; the names are kept.
  int Allocate(std::uint32_t row_count, std::uint32_t col_count);
  // A tab-separated table: a header of "\t" + name per column (so it starts with an empty
  // corner cell), then per row its name and "\t" + value per column. A missing name is
  // written empty. Returns 0; no check.
  int Write(const std::string& file_name) const;
};

// Writes the first `value_count` values of `values` in decimal with no separator, then one
// line end. Returns 0; no check.
int WriteUnsignedArray(const std::uint32_t* values, std::uint32_t value_count,
                       const std::string& file_name);

// Writes each value on a line of its own in the stream's default notation, replacing the
// file only once every value is written. Returns 0; a file that cannot be opened ends the
// process through ExitCannotOpen, one that cannot be written in full through
// ExitWriteFailed (the older file then keeps its content).
int WriteDoubleVector(const std::vector<double>& values, const std::string& file_name);

// Appends to `values` the number on each line of `file_name` that passes IsNumber and holds
// a readable number; every other line (empty, words, blanks, carriage return, a lone '-' or
// '.') is skipped. Returns 0; a file that cannot be opened ends the process through
// ExitCannotOpen.
int ReadDoubleVector(std::vector<double>& values, const std::string& file_name);

// Write each value on a line of its own to standard output. Return 0.
int PrintUnsignedVector(const std::vector<std::uint32_t>& values);
int PrintDoubleVector(const std::vector<double>& values);

// Prints `prefix`, the processor time since `last_clock` divided by `ticks_per_unit`, a
// blank and `unit_label`, then stores the current reading in `last_clock`. Returns 0.
int ReportElapsed(std::clock_t& last_clock, double ticks_per_unit, const std::string& unit_label,
                  const std::string& prefix);
