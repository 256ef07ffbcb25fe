#include "stats/histogram.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/temp_dir.h"

namespace {

using test_support::ReadFile;
using test_support::TempFolderTest;
using test_support::WriteFile;

const std::string kHeader =
    "Bin \tFrequency \tRelativeFrequency \tCumulativeFrequency \tCumulativeRelativeFrequency \n";

Sample_1D MakeSample(std::vector<double> values) {
  Sample_1D sample;
  sample.Numb = static_cast<std::uint32_t>(values.size());
  sample.S = std::move(values);
  return sample;
}

class Histogram : public TempFolderTest {
 protected:
  // A histogram over the edges in `bin_file_content`, with `values` counted in.
  Histogram_1D Counted(const std::string& bin_file_content, std::vector<double> values) {
    WriteFile(Path("bins.txt"), bin_file_content);
    Histogram_1D histogram;
    EXPECT_EQ(histogram.setBins(Path("bins.txt")), 0);
    EXPECT_EQ(histogram.countSample(MakeSample(std::move(values))), 0);
    return histogram;
  }
  std::string Report(const Histogram_1D& histogram) {
    const std::string path = Path("report.txt");
    std::filesystem::remove(path);
    EXPECT_EQ(histogram.write(path), 0);
    return ReadFile(path);
  }
};

TEST_F(Histogram, ReportOfAscendingEdgesValueOnAnEdgeInThatBin) {
  const Histogram_1D histogram = Counted("1\n2\n3\n", {0.5, 1, 1.5, 2.5, 3, 7});
  EXPECT_EQ(histogram.binCount, 3u);
  EXPECT_EQ(histogram.valueCount, 6u);
  EXPECT_EQ(Report(histogram), kHeader +
                                   "1\t2\t0.333333\t2\t0.333333\n"
                                   "2\t1\t0.166667\t3\t0.5\n"
                                   "3\t2\t0.333333\t5\t0.833333\n"
                                   "More \t1\t0.166667\t6\t1\n");
}

TEST_F(Histogram, BinFileKeepsOnlyLinesHoldingANumber) {
  // Titles, blanks, signs or points alone, a plus sign, an exponent, a leading blank and a
  // carriage return all add no edge.
  const Histogram_1D histogram =
      Counted("Edges\n\n1.5\n-\n.\n-.\n+2\n1e3\n 4\n5\r\n-1\n", {-3, 0, 1.5, 2, std::nan("")});
  EXPECT_EQ(histogram.binCount, 2u);
  EXPECT_EQ(histogram.Bin.Numb, 2u);
  EXPECT_EQ(histogram.Bin.S, (std::vector<double>{1.5, -1}));
  // Descending edges: everything not above the first edge lands in the first bin; a value
  // above it, and NaN, in "More".
  EXPECT_EQ(Report(histogram), kHeader +
                                   "1.5\t3\t0.6\t3\t0.6\n"
                                   "-1\t0\t0\t3\t0.6\n"
                                   "More \t2\t0.4\t5\t1\n");
}

TEST_F(Histogram, NoEdgesOrNoSetBinsCountEverythingAsMore) {
  EXPECT_EQ(Report(Counted("no numbers here\n\n", {1, 2, 3})), kHeader + "More \t3\t1\t3\t1\n");

  Histogram_1D never_set;
  EXPECT_EQ(never_set.countSample(MakeSample({-1, 1e9})), 0);
  EXPECT_EQ(Report(never_set), kHeader + "More \t2\t1\t2\t1\n");
  EXPECT_EQ(Report(Histogram_1D{}), kHeader + "More \t0\t0\t0\t0\n");
}

TEST_F(Histogram, EmptySampleLeavesTheSharesAtZero) {
  EXPECT_EQ(Report(Counted("1\n2\n", {})), kHeader +
                                               "1\t0\t0\t0\t0\n"
                                               "2\t0\t0\t0\t0\n"
                                               "More \t0\t0\t0\t0\n");
  // A count beyond the stored values counts the stored ones only.
  Histogram_1D histogram = Counted("1\n", {});
  Sample_1D claims_more = MakeSample({0.5});
  claims_more.Numb = 4;
  histogram.countSample(claims_more);
  EXPECT_EQ(histogram.valueCount, 1u);
  EXPECT_EQ(Report(histogram), kHeader + "1\t1\t1\t1\t1\nMore \t0\t0\t1\t1\n");
}

TEST_F(Histogram, CountsAccumulateUntilSetBinsWhichAppendsEdges) {
  Histogram_1D histogram = Counted("10\n", {5, 20});
  histogram.countSample(MakeSample({7}));
  // Frequencies add up; the shares are taken over the last sample only.
  EXPECT_EQ(Report(histogram), kHeader + "10\t2\t2\t2\t2\nMore \t1\t1\t3\t3\n");

  WriteFile(Path("more_bins.txt"), "30\n");
  histogram.setBins(Path("more_bins.txt"));
  EXPECT_EQ(histogram.binCount, 2u);
  EXPECT_EQ(Report(histogram), kHeader + "10\t0\t0\t0\t0\n30\t0\t0\t0\t0\nMore \t0\t0\t0\t0\n");
}

TEST_F(Histogram, WriteAppendsACompleteReportEachTime) {
  const Histogram_1D histogram = Counted("0\n", {-1, 1});
  const std::string path = Path("twice.txt");
  WriteFile(path, "earlier\n");
  histogram.write(path);
  histogram.write(path);
  const std::string report = kHeader + "0\t1\t0.5\t1\t0.5\nMore \t1\t0.5\t2\t1\n";
  EXPECT_EQ(ReadFile(path), "earlier\n" + report + report);
}

TEST_F(Histogram, UnopenableFilesExitWithTheirOwnWording) {
  Histogram_1D histogram;
  const std::string missing_bins = Path("missing_bins.txt");
  EXPECT_EXIT(histogram.setBins(missing_bins), ::testing::ExitedWithCode(1),
              ::testing::StrEq("Can't open " + missing_bins + " file.\n"));
  const std::string report = Path("no_such_folder/report.txt");
  EXPECT_EXIT(histogram.write(report), ::testing::ExitedWithCode(1),
              ::testing::StrEq("Can't open " + report + " file\n"));
}

}  // namespace
