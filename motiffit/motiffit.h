#pragma once

#include <string>
#include <vector>

// Runs Motiffit on its command-line arguments (program name excluded): options, then the
// presence table to fit ("-" for standard input) and the coefficient table to write;
// arguments after the second are ignored. No argument, "--help" or "-h": usage on standard
// output; "--version": one version line; fewer than two file names: usage on standard
// error and 1. A bad option, a file that cannot be opened, a table that cannot be fitted
// or an output that cannot be written gives one line on standard error, exit code 1 and
// no output. Returns the exit code.
int RunMotiffit(const std::vector<std::string>& args);
