#include "stats/sample_table.h"

#include <fstream>
#include <utility>

#include "common/diagnostics.h"

int SampleTable::addSample(Sample_1D sample) {
  rowCount = sample.Numb;
  columnNames.push_back(sample.Name);
  samples.push_back(std::move(sample));
  ++sampleCount;
  return 0;
}

int SampleTable::write(const std::string& fileName) const {
  std::ofstream out(fileName, std::ios::out | std::ios::app);
  if (!out) ReportOpenFailure(fileName);
  // The counters are public and may disagree with the vectors: nothing past a vector's end
  // is read, and what is missing is written as an empty cell.
  for (std::size_t column = 0; column < sampleCount; ++column) {
    out << '\t';
    if (column < columnNames.size()) out << columnNames[column];
  }
  out << std::endl;
  for (std::size_t row = 0; row < rowCount; ++row) {
    if (row < rowLabels.size()) out << rowLabels[row];
    for (std::size_t column = 0; column < sampleCount; ++column) {
      out << '\t';
      if (column < samples.size() && row < samples[column].StoredCount()) {
        out << samples[column].S[row];
      }
    }
    out << std::endl;
  }
  return 0;
}

int writeSamples(std::ostream& out, const std::vector<Sample_1D>& samples) {
  for (const Sample_1D& sample : samples) out << sample.Name << '\t';
  out << std::endl;
  // The row in which no sample has a value is written too: the table ends with a row of
  // tabs only.
  for (std::size_t row = 0;; ++row) {
    bool any_value = false;
    for (const Sample_1D& sample : samples) {
      if (row < sample.StoredCount()) {
        out << sample.S[row];
        any_value = true;
      }
      out << '\t';
    }
    out << std::endl;
    if (!any_value) break;
  }
  return 0;
}

int writeSamplesFile(const std::string& fileName, const std::vector<Sample_1D>& samples) {
  std::ofstream out(fileName, std::ios::out | std::ios::trunc | std::ios::binary);
  if (!out) ReportOpenFailure(fileName);
  return writeSamples(out, samples);
}
