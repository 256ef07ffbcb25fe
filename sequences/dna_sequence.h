#pragma once

#include <array>
#include <cstdint>
#include <iosfwd>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "common/nucleotide.h"

class ByteSource;

// One FASTA record: the header line as read and the residues as nucleotide codes.
class DNA_Sequence {
 public:
  std::uint32_t length = 0;             // number of codes, always codes.size()
  std::string descr;                    // header line verbatim, leading ">" included
  std::vector<NucleotideCode> codes;    // residues in file order, codes 0 to 16
  std::vector<std::string> textFields;  // extra fields; only the first one is written
  std::vector<std::int64_t> intFields;  // extra fields; only the first one is written

  // Replaces the residues with those of `residue_text`, dropping non-residue characters.
  // Returns 0.
  int setResidues(std::string residue_text);

  // Makes this sequence equal to `other`, every member included. Returns 0.
  int copyFrom(const DNA_Sequence& other);

  // Letters of the codes at positions start .. start + n - 1; positions past the end are
  // left out, so the text is shorter than n there.
  std::string subsequenceText(std::uint32_t start, std::uint32_t n) const;

  // Writes the record as FASTA: the header line (with the first text and integer field
  // after tabs, when present), then the residues in lines of 50 upper-case letters. No line
  // end follows a last line shorter than 50.
  void writeRecord(std::ostream& out) const;

  // Writes the header text and the first text and integer fields, tab-separated, with no
  // line end.
  void writeDescription(std::ostream& out) const;
};

// An ordered, growable set of sequences.
class SeqSet {
 public:
  std::uint32_t count = 0;  // number of sequences, always sequences.size()
  std::string name;
  std::vector<DNA_Sequence> sequences;

  // Appends the records of a FASTA file ("-" standard input, gzip data decompressed);
  // exits with "Can't open NAME file." and code 1 when it cannot be opened, and with
  // "NAME: what" (or "NAME:LINE: what") and code 1 when a record is longer than a sequence
  // holds, the set is full, or the file cannot be read as text to its end. Returns 0.
  int fload(std::string file_name);

  // Appends a copy of `sequence`. Returns 0.
  int add(const DNA_Sequence& sequence);

  // Takes the other set's name and appends copies of its sequences. Returns 0.
  int appendFrom(const SeqSet& other);

  // Writes the set as FASTA, replacing the file; exits with code 1 when it cannot be
  // created. Returns 0.
  int fsave(std::string file_name) const;

  // Writes the set's name line and the set as FASTA, then the name line and every record's
  // description line to "Descriptions.out" in the working directory. Returns 0.
  int fsaveWithDescriptions(std::string file_name) const;

  // The new last element, after growing the set by one default sequence.
  DNA_Sequence& AppendSequence();
};

// Appends every record that `source` holds to `set`, in order. Stops with what is wrong
// when a record holds more than `longest_record` residues (a sequence's length is held in
// 32 bits) or the set is full; the records before it stay in the set.
std::optional<std::string> ReadFastaInto(
    ByteSource& source, SeqSet& set,
    std::uint64_t longest_record = std::numeric_limits<std::uint32_t>::max());

// Name of the description file that fsaveWithDescriptions writes.
inline constexpr const char* kDescriptionFileName = "Descriptions.out";
