#pragma once

#include <string>
#include <vector>

// The file in the working directory to which every run writes the coefficients it read.
inline constexpr const char* kCoefficientDumpName = "out_b.tab";

// Runs Scorefit on its command-line arguments (program name excluded): the coefficient
// table, the presence table and the output file; arguments after the third are ignored.
// No argument, "--help" or "-h": usage on standard output; "--version": one version line;
// one or two arguments: usage on standard error and 1. A file that cannot be opened or
// input that cannot be honestly processed gives one line on standard error and 1.
// Returns the exit code.
int RunScorefit(const std::vector<std::string>& args);
