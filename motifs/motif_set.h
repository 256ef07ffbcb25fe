#pragma once

#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "common/line_error.h"
#include "motifs/iupac_motif.h"

// The motifs of one motif file, in file order.
class MotifSet {
 public:
  std::vector<IUPAC_Motif> motifs;
  std::uint32_t count = 0;  // always motifs.size()
  std::string name;         // the file the set was loaded from

  MotifSet() = default;
  // n default motifs.
  explicit MotifSet(std::uint32_t n);
  // n motifs of `length` positions of A.
  MotifSet(std::uint32_t n, std::uint32_t length);

  // Appends the motif lines of a motif file ("-" standard input, gzip data decompressed),
  // up to its first line that is not a motif line, and sets `name`. Exits with code 1,
  // naming the file and line, when a motif line is malformed (a non-IUPAC character, or
  // missing or out-of-range numbers) or holds binary data, with "Can't open NAME file."
  // when the file cannot be opened. Returns 0.
  int fload(std::string file_name);
  // Writes one motif line per motif, replacing the file; exits with code 1 when it cannot
  // be created. Returns 0.
  int fsave(std::string file_name) const;
  // PrintWithValues of every motif, each followed by a line end.
  void PrintWithValues(std::ostream& out, int strand, int raw, int asIntegers) const;

  // The new last element, after growing the set by one default motif.
  IUPAC_Motif& AppendMotif();
};

// What one line of a motif file holds.
enum class MotifLineKind {
  kMotif,         // a motif line, read into the motif
  kNotMotifLine,  // a line that does not start with a motif letter: the motif list ends
  kMalformed,     // a motif line that cannot be read honestly; `problem` says why
};

// The longest motif that the motif file reader takes, in letters: far beyond any real
// site, and short enough that a mistaken line (a whole sequence pasted in) is reported
// rather than counted for hours.
inline constexpr std::size_t kLongestMotif = 1000000;

// Reads one motif line: the motif text up to the first tab, then three numbers. A line
// without a tab is a bare motif (a trailing carriage return dropped) with values 0.
MotifLineKind ParseMotifLine(const std::string& line, IUPAC_Motif& motif, std::string& problem,
                             std::size_t longest = kLongestMotif);

// Appends to `set` every motif line of `in` up to the first line that is not a motif line
// (or the end). A malformed motif line stops the reading: the result then says which line
// (counted from 1) and what is wrong with it; the motifs before it stay in the set.
[[nodiscard]] std::optional<LineError> ReadMotifs(std::istream& in, MotifSet& set);

// Reads one motif line into `motif`; leaves it untouched when the line is not a motif line.
// A malformed line sets the stream's failbit.
std::istream& operator>>(std::istream& in, IUPAC_Motif& motif);
// Appends every motif up to the first line that is not a motif line (or a malformed one,
// which also sets failbit).
std::istream& operator>>(std::istream& in, MotifSet& set);
// One motif line per motif.
std::ostream& operator<<(std::ostream& out, const MotifSet& set);
