#pragma once

#include <string>
#include <vector>

// Runs Sitecount on its command-line arguments (program name excluded): loads the FASTA
// file and the motif file, writes the presence table. Returns the exit code; a file that
// cannot be opened, or input that cannot be read honestly, ends the process with code 1.
int RunSitecount(const std::vector<std::string>& args);
