#pragma once

#include <array>
#include <cstdint>
#include <iosfwd>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common/nucleotide.h"

class SeqSet;

// Which strands a search tests; passed as a plain int.
enum MOTORIENT { MOTORIENT_FWD, MOTORIENT_COMPL, MOTORIENT_BOTH, MOTORIENT_ANY };
inline constexpr std::array<std::string_view, 4> MOTORIENT_Names = {
    "MOTORIENT_FWD", "MOTORIENT_COMPL", "MOTORIENT_BOTH", "MOTORIENT_ANY"};

// Root of the motif classes.
class Motif {
 public:
  virtual bool Query() { return false; }
};

// A motif of fixed length with the three numbers of its motif line and the result of the
// last window test.
class FixedLengthMotif : public Motif {
 public:
  std::uint32_t length = 0;
  double value1 = 0;
  double value2 = 0;
  double value3 = 0;
  double logRatio = 0;             // log10(value1 / value2) once ComputeLogRatio has run
  std::int32_t found = 0;          // 1 when the last window test matched
  std::int32_t lastDirection = 0;  // 0 forward, 1 reverse complement, 2 both strands
};

// A motif in the IUPAC code with its reverse complement.
class IUPAC_Motif : public FixedLengthMotif {
 public:
  std::vector<NucleotideCode> codes;
  std::vector<NucleotideCode> revComplCodes;

  IUPAC_Motif() = default;
  explicit IUPAC_Motif(std::uint32_t n) { InitLength(n); }
  explicit IUPAC_Motif(const std::string& text) { InitFromString(text); }

  // n positions of A (T on the reverse strand); every number and the match state 0.
  int InitLength(std::uint32_t n);
  // One position per character, through CharToMotifCode; nothing is skipped. Returns 0;
  // 1, leaving the motif as it was, for a text of 2^32 characters or more.
  int InitFromString(const std::string& text);
  // Rebuilds revComplCodes from codes.
  int BuildReverseComplement();
  // Takes src's codes and three values; logRatio and the match state become 0.
  int CopyFrom(const IUPAC_Motif& src);
  // The motif as text: strand 0 the forward codes, other the reverse complement; raw 0
  // letters, other the code values as bytes.
  std::string MotifString(int strand, int raw) const;
  // Writes the letters (raw 0) or each code and a blank (raw other); no line end.
  void Print(std::ostream& out, int strand, int raw) const;
  // Writes the three values tab-separated, truncated to int when asIntegers is not 0.
  void PrintValues(std::ostream& out, int asIntegers) const;
  // Print, a tab, PrintValues.
  void PrintWithValues(std::ostream& out, int strand, int raw, int asIntegers) const;
  // logRatio = Log10RatioAbove(value1, value2, floor).
  int ComputeLogRatio(double floor);

  // 1 when the motif matches `sequence` at start position p for `orientation`, else 0.
  // Sets found and lastDirection, and *direction when given. A motif of length 0, or one
  // that does not fit at p, matches nothing.
  int MatchAt(std::span<const NucleotideCode> sequence, std::uint32_t p, int orientation,
              int* direction = nullptr);
  // Appends every matching start position of the window [start, start + len) and its
  // direction; 1 when anything was appended.
  int FindAll(std::span<const NucleotideCode> sequence, std::uint32_t start, std::uint32_t len,
              int orientation, std::vector<std::uint32_t>& positions,
              std::vector<std::int32_t>& directions);
  // The first matching start position of the window; 1 when found. A window shorter than
  // the motif writes the all-bits-set position.
  int FindFirst(std::span<const NucleotideCode> sequence, std::uint32_t start, std::uint32_t len,
                int orientation, std::uint32_t& position, int& direction);
  int Contains(std::span<const NucleotideCode> sequence, std::uint32_t start, std::uint32_t len,
               int orientation);
  // Contains and FindFirst over the whole sequence, however long. A first match that starts
  // past `position_limit` is found all the same and its position reads as the limit (the
  // largest 32-bit value; tests make it small).
  int ContainsAnywhere(std::span<const NucleotideCode> sequence, int orientation);
  int FindFirstAnywhere(std::span<const NucleotideCode> sequence, int orientation,
                        std::uint32_t& position, int& direction,
                        std::uint32_t position_limit = 0xFFFFFFFFu);
  // Number of start positions in the whole sequence at which the motif matches for
  // `orientation`; overlapping sites all count, a position matching both strands once.
  std::uint32_t CountOccurrences(std::span<const NucleotideCode> sequence, int orientation);
  // Number and percentage of the set's sequences that contain the motif. Returns 1.
  int PresenceInSet(const SeqSet& set, int orientation, std::uint32_t& number, double& percentage);
};

// Upper-case letters, a tab, value1, a tab, value2, a tab, value3; no line end.
std::ostream& operator<<(std::ostream& out, const IUPAC_Motif& motif);
