#include "motiffit/motiffit.h"
#include "motiffit/presence_fit.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "common/byte_source.h"
#include "scorefit/coefficient_table.h"
#include "scorefit/scorefit.h"
#include "tests/support/temp_dir.h"

namespace {

using test_support::ReadFile;
using test_support::WriteFile;

const std::string kSourceDir = MOTIF_WORKFLOW_SOURCE_DIR;
// Sitecount's count table of the example peaks and motifs.
const std::string kExampleTable =
    kSourceDir + "/tests/cli/sitecount/example_format1/expected/files/table.tab";

PresenceFit FitText(const std::string& text) {
  MemorySource source(text);
  return FitPresenceTable(source);
}

void ExpectClose(double expected, double actual, const std::string& what) {
  if (std::isnan(expected)) {
    EXPECT_TRUE(std::isnan(actual)) << what << ": " << actual;
    return;
  }
  EXPECT_LE(std::fabs(actual - expected), 1e-9 * std::fabs(expected)) << what;
}

std::vector<std::string> Fields(const std::string& line) {
  std::vector<std::string> fields;
  std::istringstream split(line);
  for (std::string field; std::getline(split, field, '\t');) fields.push_back(field);
  return fields;
}

// The expected figures were written once by tests/motiffit/make_expected.py, from numpy's
// lstsq (a singular value decomposition), its pseudo-inverse and a continued fraction for
// the t distribution: a route that shares nothing with the program's QR and Boost.
TEST(FitPresenceTable, ExampleAgreesWithAnIndependentLeastSquaresSolution) {
  const PresenceFit table = FitText(ReadFile(kExampleTable));
  ASSERT_EQ(table.status, PresenceFit::Status::kDone);
  const LinearFit& fit = table.fit;
  std::ifstream expected(kSourceDir + "/tests/motiffit/example_fit_expected.tab");
  std::string line;
  std::getline(expected, line);
  EXPECT_EQ(line, "rows\t" + std::to_string(fit.rows));
  std::getline(expected, line);
  EXPECT_EQ(line, "rank\t" + std::to_string(fit.rank));
  for (const double figure : {fit.r_squared, fit.adjusted_r_squared, fit.residual_standard_error}) {
    std::getline(expected, line);
    ExpectClose(std::stod(Fields(line)[1]), figure, line);
  }
  for (std::size_t term = 0; term < fit.coefficients.size(); ++term) {
    ASSERT_TRUE(std::getline(expected, line));
    const std::vector<std::string> fields = Fields(line);
    EXPECT_EQ(fields[0], term == 0 ? "Intercept" : table.labels[term - 1]);
    EXPECT_EQ(fields[1] == "1", fit.estimated[term]) << line;
    ExpectClose(std::stod(fields[2]), fit.coefficients[term], line);
    ExpectClose(std::stod(fields[3]), fit.standard_errors[term], line);
    ExpectClose(std::stod(fields[4]), fit.t_values[term], line);
    ExpectClose(std::stod(fields[5]), fit.p_values[term], line);
    if (term > 0) ExpectClose(std::stod(fields[6]), fit.standardised[term - 1], line);
  }
  EXPECT_FALSE(std::getline(expected, line));
}

// A presence table of `rows` random rows: score columns from y = 1 + 0.4 a - 0.3 b + 0.2 d
// + noise, then the cells each of `columns` makes of (a, b, d).
template <typename Columns>
std::string RandomTable(const std::vector<std::string>& labels, int rows, Columns columns) {
  std::mt19937 random(20261207);
  std::poisson_distribution<int> count(1.5);
  std::normal_distribution<double> noise(0, 0.3);
  std::string text = "Peak score\tLn(Peak score)";
  for (const std::string& label : labels) {
    text += '\t';
    text += label;
  }
  text += "\n";
  for (int row = 0; row < rows; ++row) {
    const int a = count(random), b = count(random), d = count(random);
    const double ln_score = 1 + 0.4 * a - 0.3 * b + 0.2 * d + noise(random);
    char score[64];
    std::snprintf(score, sizeof score, "%.17g\t%.17g", std::exp(ln_score), ln_score);
    text += score;
    for (const int cell : columns(a, b, d)) {
      text += '\t';
      text += std::to_string(cell);
    }
    text += "\n";
  }
  return text;
}

TEST(FitPresenceTable, ColumnsWithoutAnEstimateGetZeroAndLeaveTheFitAsWithoutThem) {
  // c = a + b is collinear with a and b; z is all zero; k is constant, a copy of the
  // intercept. Blocks of rows are folded every few thousand rows: 20000 rows take several.
  const PresenceFit clean = FitText(RandomTable({"a", "b", "d"}, 20000, [](int a, int b, int d) {
    return std::vector<int>{a, b, d};
  }));
  const PresenceFit table =
      FitText(RandomTable({"a", "z", "b", "c", "k", "d"}, 20000, [](int a, int b, int d) {
        return std::vector<int>{a, 0, b, a + b, 2, d};
      }));
  ASSERT_EQ(clean.status, PresenceFit::Status::kDone);
  ASSERT_EQ(table.status, PresenceFit::Status::kDone);
  const LinearFit& fit = table.fit;
  EXPECT_EQ(fit.rank, 4u);
  EXPECT_TRUE(fit.estimated[0]);
  EXPECT_FALSE(fit.estimated[2]);                                        // z
  EXPECT_FALSE(fit.estimated[5]);                                        // k
  EXPECT_TRUE(fit.estimated[6]);                                         // d
  EXPECT_EQ(fit.estimated[1] + fit.estimated[3] + fit.estimated[4], 2);  // one of a, b, c
  for (std::size_t term = 1; term < fit.coefficients.size(); ++term) {
    if (!fit.estimated[term]) {
      EXPECT_EQ(fit.coefficients[term], 0.0) << term;
      EXPECT_TRUE(std::isnan(fit.p_values[term])) << term;
    }
  }
  // The same fitted values: the same residuals, intercept and coefficient of d.
  ExpectClose(clean.fit.residual_sum_of_squares, fit.residual_sum_of_squares, "RSS");
  ExpectClose(clean.fit.coefficients[0], fit.coefficients[0], "intercept");
  ExpectClose(clean.fit.coefficients[3], fit.coefficients[6], "d");
  ExpectClose(clean.fit.standard_errors[3], fit.standard_errors[6], "error of d");
  const double a = fit.coefficients[1] + fit.coefficients[4];
  const double b = fit.coefficients[3] + fit.coefficients[4];
  ExpectClose(clean.fit.coefficients[1], a, "a");
  ExpectClose(clean.fit.coefficients[2], b, "b");
  EXPECT_EQ(clean.fit.degrees_of_freedom, fit.degrees_of_freedom);

  // Fewer rows than columns: the all-zero ones leave a degree of freedom.
  const PresenceFit wide = FitText(
      "Peak score\tLn(Peak score)\ta\tz1\tb\tz2\tz3\n2\t0.7\t1\t0\t0\t0\t0\n"
      "3\t1.1\t0\t0\t2\t0\t0\n4\t1.4\t2\t0\t1\t0\t0\n5\t1.6\t1\t0\t1\t0\t0\n");
  const PresenceFit narrow = FitText(
      "Peak score\tLn(Peak score)\ta\tb\n2\t0.7\t1\t0\n3\t1.1\t0\t2\n4\t1.4\t2\t1\n"
      "5\t1.6\t1\t1\n");
  ASSERT_EQ(wide.status, PresenceFit::Status::kDone);
  ASSERT_EQ(narrow.status, PresenceFit::Status::kDone);
  EXPECT_EQ(wide.fit.degrees_of_freedom, 1u);
  ExpectClose(narrow.fit.coefficients[1], wide.fit.coefficients[1], "a");
  ExpectClose(narrow.fit.coefficients[2], wide.fit.coefficients[3], "b");
  ExpectClose(narrow.fit.p_values[2], wide.fit.p_values[3], "p of b");
}

TEST(FitPresenceTable, RowsWithoutAScoreOrANumberInEveryCellAreLeftOutAndCounted) {
  const std::string good =
      "12.5\t2.5\t1\t0\n3\t1.1\t0\t2\n7\t1.9\t2\t2\n9\t2.2\t1\t1\n4\t1.4\t0\t1\n";
  const PresenceFit table =
      FitText("\n\t\nPeak score\tLn(Peak score)\tA\tB\r\n" + good +
              "0\t-inf\t1\t0\n"   // a score of 0
              "nan\tnan\t0\t0\n"  // no number after the header's last tab
              "\t1\t0\n"          // a header without a tab: no score columns
              "n/a\t2\t1\t1\n"    // the score itself is no number
              "7\t1.9\n"          // no motif cells at all
              "5\t1.6\t\t1\n"     // an empty cell, as a motif found under format 2
              "5\t1.6\tNA\t1\n"   // a cell that is no number
              "5\t1.6\t1\n"       // a cell missing
              "\t\t\n"            // lines of tabs only, and empty lines, are no rows
              "\n"
              "8\t2.0\t1\t1\r\n"    // a carriage return before the line feed is dropped
              "6\t1.8\t2junk\t0");  // a number at the front of a cell is read, as Scorefit reads it
  ASSERT_EQ(table.status, PresenceFit::Status::kDone);
  EXPECT_EQ(table.data_rows, 15u);
  EXPECT_EQ(table.rows_without_score, 4u);
  EXPECT_EQ(table.rows_with_bad_cell, 4u);
  EXPECT_EQ(table.fit.rows, 7u);
  const PresenceFit expected =
      FitText("Peak score\tLn(Peak score)\tA\tB\n" + good + "8\t2.0\t1\t1\n6\t1.8\t2\t0\n");
  ASSERT_EQ(expected.status, PresenceFit::Status::kDone);
  for (std::size_t term = 0; term < 3; ++term) {
    ExpectClose(expected.fit.coefficients[term], table.fit.coefficients[term], "coefficient");
  }
}

class RunMotiffitInProcess : public test_support::TempFolderTest {};

TEST_F(RunMotiffitInProcess, ReportsTablesItCannotFitAndWritesNothing) {
  const test_support::ScopedWorkingDir in_folder(Folder());
  WriteFile("old.tab", "older content\n");
  const std::string header = "Peak score\tLn(Peak score)\tA\tB\n";
  const struct {
    const char* name;
    std::string content;
    const char* err;
  } cases[] = {
      // Three rows for three coefficients: nothing is left to estimate the error from.
      {"three.tab", header + "1\t0\t1\t0\n2\t0.7\t0\t1\n3\t1.1\t1\t1\n5\t1.6\tx\t1\n",
       "three.tab: no degrees of freedom left for the fit: 3 usable rows (of 4) for 3 "
       "coefficients that can be estimated, intercept included\n"},
      // B is all zero, so three rows would do; two do not.
      {"two.tab", header + "1\t0\t1\t0\n2\t0.7\t0\t0\n",
       "two.tab: no degrees of freedom left for the fit: 2 usable rows (of 2) for 2 "
       "coefficients that can be estimated, intercept included\n"},
      {"header.tab", header,
       "header.tab: no degrees of freedom left for the fit: 0 usable rows (of 0) for 1 "
       "coefficient that can be estimated, intercept included\n"},
      {"wide.tab", header + "5\t1.6\t1\t0\n5\t1.6\t1\t0\t\n",
       "wide.tab:3: data row has 5 tab-separated fields, but the header has 4\n"},
      {"empty.tab", "\n", "empty.tab: holds no header line and no rows to fit\n"},
      {"narrow.tab", "\nscores\n1\n",
       "narrow.tab:2: header has 1 field; a presence table starts "
       "with the peak score and its logarithm\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    WriteFile(c.name, c.content);
    ::testing::internal::CaptureStdout();
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(RunMotiffit({c.name, "old.tab"}), 1);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "Sitecount fload and fit\n");
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), c.err);
    EXPECT_EQ(ReadFile("old.tab"), "older content\n");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator("."),
                            std::filesystem::directory_iterator()),
              2);
    std::filesystem::remove(c.name);
  }
}

// Scorefit's prediction: b[0], then each cell from the third field on times its
// coefficient, added from left to right, in six significant digits.
std::string PredictionText(const std::vector<std::string>& cells, const std::vector<double>& b) {
  double prediction = b[0];
  for (std::size_t field = 2; field < cells.size(); ++field) {
    prediction = std::stod(cells[field]) * b[field - 1] + prediction;
  }
  std::ostringstream text;
  text << prediction;
  return text.str();
}

TEST_F(RunMotiffitInProcess, ScorefitPredictsTheFittedValuesFromTheWrittenTable) {
  const test_support::ScopedWorkingDir in_folder(Folder());
  // The example, and a table whose labels read "Intercept" or are empty and whose columns
  // include a collinear one: neither may shift Scorefit's pairing of coefficients.
  WriteFile("odd.tab", RandomTable({"Intercept", "", "c", "d"}, 50, [](int a, int b, int d) {
              return std::vector<int>{a, b, a + b, d};
            }));
  for (const std::string& presence : {kExampleTable, Path("odd.tab")}) {
    SCOPED_TRACE(presence);
    ::testing::internal::CaptureStdout();
    ASSERT_EQ(RunMotiffit({presence, "coefficients.tab"}), 0);
    ASSERT_EQ(RunScorefit({"coefficients.tab", presence, "predicted.tab"}), 0);
    ::testing::internal::GetCapturedStdout();

    // Every coefficient comes back from the text as the very double that was fitted.
    std::ifstream coefficients("coefficients.tab");
    std::vector<double> b;
    ASSERT_FALSE(ReadCoefficientTable(coefficients, b).has_value());
    const PresenceFit table = FitText(ReadFile(presence));
    ASSERT_EQ(table.status, PresenceFit::Status::kDone);
    EXPECT_EQ(b, table.fit.coefficients);

    std::istringstream predicted(ReadFile("predicted.tab"));
    std::string line;
    std::getline(predicted, line);
    std::size_t rows = 0;
    while (std::getline(predicted, line)) {
      std::vector<std::string> cells = Fields(line);
      const std::string prediction = cells.back();
      cells.pop_back();
      ASSERT_EQ(prediction, PredictionText(cells, table.fit.coefficients)) << line;
      ++rows;
    }
    EXPECT_EQ(rows, table.fit.rows);
  }
}

}  // namespace
