#include "common/table_utils.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using Strings = std::vector<std::string>;

// Files named relative to the test's own fresh folder.
class FileTest : public test_support::TempFolderTest {
 protected:
  std::string PathOf(const std::string& name) const { return Path(name); }

  std::string WriteFile(const std::string& name, const std::string& content) const {
    test_support::WriteFile(Path(name), content);
    return Path(name);
  }

  std::string ReadFile(const std::string& name) const { return test_support::ReadFile(Path(name)); }
};

using StringListFiles = FileTest;

TEST_F(StringListFiles, LoadLinesAddsAFinalEmptyItemAfterTheLastLineEnd) {
  StringList list;
  EXPECT_EQ(list.LoadLines(WriteFile("two.txt", "a\tx\nb\n")), 0);
  EXPECT_EQ(list.count, 3u);
  EXPECT_EQ(list.items, (Strings{"a", "b", ""}));

  StringList empty;
  EXPECT_EQ(empty.LoadLines(WriteFile("empty.txt", "")), 0);
  EXPECT_EQ(empty.count, 1u);
  EXPECT_EQ(empty.items, Strings{""});

  // No final line end: no extra item. Items are appended to those already there.
  EXPECT_EQ(list.LoadLines(WriteFile("open.txt", "c\r\n\nd")), 0);
  EXPECT_EQ(list.count, 6u);
  EXPECT_EQ(list.items, (Strings{"a", "b", "", "c", "", "d"}));

  StringList commas;
  EXPECT_EQ(commas.LoadLinesUntil(WriteFile("csv.txt", "k,v\tw\nz"), ","), 0);
  EXPECT_EQ(commas.items, (Strings{"k", "z"}));
  EXPECT_EQ(commas.count, 2u);
}

TEST_F(StringListFiles, LoadersReportAMissingFileInTheirOwnWording) {
  StringList list;
  const std::string missing = PathOf("missing.txt");
  EXPECT_EXIT(list.LoadLines(missing), ::testing::ExitedWithCode(1),
              "^Can't open .*missing\\.txt file\n$");
  EXPECT_EXIT(list.LoadLinesUntil(missing, ","), ::testing::ExitedWithCode(1),
              "^Can't open .*missing\\.txt file\n$");
  EXPECT_EXIT(list.LoadTokens(missing), ::testing::ExitedWithCode(1),
              "^Where is .*missing\\.txt\\?\n$");
}

TEST_F(StringListFiles, LoadTokensKeepsAnEmptyTokenAndSaysWhichLine) {
  StringList list;
  ::testing::internal::CaptureStdout();
  const int result = list.LoadTokens(WriteFile("names.txt", "chr1.fa\n\n123\n  >seq-2\tx\n"));
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "2 line doesn't contain the substring.\n");
  EXPECT_EQ(result, 1);
  EXPECT_EQ(list.count, 3u);
  EXPECT_EQ(list.items, (Strings{"chr1", "", "seq"}));

  StringList clean;
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(clean.LoadTokens(WriteFile("clean.txt", "a\nb")), 0);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
  EXPECT_EQ(clean.items, (Strings{"a", "b"}));
}

TEST_F(StringListFiles, WriteLinesReplacesTheFileWithOneItemPerLine) {
  WriteFile("out.txt", "old content that must go\n");
  StringList list;
  AppendItem(list) = "a";
  AppendItem(list) = "";
  AppendItem(list) = "b c";
  EXPECT_EQ(list.WriteLines(PathOf("out.txt")), 0);
  EXPECT_EQ(ReadFile("out.txt"), "a\n\nb c\n");
  EXPECT_EQ(list.WriteLines(PathOf("no/such/folder.txt")), 0);
}

using WriteTextFile = FileTest;

TEST_F(WriteTextFile, AddAppendsOverwriteReplacesOtherModesWriteNothing) {
  const std::string name = PathOf("text.txt");
  EXPECT_EQ(WriteText(name, "one\n", FILEEOUTTYPE_ADD), 0);
  EXPECT_EQ(WriteText(name, "two", FILEEOUTTYPE_ADD), 0);
  EXPECT_EQ(ReadFile("text.txt"), "one\ntwo");
  EXPECT_EQ(WriteText(name, "three", FILEEOUTTYPE_OVERWRITE), 0);
  EXPECT_EQ(ReadFile("text.txt"), "three");
  EXPECT_EQ(WriteText(name, "lost", 2), 0);
  EXPECT_EQ(WriteText(PathOf("never.txt"), "lost", -1), 0);
  EXPECT_EQ(ReadFile("text.txt"), "three");
  EXPECT_FALSE(fs::exists(PathOf("never.txt")));
}

TEST_F(WriteTextFile, UnopenableFileEndsTheRunWithoutAFullStop) {
  const std::string name = PathOf("no/such/x.txt");
  EXPECT_EXIT(WriteText(name, "t", FILEEOUTTYPE_OVERWRITE), ::testing::ExitedWithCode(1),
              "^Can't open .*no/such/x\\.txt file\n$");
  EXPECT_EXIT(WriteText(name, "t", FILEEOUTTYPE_ADD), ::testing::ExitedWithCode(1),
              "^Can't open .*no/such/x\\.txt file\n$");
}

using Matrices = FileTest;

TEST_F(Matrices, IntMatrixIsZeroFilledAndWritesRowsWithoutSeparators) {
  IntMatrix matrix(2, 3);
  ASSERT_EQ(matrix.data.size(), 2u);
  for (const auto& row : matrix.data) EXPECT_EQ(row, (std::vector<std::int32_t>{0, 0, 0}));
  matrix.data[0] = {1, 0, 1};
  matrix.data[1] = {0, 0, 1};
  EXPECT_EQ(matrix.Write(PathOf("m.txt")), 0);
  EXPECT_EQ(ReadFile("m.txt"), "101\n001\n");

  EXPECT_EQ(matrix.Free(), 0);
  EXPECT_EQ(matrix.rows, 0u);
  EXPECT_EQ(matrix.cols, 0u);
  EXPECT_TRUE(matrix.data.empty());
  EXPECT_EQ(matrix.Allocate(1, 2), 0);
  matrix.data[0][1] = -12;
  EXPECT_EQ(matrix.Write(PathOf("m.txt")), 0);
  EXPECT_EQ(ReadFile("m.txt"), "0-12\n");

  IntMatrix empty;
  EXPECT_EQ(empty.Write(PathOf("e.txt")), 0);
  EXPECT_EQ(ReadFile("e.txt"), "");
}

TEST_F(Matrices, LabelledMatrixWritesAHeaderWithAnEmptyCornerCell) {
  LabelledIntMatrix matrix(2, 2);
  AppendItem(matrix.columnNames) = "m1";
  AppendItem(matrix.columnNames) = "m2";
  AppendItem(matrix.rowNames) = "s1";
  AppendItem(matrix.rowNames) = "s2";
  matrix.data[0] = {1, 2};
  matrix.data[1][1] = 7;
  EXPECT_EQ(matrix.Write(PathOf("l.tab")), 0);
  EXPECT_EQ(ReadFile("l.tab"), "\tm1\tm2\ns1\t1\t2\ns2\t0\t7\n");

  // Names the owner did not supply are written empty rather than read out of range.
  LabelledIntMatrix unnamed(1, 2);
  AppendItem(unnamed.columnNames) = "only";
  EXPECT_EQ(unnamed.Write(PathOf("u.tab")), 0);
  EXPECT_EQ(ReadFile("u.tab"), "\tonly\t\n\t0\t0\n");
}

// Runs `allocate` in a process whose address space is capped at 1 GiB, so that a large
// request fails quickly instead of taking the machine's memory.
template <typename Allocate>
void AllocateWithCappedMemory(Allocate allocate) {
  const rlim_t cap = rlim_t{1} << 30;
  const rlimit limit{cap, cap};
  setrlimit(RLIMIT_AS, &limit);
  allocate();
}

TEST(MatrixAllocation, StorageThatCannotBeHadEndsTheRunWithTheMemoryMessage) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the address sanitizer reserves more address space than the cap allows";
#else
  // The row table itself (4 G entries), then a row (4 G values) after a small row table.
  EXPECT_EXIT(AllocateWithCappedMemory([] { IntMatrix matrix(4294967295u, 1); }),
              ::testing::ExitedWithCode(1), "^Problem of memory allocation\\.\n$");
  EXPECT_EXIT(AllocateWithCappedMemory([] { LabelledIntMatrix matrix(2, 4294967295u); }),
              ::testing::ExitedWithCode(1), "^Problem of memory allocation\\.\n$");
  EXPECT_EXIT(AllocateWithCappedMemory([] {
                IntMatrix matrix;
                matrix.Allocate(3, 1u << 30);
              }),
              ::testing::ExitedWithCode(1), "^Problem of memory allocation\\.\n$");
#endif
}

using NumberFiles = FileTest;

TEST_F(NumberFiles, UnsignedArrayIsOneLineOfDigits) {
  const std::uint32_t values[] = {1, 0, 42, 4294967295u};
  EXPECT_EQ(WriteUnsignedArray(values, 4, PathOf("a.txt")), 0);
  EXPECT_EQ(ReadFile("a.txt"), "10424294967295\n");
  EXPECT_EQ(WriteUnsignedArray(values, 0, PathOf("a.txt")), 0);
  EXPECT_EQ(ReadFile("a.txt"), "\n");
}

TEST_F(NumberFiles, DoubleVectorRoundTripsInTheDefaultNotation) {
  EXPECT_EQ(WriteDoubleVector({0.5, 2.25, 1.0 / 3, -1e-7, 1234567.0, 0.0}, PathOf("v.txt")), 0);
  EXPECT_EQ(ReadFile("v.txt"), "0.5\n2.25\n0.333333\n-1e-07\n1.23457e+06\n0\n");
  EXPECT_EQ(WriteDoubleVector({}, PathOf("v.txt")), 0);
  EXPECT_EQ(ReadFile("v.txt"), "");

  std::vector<double> values = {9};
  EXPECT_EQ(ReadDoubleVector(values, WriteFile("in.txt",
                                               "1.5\nx\n\n-2\n-\n.\n-.\n1.2.3\n2\r\n 3\n"
                                               "+4\n1e5\n.25\n7.\n-0")),
            0);
  EXPECT_EQ(values, (std::vector<double>{9, 1.5, -2, 1.2, 0.25, 7, -0.0}));
}

TEST_F(NumberFiles, UnopenableFilesEndTheRunWithAFullStop) {
  std::vector<double> values;
  EXPECT_EXIT(ReadDoubleVector(values, "bins.txt"), ::testing::ExitedWithCode(1),
              "^Can't open bins\\.txt file\\.\n$");
  EXPECT_EXIT(WriteDoubleVector({1}, PathOf("no/such/v.txt")), ::testing::ExitedWithCode(1),
              "^Can't open .*no/such/v\\.txt file\\.\n$");
}

TEST(ConsoleVectors, OneValuePerLineOnStandardOutput) {
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(PrintUnsignedVector({3, 0, 4294967295u}), 0);
  EXPECT_EQ(PrintDoubleVector({0.1, 1e20, -2.5}), 0);
  EXPECT_EQ(PrintDoubleVector({}), 0);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "3\n0\n4294967295\n0.1\n1e+20\n-2.5\n");
}

TEST(ReportElapsed, PrintsTheTimeSinceTheLastReadingAndUpdatesIt) {
  std::clock_t last = std::clock();
  const std::clock_t before = last;
  volatile double sink = 0;
  for (int step = 0; step < 2000000; ++step) sink = sink + step;
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(ReportElapsed(last, CLOCKS_PER_SEC, "s", "Pass took "), 0);
  const std::string printed = ::testing::internal::GetCapturedStdout();
  EXPECT_GT(last, before);
  EXPECT_TRUE(std::regex_match(printed, std::regex("Pass took [0-9.e+-]+ s\n"))) << printed;
  const double seconds = std::stod(printed.substr(10));
  EXPECT_NEAR(seconds, static_cast<double>(last - before) / CLOCKS_PER_SEC, 1e-5);
}

}  // namespace
