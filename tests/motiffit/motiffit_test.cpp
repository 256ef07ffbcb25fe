#include "motiffit/motiffit.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "common/byte_source.h"
#include "motiffit/presence_fit.h"
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

PresenceFit FitText(const std::string& text, const FitSettings& settings = {}) {
  MemorySource source(text);
  return FitPresenceTable(source, settings);
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

// The expected figures were written once by tests/motiffit/make_expected.py (its header
// has the commands), from numpy's lstsq (a singular value decomposition), its
// pseudo-inverse, a continued fraction for the t distribution, a cumulative minimum for the
// q-values and lstsq refitted without each fold: a route that shares nothing with the
// program's cross-products, Cholesky factor and Boost. The second table has a column that
// is nearly, not exactly, the sum of two others.
TEST(FitPresenceTable, AgreesWithAnIndependentLeastSquaresSolution) {
  const struct {
    std::string table;
    std::string expected;
    std::size_t folds;
  } cases[] = {
      {kExampleTable, kSourceDir + "/tests/motiffit/example_fit_expected.tab", 5},
      {kSourceDir + "/tests/motiffit/collinear_table.tab",
       kSourceDir + "/tests/motiffit/collinear_fit_expected.tab", 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.table);
    FitSettings settings;
    settings.folds = c.folds;
    const PresenceFit table = FitText(ReadFile(c.table), settings);
    ASSERT_EQ(table.status, PresenceFit::Status::kDone);
    const LinearFit& fit = table.fit;
    std::ifstream expected(c.expected);
    std::string line;
    std::getline(expected, line);
    EXPECT_EQ(line, "rows\t" + std::to_string(fit.rows));
    std::getline(expected, line);
    EXPECT_EQ(line, "rank\t" + std::to_string(fit.rank));
    for (const double figure : {fit.r_squared, fit.adjusted_r_squared, fit.residual_standard_error,
                                c.folds > 1 ? fit.cross_validated_r_squared : std::nan("")}) {
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
      ExpectClose(std::stod(fields[7]), fit.q_values[term], line);
    }
    EXPECT_FALSE(std::getline(expected, line));
  }
}

// scikit-learn's ElasticNet and Ridge at fixed lambdas on the standardised columns, run once
// by make_expected.py.
TEST(FitPresenceTable, PenalisedFitsAgreeWithScikitLearnAtAFixedLambda) {
  std::ifstream expected(kSourceDir + "/tests/motiffit/example_penalised_expected.tab");
  const std::string text = ReadFile(kExampleTable);
  std::size_t fits = 0;
  for (std::string line; std::getline(expected, line); ++fits) {
    const std::vector<std::string> fields = Fields(line);
    SCOPED_TRACE(fields[0]);
    FitSettings settings;
    settings.folds = 1;
    settings.penalty.penalty = fields[0] == "ridge"   ? Penalty::kRidge
                               : fields[0] == "lasso" ? Penalty::kLasso
                                                      : Penalty::kElastic;
    settings.penalty.alpha = std::stod(fields[1]);
    settings.penalty.lambda = std::stod(fields[2]);
    MemorySource source(text);
    const PresenceFit table = FitPresenceTable(source, settings);
    ASSERT_EQ(table.status, PresenceFit::Status::kDone);
    const std::vector<double>& coefficients = table.penalised.coefficients;
    ASSERT_EQ(coefficients.size() + 3, fields.size());
    for (std::size_t term = 0; term < coefficients.size(); ++term) {
      const double reference = std::stod(fields[term + 3]);
      EXPECT_NEAR(coefficients[term], reference, 1e-6 * std::max(std::fabs(reference), 1e-2))
          << term;
    }
  }
  EXPECT_EQ(fits, 3u);
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

// Cells of one digit are read four at a time where they come in a run; a cell of any
// other shape, at any place of such a run, must read as the general reader reads it. The
// same table with every one-digit cell written "d.0" (which only the general reader takes)
// gives the same fit, bit for bit, and leaves out the same rows.
TEST(FitPresenceTable, RunsOfOneDigitCellsReadAsEveryOtherCell) {
  const std::vector<std::string> odd_cells = {"12",    "007", "1.5", "",   "x",
                                              "3junk", " 4",  "-2",  "9e0"};
  std::mt19937 random(11);
  std::string fast = "Peak score\tLn(Peak score)";
  for (int column = 0; column < 13; ++column) fast += "\tm" + std::to_string(column);
  fast += "\n";
  std::string general = fast;
  for (int row = 0; row < 400; ++row) {
    const std::string response = std::to_string(row % 7) + ".25";
    fast += "1\t" + response;
    general += "1\t" + response;
    for (int column = 0; column < 13; ++column) {
      std::string cell;
      if (random() % 9 == 0) {
        cell = odd_cells[random() % odd_cells.size()];
        fast += "\t" + cell;
        general += "\t" + cell;
      } else {
        cell = std::to_string(random() % 10);
        fast += "\t" + cell;
        general += "\t" + cell + ".0";
      }
    }
    fast += row % 5 == 0 ? "\r\n" : "\n";
    general += row % 5 == 0 ? "\r\n" : "\n";
  }
  const PresenceFit expected = FitText(general);
  const PresenceFit table = FitText(fast);
  ASSERT_EQ(expected.status, PresenceFit::Status::kDone);
  ASSERT_EQ(table.status, PresenceFit::Status::kDone);
  EXPECT_EQ(table.rows_with_bad_cell, expected.rows_with_bad_cell);
  EXPECT_GT(expected.rows_with_bad_cell, 0u);
  EXPECT_EQ(table.fit.rows, expected.fit.rows);
  EXPECT_EQ(table.fit.coefficients, expected.fit.coefficients);
}

// A table of `rows` rows: Ln(Peak score) from `response`, cells from `cells`, both given
// the row number; lines end in `line_end`.
template <typename Response, typename Cells>
std::string HandTable(int column_count, int rows, Response response, Cells cells,
                      const std::string& line_end = "\n") {
  std::string text = "Peak score\tLn(Peak score)";
  for (int column = 0; column < column_count; ++column) text += "\tm" + std::to_string(column);
  text += line_end;
  for (int row = 0; row < rows; ++row) {
    char score[64];
    std::snprintf(score, sizeof score, "1\t%.17g", response(row));
    text += score;
    for (const double cell : cells(row)) {
      std::snprintf(score, sizeof score, "\t%.17g", cell);
      text += score;
    }
    text += line_end;
  }
  return text;
}

TEST(FitPresenceTable, RankDecisionsDoNotDependOnTheScaleOfOtherColumns) {
  auto a = [](int row) { return static_cast<double>((row * 7) % 5); };
  auto b = [](int row) { return static_cast<double>((row * 3) % 4 + row % 2); };
  auto y = [&](int row) { return 1 + 0.3 * a(row) - 0.2 * b(row) + 0.05 * ((row * 13) % 7); };
  using Cells = std::function<std::vector<double>(int)>;
  const struct {
    const char* name;
    int columns;
    int rows;
    Cells cells;
    std::vector<bool> estimated;
  } cases[] = {
      {"constant",
       2,
       40,
       [&](int r) {
         return std::vector<double>{a(r), 3};
       },
       {true, false}},
      {"duplicate",
       3,
       40,
       [&](int r) {
         return std::vector<double>{a(r), b(r), a(r)};
       },
       {true, true, false}},
      {"sum",
       3,
       40,
       [&](int r) {
         return std::vector<double>{a(r), b(r), a(r) + b(r)};
       },
       {true, true, false}},
      {"all zero",
       2,
       40,
       [&](int r) {
         return std::vector<double>{0, a(r)};
       },
       {false, true}},
      {"constant at a large value",
       2,
       40,
       [&](int r) {
         return std::vector<double>{a(r), 123456789.125};
       },
       {true, false}},
      {"a sum plus one count in ten rows",
       3,
       40,
       [&](int r) {
         return std::vector<double>{a(r), b(r), a(r) + b(r) + (r % 10 == 0)};
       },
       {true, true, true}},
      {"a column of 1e8 beside counts",
       2,
       40,
       [&](int r) {
         return std::vector<double>{1e8 * a(r), b(r)};
       },
       {true, true}},
      {"one usable row more than coefficients",
       2,
       4,
       [&](int r) {
         return std::vector<double>{a(r + 1), b(r)};
       },
       {true, true}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    // Carriage returns alone as line ends read as lines too.
    for (const std::string line_end : {"\n", "\r"}) {
      const PresenceFit table = FitText(HandTable(c.columns, c.rows, y, c.cells, line_end));
      ASSERT_EQ(table.status, PresenceFit::Status::kDone);
      EXPECT_EQ(table.fit.rows, static_cast<std::size_t>(c.rows));
      for (std::size_t column = 0; column < c.estimated.size(); ++column) {
        EXPECT_EQ(table.fit.estimated[column + 1], c.estimated[column]) << column;
        if (!c.estimated[column]) {
          EXPECT_EQ(table.fit.coefficients[column + 1], 0.0);
          EXPECT_TRUE(std::isnan(table.fit.standard_errors[column + 1]));
        }
      }
    }
  }
  // One motif found in every peak (NNNN in format 0): the intercept is the mean, and so
  // the prediction whatever the cell holds.
  const PresenceFit every =
      FitText(HandTable(1, 300, y, [](int) { return std::vector<double>{1}; }));
  ASSERT_EQ(every.status, PresenceFit::Status::kDone);
  double mean = 0;
  for (int row = 0; row < 300; ++row) mean += y(row) / 300;
  ExpectClose(mean, every.fit.coefficients[0], "intercept");
  EXPECT_EQ(every.fit.coefficients[1], 0.0);
  // A constant response: nothing to explain, so no R-squared.
  const PresenceFit flat = FitText(HandTable(
      2, 30, [](int) { return 2.5; },
      [&](int r) {
        return std::vector<double>{a(r), b(r)};
      }));
  ASSERT_EQ(flat.status, PresenceFit::Status::kDone);
  EXPECT_TRUE(std::isnan(flat.fit.r_squared));
  EXPECT_TRUE(std::isnan(flat.fit.cross_validated_r_squared));
  EXPECT_EQ(flat.fit.coefficients, (std::vector<double>{2.5, 0, 0}));
}

// The example with one column multiplied by `factor`, its cells written in full.
std::string ScaledColumn(const std::string& text, std::size_t field, double factor) {
  std::istringstream in(text);
  std::string result;
  std::string line;
  std::getline(in, line);
  result = line + "\n";
  while (std::getline(in, line)) {
    std::vector<std::string> fields = Fields(line);
    char cell[64];
    std::snprintf(cell, sizeof cell, "%.17g", std::stod(fields[field]) * factor);
    fields[field] = cell;
    for (std::size_t k = 0; k < fields.size(); ++k) result += (k ? "\t" : "") + fields[k];
    result += "\n";
  }
  return result;
}

TEST(FitPresenceTable, ScalingAColumnScalesOnlyItsCoefficient) {
  const std::string text = ReadFile(kExampleTable);
  const PresenceFit plain = FitText(text);
  ASSERT_EQ(plain.status, PresenceFit::Status::kDone);
  for (const double factor : {1e150, 1e-300}) {
    for (const std::size_t column : {0u, 9u}) {
      SCOPED_TRACE(std::to_string(factor) + " " + std::to_string(column));
      const PresenceFit scaled = FitText(ScaledColumn(text, column + 2, factor));
      ASSERT_EQ(scaled.status, PresenceFit::Status::kDone);
      EXPECT_EQ(scaled.fit.estimated, plain.fit.estimated);
      ExpectClose(plain.fit.r_squared, scaled.fit.r_squared, "R-squared");
      ExpectClose(plain.fit.cross_validated_r_squared, scaled.fit.cross_validated_r_squared,
                  "cross-validated R-squared");
      for (std::size_t term = 0; term < plain.fit.coefficients.size(); ++term) {
        const double back = scaled.fit.coefficients[term] * (term == column + 1 ? factor : 1);
        ExpectClose(plain.fit.coefficients[term], back, "term " + std::to_string(term));
        ExpectClose(plain.fit.p_values[term], scaled.fit.p_values[term], "p");
      }
    }
  }
}

// Every kernel the processor has gives the moments of a two-pass computation over the
// rows of each fold (row i in fold i mod 3), integer blocks bit for bit alike; summed on
// a thread of their own, blocks give the same bits as summed by the reader.
TEST(CrossProducts, EveryKernelGivesEachFoldsMoments) {
  constexpr std::size_t kColumns = 37;
  constexpr std::size_t kRows = 2000;
  constexpr std::size_t kFolds = 3;
  std::mt19937 random(7);
  std::poisson_distribution<int> count(2.0);
  std::vector<std::vector<double>> rows(kRows, std::vector<double>(kColumns + 1));
  for (auto& row : rows) {
    for (double& cell : row) cell = count(random);
  }
  for (const double offset : {0.0, 1e6 + 0.25}) {  // counts, then reals far from zero
    SCOPED_TRACE(offset);
    std::vector<std::vector<double>> table = rows;
    for (auto& row : table) {
      for (std::size_t column = 0; column < kColumns; ++column) {
        if (offset != 0) row[column] = row[column] * 0.5 + offset;
      }
    }
    std::vector<std::vector<Moments>> results;
    for (const KernelChoice kernel :
         {KernelChoice::kScalar, KernelChoice::kAvx2, KernelChoice::kAvx512}) {
      CrossProducts products(kColumns, kFolds, kernel);
      for (const auto& row : table) {
        ASSERT_EQ(products.AddRow(row.data(), row[kColumns]), kColumns + 1);
      }
      results.push_back(products.Finish());
      CrossProducts threaded(kColumns, kFolds, kernel, 2);
      for (const auto& row : table) threaded.AddRow(row.data(), row[kColumns]);
      const std::vector<Moments> threaded_moments = threaded.Finish();
      for (std::size_t fold = 0; fold < kFolds; ++fold) {
        EXPECT_EQ(threaded_moments[fold].products, results.back()[fold].products);
        EXPECT_EQ(threaded_moments[fold].means, results.back()[fold].means);
      }
      const WorkingUnits& units = products.units();
      for (std::size_t fold = 0; fold < kFolds; ++fold) {
        const Moments& moments = results.back()[fold];
        std::vector<double> means(kColumns + 1, 0.0);
        double fold_rows = 0;
        for (std::size_t row = fold; row < kRows; row += kFolds, ++fold_rows) {
          for (std::size_t k = 0; k <= kColumns; ++k) {
            means[k] += (table[row][k] - units.shift[k]) * units.scale[k];
          }
        }
        ASSERT_EQ(moments.rows, fold_rows);
        for (double& mean : means) mean /= fold_rows;
        for (std::size_t i = 0; i <= kColumns; ++i) {
          EXPECT_NEAR(moments.means[i], means[i], 1e-12 * (1 + std::fabs(means[i])));
          for (std::size_t j = 0; j <= kColumns; ++j) {
            double sum = 0;
            for (std::size_t row = fold; row < kRows; row += kFolds) {
              sum += ((table[row][i] - units.shift[i]) * units.scale[i] - means[i]) *
                     ((table[row][j] - units.shift[j]) * units.scale[j] - means[j]);
            }
            EXPECT_NEAR(moments.product(i, j), sum, 1e-10 * (1 + std::fabs(sum))) << i << ' ' << j;
          }
        }
      }
    }
    if (offset == 0) {
      for (const auto& result : results) {
        for (std::size_t fold = 0; fold < kFolds; ++fold) {
          EXPECT_EQ(result[fold].products, results.front()[fold].products);
        }
      }
    }
  }
  // Ranks 1 to 4 of four p-values: 4 p / rank, then the least at and above each rank.
  const std::vector<double> q = BenjaminiHochbergQValues({0.01, std::nan(""), 0.04, 0.03, 0.5});
  EXPECT_EQ(q[0], 0.01 * 4 / 1);
  EXPECT_TRUE(std::isnan(q[1]));
  EXPECT_EQ(q[2], 0.04 * 4 / 3);
  EXPECT_EQ(q[3], 0.04 * 4 / 3);
  EXPECT_EQ(q[4], 0.5);
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
      // Squares that would overflow: a cell of 1e308 among counts, a score of 1e308.
      {"huge.tab", header + "5\t1.6\t1\t0\n5\t1.7\t0\t1\n5\t1.6\t1e308\t2\n",
       "huge.tab:4: motif column A (column 3): the cell 1e308 is too far in magnitude from the "
       "column's other values (beyond a factor of 2^480) for the sums of their squares to be "
       "formed; nothing was fitted\n"},
      {"score.tab", header + "5\t1.6\t1\t0\n5\t1.7\t0\t1\n5\t1e308\t1\t2\n",
       "score.tab:4: Ln(Peak score) (the second column): the cell 1e308 is too far in magnitude "
       "from the column's other values (beyond a factor of 2^480) for the sums of their squares "
       "to be formed; nothing was fitted\n"},
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
  for (const std::string penalty : {"none", "ridge", "lasso", "elastic"}) {
    for (const std::string& presence : {kExampleTable, Path("odd.tab")}) {
      SCOPED_TRACE(presence + " " + penalty);
      ::testing::internal::CaptureStdout();
      ASSERT_EQ(RunMotiffit({"--penalty", penalty, presence, "coefficients.tab"}), 0);
      ASSERT_EQ(RunScorefit({"coefficients.tab", presence, "predicted.tab"}), 0);
      ::testing::internal::GetCapturedStdout();

      // Every coefficient comes back from the text as the very double that was fitted.
      std::ifstream coefficient_file("coefficients.tab");
      std::vector<double> b;
      ASSERT_FALSE(ReadCoefficientTable(coefficient_file, b).has_value());
      FitSettings settings;
      settings.penalty.penalty = penalty == "none"    ? Penalty::kNone
                                 : penalty == "ridge" ? Penalty::kRidge
                                 : penalty == "lasso" ? Penalty::kLasso
                                                      : Penalty::kElastic;
      settings.penalty.alpha = penalty == "ridge" ? 0 : penalty == "lasso" ? 1 : 0.5;
      const PresenceFit table = FitText(ReadFile(presence), settings);
      ASSERT_EQ(table.status, PresenceFit::Status::kDone);
      const std::vector<double>& coefficients =
          penalty == "none" ? table.fit.coefficients : table.penalised.coefficients;
      EXPECT_EQ(b, coefficients);

      std::istringstream predicted(ReadFile("predicted.tab"));
      std::string line;
      std::getline(predicted, line);
      std::size_t rows = 0;
      while (std::getline(predicted, line)) {
        std::vector<std::string> cells = Fields(line);
        const std::string prediction = cells.back();
        cells.pop_back();
        ASSERT_EQ(prediction, PredictionText(cells, coefficients)) << line;
        ++rows;
      }
      EXPECT_EQ(rows, table.fit.rows);
    }
  }
}

}  // namespace
