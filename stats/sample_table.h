#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "stats/sample.h"

// Several samples written as one table: one column per sample, one row per value, the row
// labels (filled by the owner) in the first column.
struct SampleTable {
  std::uint32_t rowCount = 0;     // Numb of the sample added last
  std::uint32_t sampleCount = 0;  // number of columns
  std::vector<std::string> columnNames;
  std::vector<std::string> rowLabels;
  std::vector<Sample_1D> samples;

  // Appends a copy of `sample` as the next column. Returns 0.
  int addSample(Sample_1D sample);
  // Appends the table to the named file: a header of tab + column name per sample, then
  // `rowCount` rows of label and tab + value per sample. A missing label or value leaves its
  // cell empty. Exits with code 1 when the file cannot be opened. Returns 0.
  int write(const std::string& fileName) const;
};

// Writes the samples side by side: a header of each name followed by a tab, then rows of
// each value (or nothing) followed by a tab, ending with the first row in which no sample
// has a value. Returns 0.
int writeSamples(std::ostream& out, const std::vector<Sample_1D>& samples);

// writeSamples into the named file, replacing its contents; line ends are bare line feeds.
// Exits with code 1 when the file cannot be opened. Returns 0.
int writeSamplesFile(const std::string& fileName, const std::vector<Sample_1D>& samples);
