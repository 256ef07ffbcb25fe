#pragma once

#include <istream>
#include <ostream>
#include <string>
#include <vector>

// The file in the working directory to which every run writes the coefficients it read.
inline constexpr const char* kCoefficientDumpName = "out_b.tab";

// Runs Scorefit on its command-line arguments (program name excluded): the coefficient
// table, the presence table and the output file; arguments after the third are ignored.
// No argument, "--help" or "-h": usage on standard output; "--version": one version line;
// one or two arguments: usage on standard error and 1. Returns the exit code of a run that
// ends normally; a file that cannot be opened or input that cannot be honestly processed
// ends the process with exit code 1 and one line on standard error.
int RunScorefit(const std::vector<std::string>& args);

// Reads a coefficient table from `in` and appends its coefficients to `b`: the number in
// the second field of the first "Intercept" line, then the fourth field of every later
// non-empty line. Lines before the "Intercept" line are ignored. Ends the process with a
// message naming `file_name` (and the line) when there is no "Intercept" line, a line has
// too few fields or a coefficient field holds no number. Returns 0.
int ReadCoefficientTable(std::istream& in, const std::string& file_name, std::vector<double>& b);

// Copies the presence table `in` to `out` with one tab after every field, adding the column
// "Predicted" to the first non-empty line and, to every later one, b[0] plus each field
// from the third on times b[field - 1]. A field that holds no number makes that row's
// prediction "nan". A row with more than b.size() + 1 fields ends the process with a message
// naming `file_name`, the line and both counts; the rows before it are written. Returns 0,
// or 1 without reading anything when `b` is empty.
int WritePredictionTable(std::istream& in, const std::string& file_name,
                         const std::vector<double>& b, std::ostream& out);
