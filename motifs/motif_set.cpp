#include "motifs/motif_set.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <istream>
#include <memory>
#include <ostream>

#include "common/counted_append.h"
#include "common/diagnostics.h"
#include "common/input_source.h"
#include "common/number_text.h"

namespace {

constexpr std::string_view kMotifFirstLetters = "ATGCRYMKWSBVHDNatgcrymkwsbvhdn";

// The character as a reader can see it in a message: itself when printable, else its byte.
std::string ShowCharacter(char c) {
  const auto byte = static_cast<unsigned char>(c);
  if (byte > 32 && byte < 127) return std::string("'") + c + "'";
  if (c == ' ') return "a blank";
  if (c == '\t') return "a tab";
  if (c == '\r') return "a carriage return";
  char text[16];
  std::snprintf(text, sizeof text, "byte 0x%02X", byte);
  return text;
}

IUPAC_Motif& GrowByCopyOf(MotifSet& set, const IUPAC_Motif& motif) {
  IUPAC_Motif& added = set.AppendMotif();
  added.CopyFrom(motif);
  return added;
}

}  // namespace

std::optional<LineError> ReadMotifs(std::istream& in, MotifSet& set) {
  IUPAC_Motif motif;
  std::string line;
  std::string problem;
  std::size_t line_number = 0;
  while (std::getline(in, line)) {
    ++line_number;
    switch (ParseMotifLine(line, motif, problem)) {
      case MotifLineKind::kMotif:
        if (!CanAppendCounted(set.count)) {
          return LineError{line_number, "more motifs than a motif set holds (" +
                                            std::to_string(kMostCountedItems) + ")"};
        }
        GrowByCopyOf(set, motif);
        break;
      case MotifLineKind::kNotMotifLine:
        return std::nullopt;
      case MotifLineKind::kMalformed:
        return LineError{line_number, problem};
    }
  }
  return std::nullopt;
}

MotifLineKind ParseMotifLine(const std::string& line, IUPAC_Motif& motif, std::string& problem,
                             std::size_t longest) {
  if (line.empty() || kMotifFirstLetters.find(line[0]) == std::string_view::npos) {
    return MotifLineKind::kNotMotifLine;
  }
  const std::size_t tab = line.find('\t');
  std::string text = line.substr(0, tab);
  if (tab == std::string::npos && !text.empty() && text.back() == '\r') text.pop_back();

  if (text.size() > longest) {
    problem = "motif of " + std::to_string(text.size()) + " letters; the longest motif read is " +
              std::to_string(longest) + " letters";
    return MotifLineKind::kMalformed;
  }
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (CharToMotifCode(text[i]) == kNotNucleotide) {
      problem = "motif '" + Printable(text) + "' holds " + ShowCharacter(text[i]) +
                " at position " + std::to_string(i + 1) +
                ", which is not an IUPAC symbol (one of ATGCRYMKWSBVHDN-+)";
      return MotifLineKind::kMalformed;
    }
  }

  double values[3] = {0, 0, 0};
  if (tab != std::string::npos) {
    // Each number ends where the conversion stops; the next one is read from there.
    std::string_view rest = std::string_view(line).substr(tab + 1);
    for (std::size_t k = 0; k < 3; ++k) {
      std::size_t consumed = 0;
      if (!ReadStrtodDouble(rest, values[k], consumed)) {
        problem = "expected three numbers after the tab of motif '" + Printable(text) +
                  "', found " + std::to_string(k) +
                  " (a number is missing, unreadable or out of range)";
        return MotifLineKind::kMalformed;
      }
      rest.remove_prefix(consumed);
    }
  }
  motif.InitFromString(text);
  motif.value1 = values[0];
  motif.value2 = values[1];
  motif.value3 = values[2];
  return MotifLineKind::kMotif;
}

MotifSet::MotifSet(std::uint32_t n) : motifs(n), count(n) {}

MotifSet::MotifSet(std::uint32_t n, std::uint32_t length) : motifs(n), count(n) {
  for (IUPAC_Motif& motif : motifs) motif.InitLength(length);
}

IUPAC_Motif& MotifSet::AppendMotif() { return AppendCounted(count, motifs); }

int MotifSet::fload(std::string file_name) {
  std::string problem;
  const std::unique_ptr<ByteSource> source = OpenInputSource(file_name, problem);
  if (source == nullptr && problem.empty()) ExitCannotOpen(file_name);
  if (source == nullptr) ExitBadInput(file_name, 0, problem);
  SourceStream in(*source);
  if (const auto error = ReadMotifs(in, *this)) ExitBadInput(file_name, *error);
  if (in.failed()) {
    PrintReadProblem(file_name, *source);
    std::exit(1);
  }
  name = file_name;
  return 0;
}

int MotifSet::fsave(std::string file_name) const {
  std::ofstream out(file_name);
  if (!out) ExitCannotOpen(file_name);
  out << *this;
  return 0;
}

void MotifSet::PrintWithValues(std::ostream& out, int strand, int raw, int asIntegers) const {
  for (const IUPAC_Motif& motif : motifs) {
    motif.PrintWithValues(out, strand, raw, asIntegers);
    out << std::endl;
  }
}

std::istream& operator>>(std::istream& in, IUPAC_Motif& motif) {
  std::string line;
  if (!std::getline(in, line)) return in;
  std::string problem;
  if (ParseMotifLine(line, motif, problem) == MotifLineKind::kMalformed) {
    in.setstate(std::ios::failbit);
  }
  return in;
}

std::istream& operator>>(std::istream& in, MotifSet& set) {
  if (ReadMotifs(in, set)) in.setstate(std::ios::failbit);
  return in;
}

std::ostream& operator<<(std::ostream& out, const MotifSet& set) {
  for (const IUPAC_Motif& motif : set.motifs) out << motif << std::endl;
  return out;
}
