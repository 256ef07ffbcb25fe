#pragma once

#include <string>
#include <vector>

// Runs Motiffit on its command-line arguments (program name excluded): the presence table
// to fit and the coefficient table to write; arguments after the second are ignored. No
// argument, "--help" or "-h": usage on standard output; "--version": one version line; one
// argument: usage on standard error and 1. A file that cannot be opened, a table that
// cannot be fitted or an output that cannot be written gives one line on standard error,
// exit code 1 and no output. Returns the exit code.
int RunMotiffit(const std::vector<std::string>& args);
