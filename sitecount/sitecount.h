#pragma once

#include <string>
#include <vector>

// Runs Sitecount on its command-line arguments (program name excluded): loads the FASTA
// file and the motif file, writes the presence table. Returns the exit code: 0 after a
// complete run; 1, after one line on standard error, when a file cannot be opened or input
// cannot be read honestly.
int RunSitecount(const std::vector<std::string>& args);
