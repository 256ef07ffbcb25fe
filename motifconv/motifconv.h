#pragma once

#include <string>
#include <vector>

// Runs Motifconv on its command-line arguments (program name excluded): reads a file of
// position matrices (JASPAR, MEME, HOMER or TRANSFAC) and writes the motif file that
// Sitecount reads, one IUPAC word a matrix. Returns the exit code: 0 after a complete run;
// 1, after one line on standard error, when a file cannot be opened or a matrix is
// malformed, and then nothing is written.
int RunMotifconv(const std::vector<std::string>& args);
