#include "stats/histogram.h"

#include <algorithm>
#include <fstream>
#include <vector>

#include "common/diagnostics.h"
#include "common/table_utils.h"

namespace {

// The column names carry a trailing blank; the report writes them as stored.
constexpr const char* kBinName = "Bin ";
constexpr const char* kFrequencyName = "Frequency ";
constexpr const char* kRelativeFrequencyName = "RelativeFrequency ";
constexpr const char* kCumulativeFrequencyName = "CumulativeFrequency ";
constexpr const char* kCumulativeRelativeFrequencyName = "CumulativeRelativeFrequency ";

void ResetColumn(Sample_1D& column, const char* name, std::uint32_t entry_count) {
  column.Name = name;
  column.Numb = entry_count;
  column.S.assign(entry_count, 0.0);
}

// The columns are public: a column shorter than the bins need reads as zeros in the report.
double EntryOrZero(const Sample_1D& column, std::size_t index) {
  return index < column.S.size() ? column.S[index] : 0.0;
}

}  // namespace

Histogram_1D::Histogram_1D() {
  Bin.Name = kBinName;
  ResetColumn(Frequency, kFrequencyName, 1);
  ResetColumn(RelativeFrequency, kRelativeFrequencyName, 1);
  ResetColumn(CumulativeFrequency, kCumulativeFrequencyName, 1);
  ResetColumn(CumulativeRelativeFrequency, kCumulativeRelativeFrequencyName, 1);
}

int Histogram_1D::setBins(const std::string& fileName) {
  ReadDoubleVector(Bin.S, fileName);
  Bin.Name = kBinName;
  binCount = static_cast<std::uint32_t>(Bin.S.size());
  Bin.Numb = binCount;
  ResetColumn(Frequency, kFrequencyName, binCount + 1);
  ResetColumn(RelativeFrequency, kRelativeFrequencyName, binCount + 1);
  ResetColumn(CumulativeFrequency, kCumulativeFrequencyName, binCount + 1);
  ResetColumn(CumulativeRelativeFrequency, kCumulativeRelativeFrequencyName, binCount + 1);
  return 0;
}

int Histogram_1D::countSample(const Sample_1D& sample) {
  const std::size_t value_count = sample.StoredCount();
  valueCount = static_cast<std::uint32_t>(value_count);
  const std::size_t edge_count = std::min<std::size_t>(binCount, Bin.S.size());
  const std::size_t entry_count = edge_count + 1;
  // Counts already present stay; a column the owner shortened is extended with zeros.
  for (Sample_1D* column :
       {&Frequency, &RelativeFrequency, &CumulativeFrequency, &CumulativeRelativeFrequency}) {
    if (column->S.size() < entry_count) column->S.resize(entry_count, 0.0);
  }
  for (std::size_t i = 0; i < value_count; ++i) {
    const double value = sample.S[i];
    std::size_t bin = 0;
    // A NaN passes no edge test and lands in "More".
    while (bin < edge_count && !(Bin.S[bin] >= value)) ++bin;
    Frequency.S[bin] += 1.0;
  }
  // With no value the shares would be 0 / 0; they are left at 0 instead.
  const double total = static_cast<double>(value_count);
  for (std::size_t k = 0; k < entry_count; ++k) {
    CumulativeFrequency.S[k] = Frequency.S[k] + (k > 0 ? CumulativeFrequency.S[k - 1] : 0.0);
    RelativeFrequency.S[k] = value_count > 0 ? Frequency.S[k] / total : 0.0;
    CumulativeRelativeFrequency.S[k] = value_count > 0 ? CumulativeFrequency.S[k] / total : 0.0;
  }
  return 0;
}

int Histogram_1D::write(const std::string& fileName) const {
  std::ofstream out(fileName, std::ios::out | std::ios::app);
  if (!out) ReportOpenFailure(fileName);
  out << Bin.Name << '\t' << Frequency.Name << '\t' << RelativeFrequency.Name << '\t'
      << CumulativeFrequency.Name << '\t' << CumulativeRelativeFrequency.Name << std::endl;
  const std::size_t edge_count = std::min<std::size_t>(Bin.Numb, Bin.S.size());
  for (std::size_t k = 0; k < edge_count; ++k) {
    out << Bin.S[k] << '\t' << EntryOrZero(Frequency, k) << '\t'
        << EntryOrZero(RelativeFrequency, k) << '\t' << EntryOrZero(CumulativeFrequency, k) << '\t'
        << EntryOrZero(CumulativeRelativeFrequency, k) << std::endl;
  }
  out << "More \t" << EntryOrZero(Frequency, edge_count) << '\t'
      << EntryOrZero(RelativeFrequency, edge_count) << '\t'
      << EntryOrZero(CumulativeFrequency, edge_count) << '\t'
      << EntryOrZero(CumulativeRelativeFrequency, edge_count) << std::endl;
  return 0;
}
