#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "common/diagnostics.h"
#include "common/number_text.h"
#include "scorefit/coefficient_table.h"
#include "scorefit/prediction_table.h"

namespace {

std::string Predict(const std::string& table, const std::vector<double>& b) {
  std::istringstream in(table);
  std::ostringstream out;
  EXPECT_EQ(WritePredictionTable(in, b, out).status, PredictionOutcome::Status::kDone);
  return out.str();
}

TEST(WritePredictionTable, SumsFromLeftToRightStartingWithTheIntercept) {
  // 1e16 + 1 loses the 1 before -1e16 cancels the rest; another order would give 1.
  EXPECT_EQ(Predict("h\n0\t0\t1\t1\n", {1e16, 1, -1e16}), "h\tPredicted\n0\t0\t1\t1\t0\n");
  EXPECT_EQ(Predict("h\n0\t0\t1\t1\n", {0, -1e16, 1e16}), "h\tPredicted\n0\t0\t1\t1\t0\n");
  EXPECT_EQ(Predict("h\n0\t0\t1\n", {1, 1e16}), "h\tPredicted\n0\t0\t1\t1e+16\n");
}

TEST(WritePredictionTable, EveryNotANumberIsWrittenAsPlainNan) {
  // inf + -inf gives the processor's default NaN, whose sign bit is set; NA times a
  // negative coefficient keeps the input NaN. Both must read "nan".
  const std::vector<double> b = {0, 10, 10, -1};
  EXPECT_EQ(Predict("h\nx\ty\t1e308\t-1e308\t0\n", b),
            "h\tPredicted\nx\ty\t1e308\t-1e308\t0\tnan\n");
  EXPECT_EQ(Predict("h\nx\ty\t0\t0\tNA\n", b), "h\tPredicted\nx\ty\t0\t0\tNA\tnan\n");
  EXPECT_EQ(Predict("h\nx\ty\t-nan\t0\t0\n", b), "h\tPredicted\nx\ty\t-nan\t0\t0\tnan\n");
  EXPECT_EQ(Predict("h\nx\ty\t1e308\t1e308\t0\n", b), "h\tPredicted\nx\ty\t1e308\t1e308\t0\tinf\n");
}

TEST(WritePredictionTable, CellsReadAsTheGeneralConversionReadsThem) {
  // With b = (-x, 1) the prediction is exactly 0 only when the cell's value equals x.
  for (const char* cell :
       {"0", "7", "007", "123456789012345", "999999999999999", "1234567890123456",
        "9007199254740993", "12a", "-3", "+3", "1.5", "3e2", " 4"}) {
    SCOPED_TRACE(cell);
    const std::string row = std::string("0\t0\t") + cell;
    EXPECT_EQ(Predict("h\n" + row + "\n", {-StringToDouble(cell), 1}),
              "h\tPredicted\n" + row + "\t0\n");
  }
}

// An independent reading of the prediction rule: split on single tabs after dropping empty
// cells, sum b[0] + b[j-1] * cell j for j >= 2, format with a fresh stream.
std::string ReferenceRow(const std::string& row, const std::vector<double>& b) {
  std::vector<std::string> cells;
  std::string cell;
  std::istringstream split(row);
  while (std::getline(split, cell, '\t')) {
    if (!cell.empty()) cells.push_back(cell);
  }
  double sum = b[0];
  std::string text;
  for (std::size_t j = 0; j < cells.size(); ++j) {
    text += cells[j] + "\t";
    if (j >= 2) sum += std::stod(cells[j]) * b[j - 1];
  }
  std::ostringstream number;
  number << sum;
  return text + number.str() + "\n";
}

TEST(WritePredictionTable, AgreesWithAnIndependentSumOnARandomTable) {
  std::mt19937 random(20261207);
  std::uniform_real_distribution<double> coefficient(-2, 2);
  std::uniform_int_distribution<int> count(0, 4);
  std::uniform_int_distribution<int> tabs(1, 3);
  const int motifs = 50;
  std::vector<double> b;
  for (int k = 0; k <= motifs; ++k) b.push_back(coefficient(random));

  std::string table = "Peak score\tLn(Peak score)";
  for (int k = 0; k < motifs; ++k) table += "\tm" + std::to_string(k);
  table += "\n";
  std::string expected = table.substr(0, table.size() - 1) + "\tPredicted\n";
  for (int row = 0; row < 200; ++row) {
    std::string line = std::to_string(row) + "\t" + std::to_string(row * 0.5);
    const int cells = row % 7 == 0 ? row % motifs : motifs;
    for (int k = 0; k < cells; ++k) {
      line +=
          std::string(static_cast<std::size_t>(tabs(random)), '\t') + std::to_string(count(random));
    }
    table += line + "\n";
    expected += ReferenceRow(line, b);
  }
  EXPECT_EQ(Predict(table, b), expected);
}

// A table of several read blocks, with blank lines before the header and among the rows,
// predicted on one, two and three threads: the same bytes as the row-by-row reference; a
// row too wide deep in the table is named by its line on every thread count.
TEST(WritePredictionTable, BlocksAndThreadsNeverChangeTheTable) {
  std::mt19937 random(20261209);
  std::uniform_real_distribution<double> coefficient(-2, 2);
  std::uniform_int_distribution<int> count(0, 12);
  const int motifs = 40;
  std::vector<double> b;
  for (int k = 0; k <= motifs; ++k) b.push_back(coefficient(random));
  std::string table = "\n\t\nPeak score\tLn(Peak score)";
  for (int k = 0; k < motifs; ++k) table += "\tm" + std::to_string(k);
  std::string expected = table;
  expected.erase(0, 3);
  expected += "\tPredicted\n";
  table += "\n";
  std::size_t lines = 3;
  while (table.size() < (std::size_t{5} << 20)) {
    std::string line = std::to_string(lines) + "\t1.5";
    for (int k = 0; k < motifs; ++k) {
      line += '\t';
      line += std::to_string(count(random));
    }
    table += line + (lines % 1000 == 0 ? "\n\n" : "\n");
    lines += lines % 1000 == 0 ? 2 : 1;
    expected += ReferenceRow(line, b);
  }
  table.pop_back();  // the last line without its line feed
  for (const std::size_t threads : {1, 2, 3}) {
    std::istringstream in(table);
    std::ostringstream out;
    ASSERT_EQ(WritePredictionTable(in, b, out, threads).status, PredictionOutcome::Status::kDone);
    EXPECT_TRUE(out.str() == expected) << threads << " threads";

    const std::size_t line_end = table.find('\n', table.find("\n40000\t") + 1);
    const std::string wide = table.substr(0, line_end) + "\t1\t2" + table.substr(line_end);
    std::istringstream wide_in(wide);
    std::ostringstream wide_out;
    const PredictionOutcome outcome = WritePredictionTable(wide_in, b, wide_out, threads);
    EXPECT_EQ(outcome.status, PredictionOutcome::Status::kBadRow);
    EXPECT_EQ(outcome.line_number, 40001u);
    EXPECT_EQ(outcome.field_count, static_cast<std::size_t>(motifs + 4));
  }
}

// Odd cells around the direct reading of one and two digits (long digit runs, signs,
// exponents, words, carriage returns, runs of tabs, empty lines) in rows that fall across
// the scans' words at every offset and across several read blocks: on every scan path and
// thread count, the bytes of a cell-by-cell reading through the general conversion.
TEST(WritePredictionTable, EveryScanPathReadsOddCellsAsTheGeneralConversion) {
  const std::vector<std::string> odd_cells = {"10",
                                              "99",
                                              "00",
                                              "09",
                                              "100",
                                              "007",
                                              "123456789012345",
                                              "1234567890123456",
                                              "98765432109876543210",
                                              "-3",
                                              "+4",
                                              "1.5",
                                              "3e2",
                                              "1e999",
                                              "NA",
                                              "nan",
                                              "inf",
                                              "x",
                                              "12a",
                                              "a1",
                                              "5\r",
                                              "0x1A",
                                              "9.",
                                              ".5",
                                              "-",
                                              "1e",
                                              "1234567"};
  std::mt19937 random(20261210);
  std::uniform_real_distribution<double> coefficient(-3, 3);
  std::uniform_int_distribution<int> percent(0, 99);
  const int motifs = 40;
  std::vector<double> b;
  for (int k = 0; k <= motifs; ++k) b.push_back(k % 13 == 5 ? -0.0 : coefficient(random));
  const auto pick = [&](const std::vector<std::string>& from) {
    return from[std::uniform_int_distribution<std::size_t>(0, from.size() - 1)(random)];
  };

  std::string table = "s\tl";
  for (int k = 0; k < motifs; ++k) table += "\tm" + std::to_string(k);
  std::string expected = table + "\tPredicted\n";
  table += "\n";
  while (table.size() < (std::size_t{3} << 20)) {
    if (percent(random) < 3) {
      table += percent(random) < 50 ? "\n" : "\t\t\n";
      continue;
    }
    const int fields = std::uniform_int_distribution<int>(1, motifs + 2)(random);
    std::string line = percent(random) < 5 ? "\t" : "";
    std::vector<std::string> row;
    for (int field = 0; field < fields; ++field) {
      const int kind = percent(random);
      row.push_back(kind < 60   ? std::to_string(kind % 10)
                    : kind < 80 ? std::to_string(kind)
                                : pick(odd_cells));
      line += row.back();
      if (field + 1 < fields) line += percent(random) < 5 ? "\t\t" : "\t";
    }
    if (percent(random) < 5) {
      line += '\r';
      row.back() += '\r';
    }
    if (percent(random) < 5) line += "\t";
    table += line + "\n";

    double sum = b[0];
    for (std::size_t field = 2; field < row.size(); ++field) {
      sum = StringToDouble(row[field]) * b[field - 1] + sum;
    }
    for (const std::string& cell : row) expected += cell + "\t";
    std::ostringstream number;
    number << sum;
    expected += (std::isnan(sum) ? "nan" : number.str()) + "\n";
  }
  table.pop_back();  // the last line without its line feed

  for (const RowScanPath path : {RowScanPath::kPortable, RowScanPath::kAvx2}) {
    for (const std::size_t threads : {1, 2, 3}) {
      SCOPED_TRACE(::testing::Message()
                   << (path == RowScanPath::kAvx2 ? "avx2" : "portable") << " path, " << threads
                   << " threads" << (RowScanPathSupported(path) ? "" : " (not on this processor)"));
      std::istringstream in(table);
      std::ostringstream out;
      ASSERT_EQ(WritePredictionTable(in, b, out, threads, path).status,
                PredictionOutcome::Status::kDone);
      EXPECT_TRUE(out.str() == expected);
    }
  }
}

TEST(WritePredictionTable, RefusesAnEmptyModelAndReportsAFailedOutput) {
  std::istringstream in("h\n1\t2\t3\n");
  std::ostringstream out;
  EXPECT_EQ(WritePredictionTable(in, {}, out).status, PredictionOutcome::Status::kNoIntercept);
  EXPECT_EQ(out.str(), "");
  EXPECT_EQ(in.tellg(), 0);

  std::ostringstream failed;
  failed.setstate(std::ios::badbit);
  EXPECT_EQ(WritePredictionTable(in, {1, 2}, failed).status,
            PredictionOutcome::Status::kWriteFailed);
}

TEST(WritePredictionTable, ARowBeyondTheCoefficientsStopsWithBothCounts) {
  std::istringstream in("h\n1\t2\t3\n\n1\t2\t3\t4\n");
  std::ostringstream out;
  const PredictionOutcome outcome = WritePredictionTable(in, {1, 2}, out);
  EXPECT_EQ(outcome.status, PredictionOutcome::Status::kBadRow);
  EXPECT_EQ(outcome.line_number, 4u);
  EXPECT_EQ(outcome.field_count, 4u);
  EXPECT_EQ(TooManyFieldsText(4, 2),
            "data row has 4 tab-separated fields, but the 2 coefficients (intercept included) "
            "serve at most 3");
}

TEST(ReadCoefficientTable, AppendsInterceptThenFourthFields) {
  std::istringstream in(
      "title\tIntercept\nIntercept\t2\nm1\ta\tb\t3.5\n\t\t\nIntercept\t4\t0\t5\nlast\t0\t0\t-1e-"
      "3\r\n");
  std::vector<double> b = {99};
  EXPECT_EQ(ReadCoefficientTable(in, b), std::nullopt);
  EXPECT_EQ(b, (std::vector<double>{99, 2, 3.5, 5, 4, -1e-3}));
}

TEST(ReadCoefficientTable, StopsOnTablesTheModelCannotUse) {
  const struct {
    const char* table;
    const char* message;
  } cases[] = {
      {"", "^c\\.tab: no \"Intercept\" line"},
      {"intercept\t1\n", "^c\\.tab: no \"Intercept\" line"},
      {"x\n\nIntercept\n", "^c\\.tab:3: \"Intercept\" line: expected at least 2"},
      {"Intercept\t1\nm\t1\t2\n", "^c\\.tab:2: coefficient line: expected at least 4 .*found 3\n$"},
      {"Intercept\t.\n", "^c\\.tab:1: \"Intercept\" line: second field \"\\.\" is not a number\n$"},
      {"Intercept\t1\nm\t1\t2\t1e999\n", "^c\\.tab:2: coefficient line: fourth field \"1e999\""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.table);
    std::istringstream in(c.table);
    std::vector<double> b;
    const std::optional<LineError> error = ReadCoefficientTable(in, b);
    ASSERT_TRUE(error.has_value());
    EXPECT_THAT(BadInputText("c.tab", error->line_number, error->what) + "\n",
                ::testing::ContainsRegex(c.message));
  }
}

}  // namespace
