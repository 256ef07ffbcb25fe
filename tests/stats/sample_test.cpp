#include "stats/sample.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

namespace {

Sample_1D MakeSample(std::vector<double> values, std::string name = "") {
  Sample_1D sample;
  sample.Numb = static_cast<std::uint32_t>(values.size());
  sample.S = std::move(values);
  sample.Name = std::move(name);
  return sample;
}

std::string StatBlock(const Sample_1D& sample) {
  std::ostringstream out;
  sample.printStat(out);
  return out.str();
}

TEST(Sample_1D, CalculateGivesTheStatisticsBlock) {
  Sample_1D sample = MakeSample({2, 4, 4, 4, 5, 5, 7, 9});
  EXPECT_EQ(sample.calculate(), 0);
  EXPECT_DOUBLE_EQ(sample.Disp, 32.0 / 7);
  EXPECT_EQ(StatBlock(sample),
            "Numb=8\nMin=2\nMax=9\nDisp=4.57143\nStDev=2.13809\nAvr=5\nSum=40\nSum2=232\n"
            "CVar=0.427618\n");

  Sample_1D one = MakeSample({3.5});
  EXPECT_EQ(one.calculate(), 0);
  EXPECT_EQ(StatBlock(one),
            "Numb=1\nMin=3.5\nMax=3.5\nDisp=0\nStDev=0\nAvr=3.5\nSum=3.5\nSum2=12.25\n"
            "CVar=0\n");

  // A mean of exactly 0 gives a coefficient of variation of 0, not a division by zero.
  Sample_1D centred = MakeSample({-1, 1});
  EXPECT_EQ(centred.calculate(), 0);
  EXPECT_EQ(centred.Disp, 2);
  EXPECT_EQ(centred.CVar, 0);

  // Min and Max follow the values, whatever their order.
  Sample_1D unordered = MakeSample({5, -7, 12, 0});
  unordered.calculate();
  EXPECT_EQ(unordered.Min, -7);
  EXPECT_EQ(unordered.Max, 12);
}

TEST(Sample_1D, RoundingNeverMakesTheVarianceNegative) {
  const std::vector<double> constant = {0.1, 0.1, 0.1};
  // The sample is one on which the plain formula does come out below zero.
  double sum = 0, sum2 = 0;
  for (double value : constant) {
    sum += value;
    sum2 += value * value;
  }
  ASSERT_LT((sum2 - sum / 3 * sum) / 2, 0);

  Sample_1D sample = MakeSample(constant);
  sample.calculate();
  EXPECT_EQ(sample.Disp, 0);
  EXPECT_EQ(sample.StDev, 0);
  EXPECT_EQ(sample.CVar, 0);
  // Positive variances keep the formula's value.
  Sample_1D spread = MakeSample({0.1, 0.2, 0.4});
  spread.calculate();
  EXPECT_NEAR(spread.Disp, 0.07 / 3, 1e-15);
}

TEST(Sample_1D, EmptySampleAndCountsBeyondTheStoredValues) {
  Sample_1D sample = MakeSample({1, 2, 3});
  sample.calculate();
  sample.S.clear();
  sample.Numb = 0;
  EXPECT_EQ(sample.calculate(), 1);
  EXPECT_EQ(StatBlock(sample),
            "Numb=0\nMin=0\nMax=0\nDisp=0\nStDev=0\nAvr=0\nSum=0\nSum2=0\nCVar=0\n");

  // Numb larger than the stored values: only the stored ones are used; Numb stays.
  Sample_1D short_sample = MakeSample({1, 2});
  short_sample.Numb = 5;
  EXPECT_EQ(short_sample.calculate(), 0);
  EXPECT_EQ(short_sample.Sum, 3);
  EXPECT_EQ(short_sample.Avr, 1.5);
  EXPECT_EQ(short_sample.Disp, 0.5);
  EXPECT_EQ(short_sample.Numb, 5u);
  std::ostringstream data;
  short_sample.printData(data);
  EXPECT_EQ(data.str(), "1\n2\n");

  Sample_1D no_values;
  no_values.Numb = 3;
  EXPECT_EQ(no_values.calculate(), 1);

  // Numb smaller than the stored values: the rest is ignored.
  Sample_1D prefix = MakeSample({1, 2, 100});
  prefix.Numb = 2;
  prefix.calculate();
  EXPECT_EQ(prefix.Max, 2);
}

TEST(Sample_1D, PrintSelectsBlockAndValues) {
  Sample_1D sample = MakeSample({0.5, 1e-7, 1234567});
  sample.calculate();
  const std::string block = StatBlock(sample);
  const std::string values = "0.5\n1e-07\n1.23457e+06\n";
  struct Case {
    int selector;
    std::string expected;
  };
  const Case cases[] = {{STATOUTPAR_DATA_ONLY, values},
                        {STATOUTPAR_ANALYSIS_ONLY, block},
                        {STATOUTPAR_COMMENT_ONLY, ""},
                        {STATOUTPAR_ALL, block + values},
                        {4, ""},
                        {-1, ""}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.selector);
    std::ostringstream out;
    sample.print(out, c.selector);
    EXPECT_EQ(out.str(), c.expected);
  }
  EXPECT_EQ(STATOUTPAR_Names[STATOUTPAR_ALL], "STATOUTPAR_ALL");
  EXPECT_EQ(STATOUTPAR_Names[STATOUTPAR_COMMENT_ONLY], "STATOUTPAR_COMMENT_ONLY");
}

TEST(Sample_1D, ShowWritesCountAndIndexedValuesToStandardOutput) {
  Sample_1D empty;
  ::testing::internal::CaptureStdout();
  empty.show();
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "Numb=0\n");

  Sample_1D sample = MakeSample({1.5, -2});
  sample.Numb = 3;
  ::testing::internal::CaptureStdout();
  sample.show();
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "Numb=3\nS[0]=1.5\nS[1]=-2\n");
}

TEST(RunningSample_1D, StartsEmptyAndTheFirstValueSetsMinAndMax) {
  RunningSample_1D running;
  EXPECT_EQ(running.meanAcc, 0);
  EXPECT_EQ(running.squareAcc, 0);
  EXPECT_EQ(running.p_value, 0);
  running.Numb = 2;
  running.addValue(-5, 0);
  EXPECT_EQ(running.Min, -5);
  EXPECT_EQ(running.Max, -5);
  running.addValue(7, 0);
  EXPECT_EQ(running.Min, -5);
  EXPECT_EQ(running.Max, 7);
}

TEST(RunningSample_1D, FinishAgreesWithTheStoredSample) {
  const std::vector<double> values = {2, 4, 4, 4, 5, 5, 7, 9};
  RunningSample_1D running;
  running.Numb = 8;
  // Five values reach their reference, three of them by equality.
  const std::vector<double> references = {3, 4, 6, 6, 5, 4, 7, 0};
  for (std::size_t i = 0; i < values.size(); ++i) {
    EXPECT_EQ(running.addValue(values[i], references[i]), 0);
  }
  EXPECT_EQ(running.finish(), 0);
  EXPECT_NEAR(running.Disp, 32.0 / 7, 1e-12);
  std::ostringstream out;
  running.printStat(out);
  EXPECT_EQ(out.str(),
            "Numb=8\nMin=2\nMax=9\nDisp=4.57143\nStDev=2.13809\nAvr=5\nCVar=0.427618\n"
            "p_value=0.625\n");
}

TEST(RunningSample_1D, DegenerateCountsAndRounding) {
  // No declared values: nothing accumulates, nothing divides by zero.
  RunningSample_1D none;
  none.addValue(3, 0);
  none.finish();
  EXPECT_EQ(none.Avr, 0);
  EXPECT_EQ(none.Disp, 0);
  EXPECT_EQ(none.CVar, 0);
  EXPECT_EQ(none.p_value, 0);

  RunningSample_1D single;
  single.Numb = 1;
  single.addValue(4, 5);
  single.finish();
  EXPECT_EQ(single.Avr, 4);
  EXPECT_EQ(single.Disp, 0);
  EXPECT_EQ(single.p_value, 0);

  // Seven times 0.3 is a sample on which the plain formula comes out below zero.
  RunningSample_1D constant;
  constant.Numb = 7;
  double mean = 0, square = 0;
  for (int i = 0; i < 7; ++i) {
    constant.addValue(0.3, 1);
    mean += 0.3 / 7;
    square += 0.3 * 0.3 / 6;
  }
  ASSERT_LT(square - 7.0 / 6 * mean * mean, 0);
  constant.finish();
  EXPECT_EQ(constant.Disp, 0);
  EXPECT_EQ(constant.StDev, 0);

  // Before any value the extremes print as infinities.
  RunningSample_1D fresh;
  std::ostringstream out;
  fresh.printStat(out);
  EXPECT_EQ(out.str(), "Numb=0\nMin=inf\nMax=-inf\nDisp=0\nStDev=0\nAvr=0\nCVar=0\np_value=0\n");
}

TEST(PhiCoefficient, TwoByTwoTables) {
  EXPECT_DOUBLE_EQ(phiCoefficient(10, 0, 0, 10), 1);
  EXPECT_DOUBLE_EQ(phiCoefficient(0, 10, 10, 0), -1);
  EXPECT_EQ(phiCoefficient(5, 5, 5, 5), 0);
  EXPECT_EQ(phiCoefficient(0, 0, 3, 4), 0);
  EXPECT_EQ(phiCoefficient(3, 0, 4, 0), 0);
  EXPECT_EQ(phiCoefficient(0, 0, 0, 0), 0);
  EXPECT_DOUBLE_EQ(phiCoefficient(3, 1, 2, 4), 10 / std::sqrt(5.0 * 5 * 4 * 6));
  EXPECT_DOUBLE_EQ(phiCoefficientSmoothed(0, 0, 3, 4), 1 / std::sqrt(540.0));
  EXPECT_DOUBLE_EQ(phiCoefficientSmoothed(0, 0, 0, 0), 0);

  // Counts near the 32-bit limit: the sums do not wrap around.
  const std::uint32_t top = std::numeric_limits<std::uint32_t>::max();
  EXPECT_GT(phiCoefficient(top, 0, 1, top), 0.99);
  EXPECT_GT(phiCoefficientSmoothed(top, 0, 0, top), 0.99);
}

}  // namespace
