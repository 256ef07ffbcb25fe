#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

// Which parts of a sample `Sample_1D::print` writes, passed as a plain int.
enum STATOUTPAR {
  STATOUTPAR_DATA_ONLY,
  STATOUTPAR_ANALYSIS_ONLY,
  STATOUTPAR_COMMENT_ONLY,
  STATOUTPAR_ALL
};
inline constexpr std::array<std::string_view, 4> STATOUTPAR_Names = {
    "STATOUTPAR_DATA_ONLY", "STATOUTPAR_ANALYSIS_ONLY", "STATOUTPAR_COMMENT_ONLY",
    "STATOUTPAR_ALL"};

// A named sample of doubles with its descriptive statistics. The owner fills `S`, `Numb`
// and `Name`; the statistics hold what the last `calculate` left. When `Numb` exceeds the
// number of stored values, every operation uses the stored values only.
struct Sample_1D {
  std::uint32_t Numb = 0;
  double Min = 0;
  double Max = 0;
  double Disp = 0;   // sample variance, denominator Numb - 1
  double StDev = 0;  // square root of Disp
  double Avr = 0;    // arithmetic mean
  double Sum = 0;
  double Sum2 = 0;  // sum of the squared values
  double CVar = 0;  // StDev / Avr, 0 when Avr is 0
  std::vector<double> S;
  std::string Name;

  // Computes the eight statistics from the values. Returns 1, with every statistic 0, when
  // there is no value; otherwise 0.
  int calculate();
  // Writes "Numb=" and the count, then one "S[i]=value" line per value, to standard output.
  void show() const;
  // STATOUTPAR_ANALYSIS_ONLY: the statistics block; STATOUTPAR_DATA_ONLY: the values;
  // STATOUTPAR_ALL: both, block first. Any other selector writes nothing.
  void print(std::ostream& out, int selector) const;
  // Nine "label=value" lines: Numb, Min, Max, Disp, StDev, Avr, Sum, Sum2, CVar.
  void printStat(std::ostream& out) const;
  // One value a line.
  void printData(std::ostream& out) const;

  // Number of values the operations use: Numb, but never more than are stored.
  std::size_t StoredCount() const;
};

// Statistics and an empirical p-value accumulated value by value without storing the values.
// Set `Numb` to the number of values that will be added, add exactly that many, then `finish`.
struct RunningSample_1D {
  std::uint32_t Numb = 0;
  double Min = std::numeric_limits<double>::infinity();
  double Max = -std::numeric_limits<double>::infinity();
  double Disp = 0;
  double StDev = 0;
  double Avr = 0;
  double CVar = 0;
  double p_value = 0;    // share of the values that reached their reference value
  double meanAcc = 0;    // running sum of value / Numb
  double squareAcc = 0;  // running sum of value^2 / (Numb - 1)

  // Accumulates `value`; it counts towards `p_value` when value >= reference. Returns 0.
  int addValue(double value, double reference);
  // Derives Avr, Disp, StDev and CVar from the accumulators. Returns 0.
  int finish();
  // Eight "label=value" lines: Numb, Min, Max, Disp, StDev, Avr, CVar, p_value.
  void printStat(std::ostream& out) const;
};

// The phi coefficient of the 2x2 table of counts (a b / c d); 0 when a row or a column of
// the table is empty.
double phiCoefficient(std::uint32_t a, std::uint32_t b, std::uint32_t c, std::uint32_t d);
// The phi coefficient after adding 1 to each of the four counts.
double phiCoefficientSmoothed(std::uint32_t a, std::uint32_t b, std::uint32_t c, std::uint32_t d);
