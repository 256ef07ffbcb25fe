#include "stats/sample_table.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/temp_dir.h"

namespace {

using test_support::ReadFile;
using test_support::TempFolderTest;
using test_support::WriteFile;

Sample_1D MakeSample(std::string name, std::vector<double> values) {
  Sample_1D sample;
  sample.Numb = static_cast<std::uint32_t>(values.size());
  sample.S = std::move(values);
  sample.Name = std::move(name);
  return sample;
}

std::string WrittenSide(const std::vector<Sample_1D>& samples) {
  std::ostringstream out;
  EXPECT_EQ(writeSamples(out, samples), 0);
  return out.str();
}

TEST(WriteSamples, SideBySideEndingWithARowOfTabs) {
  EXPECT_EQ(WrittenSide({MakeSample("A", {1, 2}), MakeSample("B", {5})}),
            "A\tB\t\n1\t5\t\n2\t\t\n\t\t\n");
  EXPECT_EQ(WrittenSide({}), "\n\n");
  EXPECT_EQ(WrittenSide({MakeSample("E", {}), MakeSample("F", {0.25, 1e10})}),
            "E\tF\t\n\t0.25\t\n\t1e+10\t\n\t\t\n");
  // Numb beyond the stored values: the stored ones only.
  Sample_1D short_sample = MakeSample("S", {7});
  short_sample.Numb = 4;
  EXPECT_EQ(WrittenSide({short_sample}), "S\t\n7\t\n\t\n");
}

class WriteSamplesFile : public TempFolderTest {};

TEST_F(WriteSamplesFile, ReplacesTheFileWithBareLineFeeds) {
  const std::string path = Path("samples.tab");
  WriteFile(path, "old content that is longer than the new one\r\n");
  EXPECT_EQ(writeSamplesFile(path, {MakeSample("A", {1, 2}), MakeSample("B", {5})}), 0);
  EXPECT_EQ(ReadFile(path), "A\tB\t\n1\t5\t\n2\t\t\n\t\t\n");
}

TEST_F(WriteSamplesFile, UnopenableFileExitsWithTheShortReport) {
  const std::string path = Path("no_such_folder/samples.tab");
  EXPECT_EXIT(writeSamplesFile(path, {}), ::testing::ExitedWithCode(1),
              ::testing::StrEq("Can't open " + path + " file\n"));
}

class SampleTableWrite : public TempFolderTest {};

TEST(SampleTable, AddSampleCopiesAndCounts) {
  SampleTable table;
  Sample_1D first = MakeSample("x", {1, 2, 3});
  EXPECT_EQ(table.addSample(first), 0);
  first.S[0] = 99;
  EXPECT_EQ(table.addSample(MakeSample("y", {4, 5})), 0);
  EXPECT_EQ(table.sampleCount, 2u);
  EXPECT_EQ(table.rowCount, 2u);
  EXPECT_EQ(table.columnNames, (std::vector<std::string>{"x", "y"}));
  ASSERT_EQ(table.samples.size(), 2u);
  EXPECT_EQ(table.samples[0].S[0], 1);
  EXPECT_EQ(table.samples[1].Name, "y");
}

TEST_F(SampleTableWrite, AppendsCompleteTablesAndKeepsEarlierContent) {
  SampleTable table;
  table.addSample(MakeSample("x", {1.5, 2}));
  table.addSample(MakeSample("y", {-3, 1e-5}));
  table.rowLabels = {"r1", "r2"};
  const std::string path = Path("table.tab");
  WriteFile(path, "earlier\n");
  EXPECT_EQ(table.write(path), 0);
  EXPECT_EQ(table.write(path), 0);
  const std::string one_table = "\tx\ty\nr1\t1.5\t-3\nr2\t2\t1e-05\n";
  EXPECT_EQ(ReadFile(path), "earlier\n" + one_table + one_table);
}

TEST_F(SampleTableWrite, MissingValuesAndLabelsLeaveEmptyCells) {
  SampleTable table;
  table.addSample(MakeSample("short", {1}));
  Sample_1D claims_more = MakeSample("claims", {2});
  claims_more.Numb = 2;
  table.addSample(MakeSample("long", {4, 5, 6}));
  table.addSample(claims_more);
  table.rowCount = 3;
  table.rowLabels = {"a"};
  const std::string path = Path("table.tab");
  table.write(path);
  EXPECT_EQ(ReadFile(path), "\tshort\tlong\tclaims\na\t1\t4\t2\n\t\t5\t\n\t\t6\t\n");

  // An empty table is the header's line end only.
  SampleTable empty;
  const std::string empty_path = Path("empty.tab");
  empty.write(empty_path);
  EXPECT_EQ(ReadFile(empty_path), "\n");
}

TEST_F(SampleTableWrite, UnopenableFileExitsWithTheShortReport) {
  SampleTable table;
  const std::string path = Path("no_such_folder/table.tab");
  EXPECT_EXIT(table.write(path), ::testing::ExitedWithCode(1),
              ::testing::StrEq("Can't open " + path + " file\n"));
}

}  // namespace
