#include "motiffit/presence_fit.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <new>
#include <optional>
#include <ostream>
#include <stdexcept>
#include <string_view>

#include "common/coefficient_layout.h"
#include "common/line_reader.h"
#include "common/number_text.h"

namespace {

// The number at the front of a cell, as Scorefit reads it; empty when there is none. A
// value too large for a double counts as none, so every number read is finite.
std::optional<double> CellNumber(std::string_view cell) {
  // Presence tables are nearly all small counts, and up to 15 digits and nothing else are
  // an integer that a double holds exactly: the general reader would give the same value.
  constexpr std::size_t kExactDigits = 15;
  if (!cell.empty() && cell.size() <= kExactDigits) {
    std::uint64_t value = 0;
    bool digits_only = true;
    for (const char c : cell) {
      const unsigned digit = static_cast<unsigned char>(c) - static_cast<unsigned>('0');
      if (digit > 9) {
        digits_only = false;
        break;
      }
      value = value * 10 + digit;
    }
    if (digits_only) return static_cast<double>(value);
  }
  return ReadLeadingDouble(cell);
}

// Calls `visit` with each field of `line`, split at every tab (two tabs in a row enclose an
// empty field); returns the number of fields.
template <typename Visit>
std::size_t ForEachField(std::string_view line, Visit&& visit) {
  std::size_t field_index = 0;
  std::size_t start = 0;
  for (;;) {
    const std::size_t tab = line.find('\t', start);
    const std::size_t end = tab == std::string_view::npos ? line.size() : tab;
    visit(field_index++, line.substr(start, end - start));
    if (tab == std::string_view::npos) return field_index;
    start = tab + 1;
  }
}

std::string LabelFor(std::string_view header_field, std::size_t field_index) {
  if (header_field.empty() || header_field == kInterceptLabel) {
    return "column " + std::to_string(field_index + 1);
  }
  return std::string(header_field);
}

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

std::string Plural(std::size_t count, const std::string& noun) {
  return std::to_string(count) + " " + noun + (count == 1 ? "" : "s");
}

}  // namespace

std::string ProblemText(const PresenceFit& table) {
  using Status = PresenceFit::Status;
  switch (table.status) {
    case Status::kDone:
    case Status::kReadFailed:  // reported by its own message
      return {};
    case Status::kNoHeader:
      return "holds no header line and no rows to fit";
    case Status::kHeaderTooNarrow:
      return "header has " + Plural(table.field_count, "field") +
             "; a presence table starts with the peak score and its logarithm";
    case Status::kRowTooWide:
      return "data row has " + std::to_string(table.field_count) +
             " tab-separated fields, but the header has " + std::to_string(table.labels.size() + 2);
    case Status::kNoDegreesOfFreedom:
      return "no degrees of freedom left for the fit: " + Plural(table.fit.rows, "usable row") +
             " (of " + std::to_string(table.data_rows) + ") for " +
             Plural(table.fit.rank, "coefficient") + " that can be estimated, intercept included";
  }
  return {};
}

PresenceFit FitPresenceTable(ByteSource& source) {
  using Status = PresenceFit::Status;
  PresenceFit table;
  LineReader lines(source);
  std::unique_ptr<LeastSquares> least_squares;
  std::size_t width = 0;  // fields of the header
  std::vector<double> values;
  std::string_view line;
  std::size_t line_number = 0;
  while (++line_number, lines.Next(line)) {
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.find_first_not_of('\t') == std::string_view::npos) continue;
    if (least_squares == nullptr) {
      width = ForEachField(line, [&](std::size_t field_index, std::string_view field) {
        if (field_index >= 2) table.labels.push_back(LabelFor(field, field_index));
      });
      if (width < 2) {
        table.status = Status::kHeaderTooNarrow;
        table.line_number = line_number;
        table.field_count = width;
        return table;
      }
      least_squares = std::make_unique<LeastSquares>(width - 2);
      values.resize(width - 2);
      continue;
    }
    ++table.data_rows;
    bool has_score = true;
    bool has_cells = true;
    double response = 0;
    const std::size_t field_count =
        ForEachField(line, [&](std::size_t field_index, std::string_view cell) {
          if (field_index >= width) return;
          const std::optional<double> value = CellNumber(cell);
          if (field_index < 2) {
            // The peak score and its logarithm: ln(0) and ln of a negative or missing score
            // are written as -inf and nan, which read as no number.
            has_score = has_score && value.has_value();
            if (value && field_index == 1) response = *value;
          } else if (value) {
            values[field_index - 2] = *value;
          } else {
            has_cells = false;
          }
        });
    if (field_count > width) {
      table.status = Status::kRowTooWide;
      table.line_number = line_number;
      table.field_count = field_count;
      return table;
    }
    if (!has_score || field_count < 2) {
      ++table.rows_without_score;
    } else if (field_count < width || !has_cells) {
      ++table.rows_with_bad_cell;
    } else {
      least_squares->AddRow(values.data(), response);
    }
  }
  if (lines.failed()) {
    table.status = Status::kReadFailed;
    return table;
  }
  if (least_squares == nullptr) {
    table.status = Status::kNoHeader;
    return table;
  }
  table.fit = least_squares->Fit();
  if (!table.fit.fitted) table.status = Status::kNoDegreesOfFreedom;
  return table;
}

void WriteCoefficientTable(const PresenceFit& table, std::ostream& out) {
  const LinearFit& fit = table.fit;
  std::string text = "Least-squares fit of Ln(Peak score) on motif counts\n";
  AppendTitle(text, "Rows used", fit.rows);
  AppendTitle(text, "Rows left out without a score", table.rows_without_score);
  AppendTitle(text, "Rows left out with a motif cell missing or not a number",
              table.rows_with_bad_cell);
  text += "Coefficients estimated\t" + std::to_string(fit.rank) + " of " +
          std::to_string(fit.coefficients.size()) + ", intercept included\n";
  text += "Columns without an estimate (all zero, constant or collinear)\t" +
          std::to_string(fit.coefficients.size() - fit.rank);
  for (std::size_t column = 0; column < table.labels.size(); ++column) {
    if (fit.estimated[column + 1]) continue;
    text += '\t';
    text += table.labels[column];
  }
  text += '\n';
  AppendTitle(text, "R-squared", fit.r_squared);
  AppendTitle(text, "Adjusted R-squared", fit.adjusted_r_squared);
  AppendTitle(text, "Residual SE", fit.residual_standard_error);
  AppendTitle(text, "Degrees of freedom", fit.degrees_of_freedom);
  text += "\nTerm\tStandardised\tStd. error\tCoefficient\tStd. error\tt value\tp value\n";
  // The intercept's estimate is in the field where Scorefit reads it.
  static_assert(kInterceptField == 1);
  text += kInterceptLabel;
  text += '\t';
  AppendExact(text, fit.coefficients[0]);
  for (const double figure : {fit.standard_errors[0], fit.t_values[0], fit.p_values[0]}) {
    text += '\t';
    AppendFigure(text, figure);
  }
  text += '\n';
  out << text;
  // One line per motif column, in table order, the coefficient in the field where Scorefit
  // reads it.
  static_assert(kCoefficientField == 3);
  for (std::size_t column = 0; column < table.labels.size(); ++column) {
    const std::size_t term = column + 1;
    text = table.labels[column];
    text += '\t';
    AppendFigure(text, fit.standardised[column]);
    text += '\t';
    AppendFigure(text, fit.standardised_errors[column]);
    text += '\t';
    AppendExact(text, fit.coefficients[term]);
    for (const double figure :
         {fit.standard_errors[term], fit.t_values[term], fit.p_values[term]}) {
      text += '\t';
      AppendFigure(text, figure);
    }
    out << text << '\n';
  }
  out.flush();
}
