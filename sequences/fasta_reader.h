#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "common/byte_source.h"
#include "common/nucleotide.h"

// One FASTA record as the reader delivers it.
struct FastaRecord {
  std::string header;                 // the header line verbatim, ">" included
  std::vector<NucleotideCode> codes;  // the residues, codes 0 to 16
};

// Reads FASTA records one at a time from a byte source, in large blocks.
//
// A line that starts with ">" is a header; the record's residues are every character of
// the lines up to the next header that is a residue symbol (CharToNucleotideCode), all
// others (blanks, digits, carriage returns ...) dropped. Text before the first header
// belongs to no record. A carriage return before a line feed stays in a header. The last
// line needs no line feed. A read that fails ends the input like its end does, and
// failed() says so afterwards.
class FastaReader {
 public:
  explicit FastaReader(ByteSource& source);

  // Moves to the next record, skipping the rest of the current one, and puts its header
  // line into `header` (its buffer reused). False when no record is left.
  bool NextHeader(std::string& header);

  // Appends up to `limit` more residue codes of the current record to `codes`; returns how
  // many it appended, 0 once the record has no more. Lets a caller take a long record in
  // pieces of bounded size.
  std::size_t AppendResidues(std::vector<NucleotideCode>& codes, std::size_t limit);
  // The same with each code as a byte, as the counting engines read them.
  std::size_t AppendResidues(std::vector<std::uint8_t>& codes, std::size_t limit);

  // True when the current record has no residue left: skips the line ends and other
  // characters that are no residues up to the next residue, the next header or the end of
  // the input. Tells a caller taking a record in pieces whether a piece is the last.
  bool AtRecordEnd();

  // Reads the next whole record into `record`, reusing its buffers. False when no record
  // is left.
  bool Next(FastaRecord& record);

  // True when a read from the source failed; the records before it were delivered.
  bool failed() const { return block_.failed(); }

 private:
  // True when the next byte starts a header line; the record's residues end there.
  bool AtHeader();
  template <typename Code>
  std::size_t AppendCodes(std::vector<Code>& codes, std::size_t limit);

  BlockBuffer block_;
  bool at_line_start_ = true;
  // True while the bytes ahead are residue text (or text before the first header).
  bool in_residues_ = true;
};
