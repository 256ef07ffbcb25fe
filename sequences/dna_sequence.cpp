#include "sequences/dna_sequence.h"

#include <algorithm>
#include <fstream>
#include <utility>

#include "common/diagnostics.h"

int DNA_Sequence::setResidues(std::string residue_text) {
  codes.clear();
  codes.reserve(residue_text.size());
  for (const char c : residue_text) {
    const NucleotideCode code = CharToNucleotideCode(c);
    if (code < kNotNucleotide) codes.push_back(code);
  }
  length = static_cast<std::uint32_t>(codes.size());
  return 0;
}

int DNA_Sequence::copyFrom(const DNA_Sequence& other) {
  if (this != &other) *this = other;
  return 0;
}

std::string DNA_Sequence::subsequenceText(std::uint32_t start, std::uint32_t n) const {
  std::string text;
  if (start >= codes.size()) return text;
  const std::size_t end = std::min<std::size_t>(codes.size(), std::size_t{start} + n);
  text.reserve(end - start);
  for (std::size_t i = start; i < end; ++i) text += NucleotideLetter(codes[i]);
  return text;
}

DNA_Sequence& SeqSet::AppendSequence() {
  ++count;
  sequences.resize(count);
  return sequences.back();
}

int SeqSet::fload(std::string file_name) {
  std::ifstream in;
  if (!OpenForReading(in, file_name)) ExitCannotOpen(file_name);

  std::string line;
  std::string descr;
  std::string residues;
  bool seen_header = false;
  const auto store_record = [&] {
    DNA_Sequence& sequence = AppendSequence();
    sequence.descr = descr;
    sequence.setResidues(std::move(residues));
    residues.clear();
  };
  while (std::getline(in, line)) {
    if (!line.empty() && line[0] == '>') {
      if (seen_header) store_record();
      seen_header = true;
      descr = line;
      residues.clear();
    } else {
      // Text before the first header is gathered too, and dropped at that header.
      residues += line;
    }
  }
  if (!descr.empty()) store_record();
  return 0;
}

int SeqSet::add(const DNA_Sequence& sequence) {
  // Copy first: `sequence` may be an element of this very set, which growing can move.
  DNA_Sequence copy(sequence);
  AppendSequence() = std::move(copy);
  return 0;
}

int SeqSet::appendFrom(const SeqSet& other) {
  if (this == &other) {
    const SeqSet snapshot(other);
    return appendFrom(snapshot);
  }
  name = other.name;
  sequences.reserve(sequences.size() + other.sequences.size());
  for (const DNA_Sequence& sequence : other.sequences) add(sequence);
  return 0;
}
