#include "motifconv/position_matrix.h"

#include <charconv>
#include <cmath>
#include <utility>

#include "common/diagnostics.h"

namespace {

constexpr std::string_view kBlanks = " \t\r";

std::string_view Trim(std::string_view text) {
  const std::size_t first = text.find_first_not_of(kBlanks);
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(kBlanks) - first + 1);
}

// The words of a line, split on blanks and tabs.
std::vector<std::string_view> Words(std::string_view line) {
  std::vector<std::string_view> words;
  std::size_t start = line.find_first_not_of(kBlanks);
  while (start != std::string_view::npos) {
    const std::size_t end = line.find_first_of(kBlanks, start);
    words.push_back(line.substr(start, end - start));
    if (end == std::string_view::npos) break;
    start = line.find_first_not_of(kBlanks, end);
  }
  return words;
}

// A whole word read as a number, as the matrix files write them ("12", "0.25", "1e-3").
std::optional<double> Number(std::string_view word) {
  if (!word.empty() && word.front() == '+') word.remove_prefix(1);
  double value = 0;
  const char* end = word.data() + word.size();
  const auto [stop, error] = std::from_chars(word.data(), end, value);
  if (word.empty() || error != std::errc() || stop != end) return std::nullopt;
  return value;
}

// A word of the input as a message quotes it.
std::string Quoted(std::string_view word) {
  std::string quoted(1, '\'');
  quoted += Printable(word);
  quoted += '\'';
  return quoted;
}

bool AllNumbers(const std::vector<std::string_view>& words) {
  if (words.empty()) return false;
  for (const std::string_view word : words) {
    if (!Number(word)) return false;
  }
  return true;
}

// A, C, G, T as 0 to 3 (either case); -1 for anything else.
int BaseIndex(std::string_view word) {
  if (word.size() != 1) return -1;
  switch (word[0]) {
    case 'A':
    case 'a':
      return 0;
    case 'C':
    case 'c':
      return 1;
    case 'G':
    case 'g':
      return 2;
    case 'T':
    case 't':
      return 3;
    default:
      return -1;
  }
}

std::string Joined(const std::vector<std::string_view>& words, std::size_t first) {
  std::string joined;
  for (std::size_t i = first; i < words.size(); ++i) {
    if (!joined.empty()) joined += ' ';
    joined += words[i];
  }
  return joined;
}

// Lines with their numbers and the carriage return of a CR LF file dropped.
class LineSource {
 public:
  explicit LineSource(std::istream& in) : in_(in) {}
  bool Next() {
    if (replay_) {
      replay_ = false;
      return true;
    }
    if (!std::getline(in_, line_)) return false;
    ++number_;
    if (!line_.empty() && line_.back() == '\r') line_.pop_back();
    return true;
  }
  // The next call of Next gives the current line again.
  void Unread() { replay_ = true; }
  const std::string& line() const { return line_; }
  std::size_t number() const { return number_; }

 private:
  std::istream& in_;
  std::string line_;
  std::size_t number_ = 0;
  bool replay_ = false;
};

// Reads the numbers of one row into `row`; the problem when one is not a usable number.
std::optional<std::string> RowNumbers(const std::vector<std::string_view>& words,
                                      std::vector<double>& row) {
  row.clear();
  for (const std::string_view word : words) {
    const auto value = Number(word);
    if (!value) return Quoted(word) + " is not a number";
    if (!std::isfinite(*value) || *value < 0) {
      return Quoted(word) + " is not a count or frequency (negative or not finite)";
    }
    row.push_back(*value);
  }
  return std::nullopt;
}

// Every position must hold something, or it has no base to name.
std::optional<LineError> CheckPositions(const PositionMatrix& matrix) {
  if (matrix.positions.empty()) {
    return LineError{matrix.line_number, "matrix '" + Printable(matrix.name) + "' has no position"};
  }
  for (std::size_t i = 0; i < matrix.positions.size(); ++i) {
    const auto& position = matrix.positions[i];
    if (position[0] + position[1] + position[2] + position[3] <= 0) {
      return LineError{matrix.line_number, "matrix '" + Printable(matrix.name) + "': position " +
                                               std::to_string(i + 1) + " holds only zeros"};
    }
  }
  return std::nullopt;
}

// JASPAR: an optional ">ID name" header, then four rows, either "A [ 1 2 3 ]" with a base
// letter (in any order, brackets and a colon optional) or numbers alone in the order A, C,
// G, T. The column totals give the number of sites.
class JasparReader {
 public:
  explicit JasparReader(std::vector<PositionMatrix>& matrices) : matrices_(matrices) {}

  std::optional<LineError> Line(std::string_view line, std::size_t line_number) {
    const std::string_view text = Trim(line);
    if (text.empty()) return std::nullopt;
    if (text.front() == '>') {
      if (auto error = Finish()) return error;
      Start(line_number, Joined(Words(text.substr(1)), 0));
      return std::nullopt;
    }
    std::vector<std::string_view> words = Words(text);
    int base = -1;
    if (!Number(words.front())) {
      // "A [", "A:[", "A[": the letter, then the numbers between the brackets.
      std::string row_text(text);
      for (char& c : row_text) {
        if (c == '[' || c == ']' || c == ':') c = ' ';
      }
      base_words_ = std::move(row_text);
      words = Words(base_words_);
      base = BaseIndex(words.front());
      if (base < 0) {
        return LineError{line_number,
                         "expected a row of numbers, or 'A [', 'C [', 'G [' or "
                         "'T [' and numbers, found '" +
                             Printable(words.front()) + "'"};
      }
      words.erase(words.begin());
    }
    if (open_ && rows_seen_ == 4 && headed_) {
      return LineError{line_number, "a fifth row in matrix '" + Printable(matrices_.back().name) +
                                        "'; a DNA matrix has four (A, C, G, T)"};
    }
    // Plain count matrices without headers follow each other four rows at a time.
    if (!open_ || rows_seen_ == 4) Start(line_number, "");
    if (base < 0) base = rows_seen_;
    if (filled_[base]) {
      return LineError{line_number, std::string("a second row for ") + "ACGT"[base]};
    }
    std::vector<double> row;
    if (auto problem = RowNumbers(words, row)) return LineError{line_number, *problem};
    if (row.empty()) return LineError{line_number, "a row without numbers"};
    PositionMatrix& matrix = matrices_.back();
    if (rows_seen_ == 0) {
      matrix.positions.assign(row.size(), {0, 0, 0, 0});
    } else if (row.size() != matrix.positions.size()) {
      return LineError{line_number, "row of " + std::to_string(row.size()) +
                                        " numbers, but the matrix's first row has " +
                                        std::to_string(matrix.positions.size())};
    }
    for (std::size_t i = 0; i < row.size(); ++i) matrix.positions[i][base] = row[i];
    filled_[base] = true;
    ++rows_seen_;
    return std::nullopt;
  }

  std::optional<LineError> Finish() {
    if (!open_) return std::nullopt;
    open_ = false;
    const PositionMatrix& matrix = matrices_.back();
    if (rows_seen_ != 4) {
      return LineError{matrix.line_number, "matrix '" + Printable(matrix.name) + "' has " +
                                               std::to_string(rows_seen_) +
                                               (rows_seen_ == 1 ? " row" : " rows") +
                                               "; a DNA matrix has four (A, C, G, T)"};
    }
    if (auto error = CheckPositions(matrix)) return error;
    const auto& first = matrix.positions.front();
    matrices_.back().sites = first[0] + first[1] + first[2] + first[3];
    return std::nullopt;
  }

 private:
  void Start(std::size_t line_number, std::string name) {
    PositionMatrix matrix;
    matrix.line_number = line_number;
    headed_ = !name.empty();
    matrix.name = name.empty() ? "matrix " + std::to_string(matrices_.size() + 1) : std::move(name);
    matrices_.push_back(std::move(matrix));
    open_ = true;
    rows_seen_ = 0;
    filled_ = {false, false, false, false};
  }

  std::vector<PositionMatrix>& matrices_;
  std::string base_words_;
  bool open_ = false;
  bool headed_ = false;
  std::size_t rows_seen_ = 0;
  std::array<bool, 4> filled_ = {false, false, false, false};
};

// Position rows of four numbers (A, C, G, T) appended to the last matrix.
std::optional<LineError> AppendPositionRow(const std::vector<std::string_view>& words,
                                           std::size_t line_number, PositionMatrix& matrix) {
  std::vector<double> row;
  if (auto problem = RowNumbers(words, row)) return LineError{line_number, *problem};
  if (row.size() != 4) {
    return LineError{line_number, "position row of " + std::to_string(row.size()) +
                                      " numbers; a DNA matrix row has four (A, C, G, T)"};
  }
  matrix.positions.push_back({row[0], row[1], row[2], row[3]});
  return std::nullopt;
}

// HOMER: a header ">CONSENSUS<TAB>NAME<TAB>THRESHOLD..." and one row of four frequencies
// per position.
std::optional<LineError> ReadHomer(LineSource& lines, std::vector<PositionMatrix>& matrices) {
  bool open = false;
  while (lines.Next()) {
    const std::string_view text = Trim(lines.line());
    if (text.empty()) continue;
    if (text.front() == '>') {
      if (open) {
        if (auto error = CheckPositions(matrices.back())) return error;
      }
      std::vector<std::string_view> fields;
      std::string_view rest = text.substr(1);
      for (std::size_t tab; (tab = rest.find('\t')) != std::string_view::npos;) {
        fields.push_back(Trim(rest.substr(0, tab)));
        rest.remove_prefix(tab + 1);
      }
      fields.push_back(Trim(rest));
      PositionMatrix matrix;
      matrix.line_number = lines.number();
      matrix.name = std::string(fields.size() > 1 && !fields[1].empty() ? fields[1] : fields[0]);
      matrices.push_back(std::move(matrix));
      open = true;
      continue;
    }
    if (!open) {
      return LineError{lines.number(), "a row before the first '>' header of a HOMER motif"};
    }
    if (auto error = AppendPositionRow(Words(text), lines.number(), matrices.back())) {
      return error;
    }
  }
  if (open) return CheckPositions(matrices.back());
  return std::nullopt;
}

// "key= value" pairs of a MEME matrix line: the value after `key`, if any.
std::optional<double> MemeValue(const std::vector<std::string_view>& words, std::string_view key) {
  for (std::size_t i = 0; i < words.size(); ++i) {
    if (words[i] == key && i + 1 < words.size()) return Number(words[i + 1]);
    if (words[i].starts_with(key) && words[i].size() > key.size()) {
      return Number(words[i].substr(key.size()));
    }
  }
  return std::nullopt;
}

// Minimal MEME: "MOTIF ID [ALT]", then "letter-probability matrix: alength= 4 w= W
// nsites= N", then W rows of four probabilities; anything else between motifs is skipped.
std::optional<LineError> ReadMeme(LineSource& lines, std::vector<PositionMatrix>& matrices) {
  enum class State { kBetween, kMotif, kRows };
  State state = State::kBetween;
  std::optional<double> width;
  auto finish_motif = [&]() -> std::optional<LineError> {
    if (state == State::kBetween) return std::nullopt;
    const PositionMatrix& matrix = matrices.back();
    if (state == State::kMotif) {
      return LineError{matrix.line_number,
                       "motif '" + Printable(matrix.name) + "' has no letter-probability matrix"};
    }
    if (width && static_cast<double>(matrix.positions.size()) != *width) {
      return LineError{matrix.line_number, "motif '" + Printable(matrix.name) + "' has " +
                                               std::to_string(matrix.positions.size()) +
                                               " rows, but its matrix line says w= " +
                                               std::to_string(static_cast<long long>(*width))};
    }
    return CheckPositions(matrix);
  };
  while (lines.Next()) {
    const std::vector<std::string_view> words = Words(lines.line());
    if (words.empty()) {
      if (state == State::kRows && !matrices.back().positions.empty() && !width) {
        if (auto error = finish_motif()) return error;
        state = State::kBetween;
      }
      continue;
    }
    if (words[0] == "MOTIF") {
      if (auto error = finish_motif()) return error;
      if (words.size() < 2) return LineError{lines.number(), "MOTIF without a name"};
      PositionMatrix matrix;
      matrix.line_number = lines.number();
      matrix.name = Joined(words, 1);
      matrices.push_back(std::move(matrix));
      state = State::kMotif;
      width.reset();
      continue;
    }
    if (words[0].starts_with("ALPHABET")) {
      const std::string alphabet = Joined(words, 0);
      if (alphabet != "ALPHABET= ACGT" && alphabet != "ALPHABET=ACGT") {
        return LineError{lines.number(), "alphabet '" + Printable(alphabet) +
                                             "'; only DNA (ALPHABET= ACGT) is read"};
      }
      continue;
    }
    if (state != State::kMotif && words[0] == "letter-probability") {
      return LineError{lines.number(), "a letter-probability matrix outside a MOTIF"};
    }
    if (words[0] == "letter-probability") {
      if (const auto letters = MemeValue(words, "alength="); letters && *letters != 4) {
        return LineError{lines.number(), "alength= " + std::string(words.back()) +
                                             "; a DNA matrix has four letters"};
      }
      width = MemeValue(words, "w=");
      matrices.back().sites = MemeValue(words, "nsites=").value_or(0);
      state = State::kRows;
      continue;
    }
    if (state == State::kRows) {
      const bool full = width && static_cast<double>(matrices.back().positions.size()) >= *width;
      if (!full && AllNumbers(words)) {
        if (auto error = AppendPositionRow(words, lines.number(), matrices.back())) return error;
        continue;
      }
      if (!full && (width || matrices.back().positions.empty())) {
        return LineError{lines.number(), "expected a row of four probabilities of motif '" +
                                             Printable(matrices.back().name) + "'"};
      }
      if (auto error = finish_motif()) return error;
      state = State::kBetween;
    }
    // Background frequencies, URL lines, log-odds matrices and the like say nothing of the
    // words.
  }
  return finish_motif();
}

// TRANSFAC: records of two-letter line codes ended by "//"; "AC" and "ID" name the matrix,
// "P0" (or "PO") names the base of each column, and the numbered rows after it hold one
// position each. Records without a matrix (a file's version record) are skipped.
std::optional<LineError> ReadTransfac(LineSource& lines, std::vector<PositionMatrix>& matrices) {
  std::string accession;
  std::string identifier;
  PositionMatrix matrix;
  std::array<int, 4> column_base{};
  bool in_rows = false;
  bool has_matrix = false;
  auto finish_record = [&]() -> std::optional<LineError> {
    in_rows = false;
    if (has_matrix) {
      std::string name = accession;
      if (!identifier.empty()) name += (name.empty() ? "" : " ") + identifier;
      matrix.name = name.empty() ? "matrix " + std::to_string(matrices.size() + 1) : name;
      if (auto error = CheckPositions(matrix)) return error;
      double sites = 0;
      for (const double value : matrix.positions.front()) sites += value;
      matrix.sites = sites;
      matrices.push_back(std::move(matrix));
    }
    matrix = PositionMatrix{};
    accession.clear();
    identifier.clear();
    has_matrix = false;
    return std::nullopt;
  };
  while (lines.Next()) {
    const std::vector<std::string_view> words = Words(lines.line());
    if (words.empty()) continue;
    const std::string_view code = words[0];
    if (in_rows && !code.empty() &&
        code.find_first_not_of("0123456789") == std::string_view::npos) {
      if (words.size() < 5) {
        return LineError{lines.number(), "position row with " + std::to_string(words.size() - 1) +
                                             " numbers; the P0 line names four columns"};
      }
      const std::size_t expected = matrix.positions.size() + 1;
      if (std::stoul(std::string(code)) != expected) {
        return LineError{lines.number(), "position " + std::string(code) + " where position " +
                                             std::to_string(expected) + " was due"};
      }
      std::vector<double> row;
      const std::vector<std::string_view> numbers(words.begin() + 1, words.begin() + 5);
      if (auto problem = RowNumbers(numbers, row)) return LineError{lines.number(), *problem};
      std::array<double, 4> position{};
      for (std::size_t column = 0; column < 4; ++column)
        position[column_base[column]] = row[column];
      matrix.positions.push_back(position);
      continue;
    }
    in_rows = false;
    if (code == "//") {
      if (auto error = finish_record()) return error;
    } else if (code == "AC" && words.size() > 1) {
      accession = Joined(words, 1);
    } else if (code == "ID" && words.size() > 1) {
      identifier = Joined(words, 1);
    } else if (code == "P0" || code == "PO") {
      if (has_matrix) return LineError{lines.number(), "a second P0 line in one record"};
      std::array<bool, 4> named = {false, false, false, false};
      if (words.size() != 5) {
        return LineError{lines.number(), "P0 line with " + std::to_string(words.size() - 1) +
                                             " columns; expected A, C, G and T"};
      }
      for (std::size_t column = 0; column < 4; ++column) {
        const int base = BaseIndex(words[column + 1]);
        if (base < 0 || named[base]) {
          return LineError{lines.number(), "P0 line names '" + Printable(words[column + 1]) +
                                               "'; expected A, C, G and T, each once"};
        }
        named[base] = true;
        column_base[column] = base;
      }
      matrix.line_number = lines.number();
      has_matrix = true;
      in_rows = true;
    }
  }
  return finish_record();
}

// The format that the first line that is not blank shows.
std::optional<MatrixFormat> Detect(std::string_view first_line) {
  const std::string_view text = Trim(first_line);
  if (text.starts_with("MEME version")) return MatrixFormat::kMeme;
  if (text.front() == '>') {
    // HOMER's header has a third tab-separated field, the score threshold.
    std::size_t tabs = 0;
    std::size_t third_start = 0;
    std::size_t third_end = text.size();
    for (std::size_t i = 0; i < text.size(); ++i) {
      if (text[i] != '\t') continue;
      ++tabs;
      if (tabs == 2) third_start = i + 1;
      if (tabs == 3) {
        third_end = i;
        break;
      }
    }
    if (tabs >= 2 && Number(Trim(text.substr(third_start, third_end - third_start)))) {
      return MatrixFormat::kHomer;
    }
    return MatrixFormat::kJaspar;
  }
  const std::vector<std::string_view> words = Words(text);
  static constexpr std::string_view kTransfacCodes[] = {"AC", "ID", "NA", "DE", "P0", "PO",
                                                        "XX", "//", "VV", "BF", "CC", "BA"};
  for (const std::string_view code : kTransfacCodes) {
    if (words.front() == code) return MatrixFormat::kTransfac;
  }
  if (Number(words.front())) return MatrixFormat::kJaspar;
  std::string_view first = words.front();
  if (!first.empty() && BaseIndex(first.substr(0, 1)) >= 0 &&
      (first.size() == 1 || first[1] == '[' || first[1] == ':')) {
    return MatrixFormat::kJaspar;
  }
  return std::nullopt;
}

}  // namespace

std::optional<MatrixFormat> MatrixFormatNamed(std::string_view name) {
  for (const MatrixFormat format : {MatrixFormat::kAuto, MatrixFormat::kJaspar, MatrixFormat::kMeme,
                                    MatrixFormat::kHomer, MatrixFormat::kTransfac}) {
    if (MatrixFormatName(format) == name) return format;
  }
  return std::nullopt;
}

std::string_view MatrixFormatName(MatrixFormat format) {
  switch (format) {
    case MatrixFormat::kAuto:
      return "auto";
    case MatrixFormat::kJaspar:
      return "jaspar";
    case MatrixFormat::kMeme:
      return "meme";
    case MatrixFormat::kHomer:
      return "homer";
    case MatrixFormat::kTransfac:
      return "transfac";
  }
  return "auto";
}

std::optional<LineError> ReadMatrices(std::istream& in, MatrixFormat& format,
                                      std::vector<PositionMatrix>& matrices) {
  LineSource lines(in);
  const std::size_t first_new = matrices.size();
  // The first line that is not blank decides the format, and is then read as any other.
  bool have_line = false;
  while (lines.Next()) {
    if (!Trim(lines.line()).empty()) {
      have_line = true;
      break;
    }
  }
  if (!have_line) return LineError{0, "holds no matrix"};
  if (format == MatrixFormat::kAuto) {
    const auto detected = Detect(lines.line());
    if (!detected) {
      return LineError{lines.number(),
                       "not a matrix file that is read: the first line starts none of JASPAR "
                       "('>ID name', 'A [', a row of numbers), MEME ('MEME version'), HOMER "
                       "('>WORD<TAB>NAME<TAB>SCORE') or TRANSFAC ('AC', 'ID', 'P0' ...)"};
    }
    format = *detected;
  }
  lines.Unread();
  switch (format) {
    case MatrixFormat::kJaspar: {
      JasparReader reader(matrices);
      while (lines.Next()) {
        if (auto error = reader.Line(lines.line(), lines.number())) return error;
      }
      if (auto error = reader.Finish()) return error;
      break;
    }
    case MatrixFormat::kMeme:
      if (auto error = ReadMeme(lines, matrices)) return error;
      break;
    case MatrixFormat::kHomer:
      if (auto error = ReadHomer(lines, matrices)) return error;
      break;
    case MatrixFormat::kTransfac:
    case MatrixFormat::kAuto:
      if (auto error = ReadTransfac(lines, matrices)) return error;
      break;
  }
  if (matrices.size() == first_new) return LineError{0, "holds no matrix"};
  return std::nullopt;
}
