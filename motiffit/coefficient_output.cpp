#include "motiffit/coefficient_output.h"

#include <array>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <ostream>
#include <string>
#include <string_view>

#include "common/coefficient_layout.h"

namespace {

// The shortest text that reads back as the same double.
void AppendExact(std::string& text, double value) {
  char buffer[64];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  text.append(buffer, result.ptr);
}

// A statistic for people to read: six significant digits, "NA" where there is none.
void AppendFigure(std::string& text, double value) {
  if (std::isnan(value)) {
    text += "NA";
    return;
  }
  char buffer[32];
  const int length = std::snprintf(buffer, sizeof buffer, "%.6g", value);
  text.append(buffer, static_cast<std::size_t>(length));
}

void AppendTitle(std::string& text, std::string_view title, std::size_t count) {
  text += title;
  text += '\t';
  text += std::to_string(count);
  text += '\n';
}

void AppendTitle(std::string& text, std::string_view title, double figure) {
  text += title;
  text += '\t';
  AppendFigure(text, figure);
  text += '\n';
}

std::string PenaltyName(Penalty penalty) {
  switch (penalty) {
    case Penalty::kNone:
      return "none";
    case Penalty::kRidge:
      return "ridge";
    case Penalty::kLasso:
      return "lasso";
    case Penalty::kElastic:
      return "elastic";
  }
  return {};
}

std::string FitTitle(Penalty penalty) {
  switch (penalty) {
    case Penalty::kNone:
      return "Least-squares fit";
    case Penalty::kRidge:
      return "Ridge fit";
    case Penalty::kLasso:
      return "Lasso fit";
    case Penalty::kElastic:
      return "Elastic-net fit";
  }
  return {};
}

std::string CrossValidatedTitle(std::size_t folds) {
  return "R-squared (cross-validated, " + std::to_string(folds) + " folds)";
}

void AppendColumnsWithout(std::string& text, const PresenceFit& table,
                          const std::vector<bool>& estimated) {
  for (std::size_t column = 0; column < table.labels.size(); ++column) {
    if (estimated[column + 1]) continue;
    text += '\t';
    text += table.labels[column];
  }
  text += '\n';
}

}  // namespace

void WriteCoefficientTable(const PresenceFit& table, std::ostream& out) {
  const Penalty penalty = table.settings.penalty.penalty;
  const bool penalised = penalty != Penalty::kNone;
  const LinearFit& fit = table.fit;
  const std::size_t folds = table.settings.folds;
  const std::size_t columns = table.labels.size();
  std::string text = FitTitle(penalty) + " of Ln(Peak score) on motif counts\n";
  AppendTitle(text, "Rows used", fit.rows);
  AppendTitle(text, "Rows left out without a score", table.rows_without_score);
  AppendTitle(text, "Rows left out with a motif cell missing or not a number",
              table.rows_with_bad_cell);
  std::vector<double> coefficients;
  std::vector<double> standardised;
  if (!penalised) {
    coefficients = fit.coefficients;
    standardised = fit.standardised;
    text += "Coefficients estimated\t" + std::to_string(fit.rank) + " of " +
            std::to_string(columns + 1) + ", intercept included\n";
    text += "Columns without an estimate (all zero, constant or collinear)\t" +
            std::to_string(columns + 1 - fit.rank);
    AppendColumnsWithout(text, table, fit.estimated);
    AppendTitle(text, "R-squared (in-sample)", fit.r_squared);
    if (folds >= 2) AppendTitle(text, CrossValidatedTitle(folds), fit.cross_validated_r_squared);
    AppendTitle(text, "Adjusted R-squared", fit.adjusted_r_squared);
    AppendTitle(text, "Residual SE", fit.residual_standard_error);
    AppendTitle(text, "Degrees of freedom", fit.degrees_of_freedom);
  } else {
    const PenalisedFit& penalised_fit = table.penalised;
    coefficients = penalised_fit.coefficients;
    standardised = penalised_fit.standardised;
    text += "Penalty\t" + PenaltyName(penalty) + '\n';
    AppendTitle(text, "Alpha", table.settings.penalty.alpha);
    text += "Lambda\t";
    AppendFigure(text, penalised_fit.lambda);
    if (table.settings.penalty.lambda) {
      text += "\tgiven\n";
    } else if (penalised_fit.path.empty()) {
      text += "\tno path: the response or every column is constant\n";
    } else if (table.settings.penalty.one_standard_error) {
      text += "\tlargest within one standard error of the least cross-validated error\n";
    } else {
      text += "\tleast cross-validated error\n";
    }
    text += "Motifs kept\t" + std::to_string(penalised_fit.kept) + " of " +
            std::to_string(columns) + '\n';
    std::vector<bool> estimated(columns + 1, true);
    std::size_t constant = 0;
    for (std::size_t column = 0; column < columns; ++column) {
      estimated[column + 1] = !table.constant[column];
      constant += table.constant[column];
    }
    text += "Columns without an estimate (all zero or constant)\t" + std::to_string(constant);
    AppendColumnsWithout(text, table, estimated);
    AppendTitle(text, "R-squared (in-sample)", penalised_fit.r_squared);
    if (folds >= 2) {
      AppendTitle(text, CrossValidatedTitle(folds), penalised_fit.cross_validated_r_squared);
    }
  }
  text += "\nTerm\tStandardised\tStd. error\tCoefficient\tStd. error\tt value\tp value\tq value\n";
  // The intercept's estimate is in the field where Scorefit reads it.
  static_assert(kInterceptField == 1);
  text += kInterceptLabel;
  text += '\t';
  AppendExact(text, coefficients[0]);
  for (std::size_t field = 0; field < 3; ++field) {
    text += '\t';
    AppendFigure(text, penalised ? std::nan("")
                                 : std::array{fit.standard_errors[0], fit.t_values[0],
                                              fit.p_values[0]}[field]);
  }
  text += '\n';
  out << text;
  // One line per motif column, in table order, the coefficient in the field where Scorefit
  // reads it.
  static_assert(kCoefficientField == 3);
  const double none = std::nan("");
  for (std::size_t column = 0; column < columns; ++column) {
    const std::size_t term = column + 1;
    text = table.labels[column];
    text += '\t';
    AppendFigure(text, standardised[column]);
    text += '\t';
    AppendFigure(text, penalised ? none : fit.standardised_errors[column]);
    text += '\t';
    AppendExact(text, coefficients[term]);
    for (const double figure :
         {penalised ? none : fit.standard_errors[term], penalised ? none : fit.t_values[term],
          penalised ? none : fit.p_values[term], penalised ? none : fit.q_values[term]}) {
      text += '\t';
      AppendFigure(text, figure);
    }
    out << text << '\n';
  }
  out.flush();
}

void WritePathTable(const PresenceFit& table, std::ostream& out) {
  std::string text = "Lambda\tCV mean squared error\tCV standard error\tMotifs kept\tChosen\n";
  const PenalisedFit& fit = table.penalised;
  for (std::size_t index = 0; index < fit.path.size(); ++index) {
    const PathPoint& point = fit.path[index];
    AppendExact(text, point.lambda);
    text += '\t';
    AppendFigure(text, point.error);
    text += '\t';
    AppendFigure(text, point.error_spread);
    text += '\t';
    text += std::to_string(point.kept);
    text += index == fit.chosen ? "\t1\n" : "\t0\n";
  }
  out << text;
  out.flush();
}
