#include "motiffit/presence_fit.h"

#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <optional>
#include <ostream>
#include <stdexcept>
#include <string_view>

#include "common/coefficient_layout.h"
#include "common/diagnostics.h"
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

// Reads cells from `position` four at a time while they come as one digit and a tab each,
// the usual run of a count table, into values[field_index - 2] on; stops before a cell of
// another shape, before field `width`, or where fewer than eight bytes are left. Each byte
// at an even place of the eight must be a digit and each at an odd place a tab.
inline void ReadOneDigitCells(const char*& position, const char* end, std::size_t width,
                              double* values, std::size_t& field_index) {
  constexpr std::uint64_t kTabs = 0x0900090009000900;
  constexpr std::uint64_t kTabPlaces = 0xff00ff00ff00ff00;
  constexpr std::uint64_t kHighNibbles = 0x00f000f000f000f0;
  constexpr std::uint64_t kDigitHighNibbles = 0x0030003000300030;
  constexpr std::uint64_t kLowNibbles = 0x000f000f000f000f;
  // A low nibble above 9 carries into bit 4 of its byte when 6 is added.
  constexpr std::uint64_t kSix = 0x0006000600060006;
  constexpr std::uint64_t kCarries = 0x0010001000100010;
  while (end - position >= 8 && field_index + 4 <= width) {
    std::uint64_t word;
    std::memcpy(&word, position, sizeof word);
    if constexpr (std::endian::native == std::endian::big) word = __builtin_bswap64(word);
    const std::uint64_t low = word & kLowNibbles;
    if ((word & kTabPlaces) != kTabs || (word & kHighNibbles) != kDigitHighNibbles ||
        ((low + kSix) & kCarries) != 0) {
      return;
    }
    double* cells = values + (field_index - 2);
    cells[0] = static_cast<double>(low & 0xf);
    cells[1] = static_cast<double>((low >> 16) & 0xf);
    cells[2] = static_cast<double>((low >> 32) & 0xf);
    cells[3] = static_cast<double>(low >> 48);
    position += 8;
    field_index += 4;
  }
}

// Reads the fields of a data row: the score columns into `response` (the second) and
// `has_score`, the motif cells into `values` and `has_cells`, fields past `width` not at
// all. Returns the number of fields. A cell of digits alone is read on the spot; any other
// goes through CellNumber.
std::size_t ParseDataRow(std::string_view line, std::size_t width, double* values, double& response,
                         bool& has_score, bool& has_cells) {
  constexpr std::size_t kExactDigits = 15;
  const char* position = line.data();
  const char* const end = position + line.size();
  std::size_t field_index = 0;
  for (;; ++position, ++field_index) {
    if (field_index >= 2) ReadOneDigitCells(position, end, width, values, field_index);
    const char* const start = position;
    std::uint64_t digits = 0;
    while (position != end) {
      const unsigned digit = static_cast<unsigned char>(*position) - static_cast<unsigned>('0');
      if (digit > 9) break;
      digits = digits * 10 + digit;
      ++position;
    }
    std::optional<double> value;
    if (position != start && (position == end || *position == '\t') &&
        static_cast<std::size_t>(position - start) <= kExactDigits) {
      value = static_cast<double>(digits);
    } else {
      const void* tab = std::memchr(position, '\t', static_cast<std::size_t>(end - position));
      position = tab == nullptr ? end : static_cast<const char*>(tab);
      if (field_index < width) {
        value = CellNumber(std::string_view(start, static_cast<std::size_t>(position - start)));
      }
    }
    if (field_index < 2) {
      // The peak score and its logarithm: ln(0) and ln of a negative or missing score are
      // written as -inf and nan, which read as no number.
      has_score = has_score && value.has_value();
      if (value && field_index == 1) response = *value;
    } else if (field_index < width) {
      if (value) {
        values[field_index - 2] = *value;
      } else {
        has_cells = false;
      }
    }
    if (position == end) return field_index + 1;
  }
}

std::string LabelFor(std::string_view header_field, std::size_t field_index) {
  if (header_field.empty() || header_field == kInterceptLabel) {
    return "column " + std::to_string(field_index + 1);
  }
  return std::string(header_field);
}

std::string Plural(std::size_t count, const std::string& noun) {
  return std::to_string(count) + " " + noun + (count == 1 ? "" : "s");
}

// A column label, or the score's name, for messages.
std::string ColumnName(const PresenceFit& table, std::size_t column) {
  if (column >= table.labels.size()) return "Ln(Peak score) (the second column)";
  return "motif column " + table.labels[column] + " (column " + std::to_string(column + 3) + ")";
}

bool AllFinite(const std::vector<double>& values, std::size_t& first_bad) {
  for (std::size_t k = 0; k < values.size(); ++k) {
    if (!std::isfinite(values[k])) {
      first_bad = k;
      return false;
    }
  }
  return true;
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
    case Status::kOutOfRange:
      return ColumnName(table, table.column) + ": the cell " + table.cell +
             " is too far in magnitude from the column's other values (beyond a factor of "
             "2^480) for the sums of their squares to be formed; nothing was fitted";
    case Status::kTooFewRowsForFolds:
      return Plural(table.fit.rows, "usable row") + " (of " + std::to_string(table.data_rows) +
             ") are too few for a penalised fit with " + Plural(table.settings.folds, "fold") +
             "; it needs at least " +
             std::to_string(std::max<std::size_t>(2, table.settings.folds));
    case Status::kNotFinite:
      return "the fit gave a value that is not finite for " +
             (table.column == 0 ? std::string("the intercept")
                                : ColumnName(table, table.column - 1)) +
             "; nothing was written";
  }
  return {};
}

PresenceFit FitPresenceTable(ByteSource& source, const FitSettings& settings) {
  using Status = PresenceFit::Status;
  PresenceFit table;
  table.settings = settings;
  const std::size_t folds = std::max<std::size_t>(1, settings.folds);
  LineReader lines(source, LineEnds::kAny);
  std::unique_ptr<CrossProducts> products;
  std::size_t width = 0;  // fields of the header
  std::vector<double> values;
  std::string_view line;
  while (lines.Next(line)) {
    if (line.find_first_not_of('\t') == std::string_view::npos) continue;
    if (products == nullptr) {
      width = ForEachField(line, [&](std::size_t field_index, std::string_view field) {
        if (field_index >= 2) table.labels.push_back(LabelFor(field, field_index));
      });
      if (width < 2) {
        table.status = Status::kHeaderTooNarrow;
        table.line_number = lines.line_number();
        table.field_count = width;
        return table;
      }
      products =
          std::make_unique<CrossProducts>(width - 2, folds, settings.kernel, settings.threads);
      values.resize(width - 2);
      continue;
    }
    ++table.data_rows;
    bool has_score = true;
    bool has_cells = true;
    double response = 0;
    const std::size_t field_count =
        ParseDataRow(line, width, values.data(), response, has_score, has_cells);
    if (field_count > width) {
      table.status = Status::kRowTooWide;
      table.line_number = lines.line_number();
      table.field_count = field_count;
      return table;
    }
    if (!has_score || field_count < 2) {
      ++table.rows_without_score;
    } else if (field_count < width || !has_cells) {
      ++table.rows_with_bad_cell;
    } else {
      const std::size_t bad = products->AddRow(values.data(), response);
      if (bad <= values.size()) {
        table.status = Status::kOutOfRange;
        table.line_number = lines.line_number();
        table.column = bad;
        ForEachField(line, [&](std::size_t field_index, std::string_view cell) {
          if (field_index == (bad == values.size() ? 1 : bad + 2)) table.cell = Printable(cell);
        });
        return table;
      }
    }
  }
  if (lines.failed()) {
    table.status = Status::kReadFailed;
    return table;
  }
  if (products == nullptr) {
    table.status = Status::kNoHeader;
    return table;
  }
  const std::vector<Moments> fold_moments = products->Finish();
  Moments all(products->column_count());
  for (const Moments& fold : fold_moments) MergeMoments(all, fold);
  const std::vector<Moments> no_folds;
  const std::vector<Moments>& cross_validation = folds >= 2 ? fold_moments : no_folds;
  const std::size_t rows = products->rows();
  table.constant.resize(products->column_count());
  for (std::size_t column = 0; column < table.constant.size(); ++column) {
    table.constant[column] = rows == 0 || IsConstantColumn(all, products->units(), column);
  }

  std::size_t bad_term = 0;
  if (settings.penalty.penalty == Penalty::kNone) {
    table.fit = FitLeastSquares(all, cross_validation, products->units());
    if (!table.fit.fitted) {
      table.status = Status::kNoDegreesOfFreedom;
    } else if (!AllFinite(table.fit.coefficients, bad_term) ||
               !AllFinite(table.fit.standard_errors, bad_term)) {
      // Statistics of the columns without an estimate are NaN by design.
      if (table.fit.estimated[bad_term]) {
        table.status = Status::kNotFinite;
        table.column = bad_term;
      }
    }
    return table;
  }
  table.fit.rows = rows;
  if (rows < std::max<std::size_t>(2, folds)) {
    table.status = Status::kTooFewRowsForFolds;
    return table;
  }
  table.penalised = FitPenalised(all, cross_validation, products->units(), settings.penalty);
  if (!AllFinite(table.penalised.coefficients, bad_term)) {
    table.status = Status::kNotFinite;
    table.column = bad_term;
  }
  return table;
}
