#include "stats/sample.h"

#include <algorithm>
#include <cmath>
#include <iostream>

namespace {

// A variance formed as a difference of sums can come out slightly below zero for a constant
// sample; only such results are moved to 0, so that the standard deviation is 0, not NaN.
double NotBelowZero(double variance) { return variance < 0 ? 0.0 : variance; }

double CoefficientOfVariation(double standard_deviation, double mean) {
  return mean == 0 ? 0.0 : standard_deviation / mean;
}

// The cells arrive as doubles: every sum of two 32-bit counts is exact there, where a 32-bit
// sum could wrap around.
double PhiOfCells(double a, double b, double c, double d) {
  const double denominator =
      std::sqrt(a + c) * std::sqrt(b + d) * std::sqrt(a + b) * std::sqrt(c + d);
  if (denominator == 0) return 0;
  return a * d / denominator - b * c / denominator;
}

}  // namespace

std::size_t Sample_1D::StoredCount() const { return std::min<std::size_t>(Numb, S.size()); }

int Sample_1D::calculate() {
  const std::size_t count = StoredCount();
  if (count == 0) {
    CVar = Sum2 = Sum = Avr = StDev = Disp = Max = Min = 0;
    return 1;
  }
  Min = Max = S[0];
  Sum = Sum2 = 0;
  for (std::size_t i = 0; i < count; ++i) {
    const double value = S[i];
    if (Min > value) Min = value;
    if (value > Max) Max = value;
    Sum += value;
    Sum2 += value * value;
  }
  const double n = static_cast<double>(count);
  Avr = Sum / n;
  Disp = count > 1 ? NotBelowZero((Sum2 - Avr * Sum) / (n - 1)) : 0.0;
  StDev = std::sqrt(Disp);
  CVar = CoefficientOfVariation(StDev, Avr);
  return 0;
}

void Sample_1D::show() const {
  std::cout << "Numb=" << Numb << std::endl;
  const std::size_t count = StoredCount();
  for (std::size_t i = 0; i < count; ++i) {
    std::cout << "S[" << i << "]=" << S[i] << std::endl;
  }
}

void Sample_1D::print(std::ostream& out, int selector) const {
  if (selector == STATOUTPAR_ANALYSIS_ONLY || selector == STATOUTPAR_ALL) printStat(out);
  if (selector == STATOUTPAR_DATA_ONLY || selector == STATOUTPAR_ALL) printData(out);
}

void Sample_1D::printStat(std::ostream& out) const {
  out << "Numb=" << Numb << "\nMin=" << Min << "\nMax=" << Max << "\nDisp=" << Disp
      << "\nStDev=" << StDev << "\nAvr=" << Avr << "\nSum=" << Sum << "\nSum2=" << Sum2
      << "\nCVar=" << CVar << std::endl;
}

void Sample_1D::printData(std::ostream& out) const {
  const std::size_t count = StoredCount();
  for (std::size_t i = 0; i < count; ++i) out << S[i] << std::endl;
}

int RunningSample_1D::addValue(double value, double reference) {
  const double n = Numb;
  if (Numb > 0) meanAcc += value / n;
  if (Numb > 1) squareAcc += value * value / (n - 1);
  if (value > Max) Max = value;
  if (Min > value) Min = value;
  if (value >= reference && Numb > 0) p_value += 1 / n;
  return 0;
}

int RunningSample_1D::finish() {
  const double n = Numb;
  Avr = meanAcc;
  Disp = Numb > 1 ? NotBelowZero(squareAcc - n / (n - 1) * Avr * Avr) : 0.0;
  StDev = std::sqrt(Disp);
  CVar = CoefficientOfVariation(StDev, Avr);
  return 0;
}

void RunningSample_1D::printStat(std::ostream& out) const {
  out << "Numb=" << Numb << "\nMin=" << Min << "\nMax=" << Max << "\nDisp=" << Disp
      << "\nStDev=" << StDev << "\nAvr=" << Avr << "\nCVar=" << CVar << "\np_value=" << p_value
      << std::endl;
}

double phiCoefficient(std::uint32_t a, std::uint32_t b, std::uint32_t c, std::uint32_t d) {
  return PhiOfCells(a, b, c, d);
}

double phiCoefficientSmoothed(std::uint32_t a, std::uint32_t b, std::uint32_t c, std::uint32_t d) {
  return PhiOfCells(a + 1.0, b + 1.0, c + 1.0, d + 1.0);
}
