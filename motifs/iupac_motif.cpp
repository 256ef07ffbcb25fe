#include "motifs/iupac_motif.h"

#include <limits>
#include <ostream>

#include "common/copresence.h"

namespace {

// Truncation toward zero, held to the range of int so that no value is out of range for
// the conversion; NaN prints as 0.
int TruncateToInt(double value) {
  if (!(value == value)) return 0;
  if (value >= static_cast<double>(std::numeric_limits<int>::max())) {
    return std::numeric_limits<int>::max();
  }
  if (value <= static_cast<double>(std::numeric_limits<int>::min())) {
    return std::numeric_limits<int>::min();
  }
  return static_cast<int>(value);
}

}  // namespace

int IUPAC_Motif::InitLength(std::uint32_t n) {
  length = n;
  value1 = value2 = value3 = logRatio = 0;
  found = lastDirection = 0;
  codes.assign(n, 0);
  BuildReverseComplement();
  return 0;
}

int IUPAC_Motif::InitFromString(const std::string& text) {
  // The length is held in 32 bits: a longer text is refused, the motif left as it was.
  if (text.size() > std::numeric_limits<std::uint32_t>::max()) return 1;
  length = static_cast<std::uint32_t>(text.size());
  value1 = value2 = value3 = 0;
  found = lastDirection = 0;
  codes.resize(length);
  for (std::size_t i = 0; i < text.size(); ++i) codes[i] = CharToMotifCode(text[i]);
  BuildReverseComplement();
  return 0;
}

int IUPAC_Motif::BuildReverseComplement() {
  revComplCodes.resize(codes.size());
  for (std::size_t i = 0; i < codes.size(); ++i) {
    revComplCodes[i] = ComplementOf(codes[codes.size() - 1 - i]);
  }
  return 0;
}

int IUPAC_Motif::CopyFrom(const IUPAC_Motif& src) {
  InitLength(src.length);
  codes = src.codes;
  revComplCodes = src.revComplCodes;
  value1 = src.value1;
  value2 = src.value2;
  value3 = src.value3;
  return 0;
}

std::string IUPAC_Motif::MotifString(int strand, int raw) const {
  const std::vector<NucleotideCode>& strand_codes = strand == 0 ? codes : revComplCodes;
  std::string text;
  text.reserve(strand_codes.size());
  for (const NucleotideCode code : strand_codes) {
    text += raw == 0 ? NucleotideLetter(code) : static_cast<char>(code);
  }
  return text;
}

void IUPAC_Motif::Print(std::ostream& out, int strand, int raw) const {
  if (raw == 0) {
    out << MotifString(strand, 0);
    return;
  }
  for (const NucleotideCode code : strand == 0 ? codes : revComplCodes) out << code << ' ';
}

void IUPAC_Motif::PrintValues(std::ostream& out, int asIntegers) const {
  if (asIntegers != 0) {
    out << TruncateToInt(value1) << '\t' << TruncateToInt(value2) << '\t' << TruncateToInt(value3);
  } else {
    out << value1 << '\t' << value2 << '\t' << value3;
  }
}

void IUPAC_Motif::PrintWithValues(std::ostream& out, int strand, int raw, int asIntegers) const {
  Print(out, strand, raw);
  out << '\t';
  PrintValues(out, asIntegers);
}

int IUPAC_Motif::ComputeLogRatio(double floor) {
  logRatio = Log10RatioAbove(value1, value2, floor);
  return 0;
}

std::ostream& operator<<(std::ostream& out, const IUPAC_Motif& motif) {
  motif.PrintWithValues(out, 0, 0, 0);
  return out;
}
