#include <fstream>
#include <ostream>
#include <string>

#include "common/diagnostics.h"
#include "sequences/dna_sequence.h"

namespace {

constexpr std::size_t kLettersPerLine = 50;

void WriteExtraFields(const DNA_Sequence& sequence, std::ostream& out) {
  if (!sequence.textFields.empty()) out << '\t' << sequence.textFields.front();
  if (!sequence.intFields.empty()) out << '\t' << sequence.intFields.front();
}

// Every record followed by a line end, so a record ending on a full line of letters leaves
// an empty line behind it.
void WriteRecords(const SeqSet& set, std::ostream& out) {
  for (const DNA_Sequence& sequence : set.sequences) {
    sequence.writeRecord(out);
    out << std::endl;
  }
}

}  // namespace

void DNA_Sequence::writeDescription(std::ostream& out) const {
  out << descr;
  WriteExtraFields(*this, out);
}

void DNA_Sequence::writeRecord(std::ostream& out) const {
  writeDescription(out);
  out << std::endl;
  // Each full line of letters ends with a line feed, so a record whose length is a multiple
  // of 50 leaves its caller's line end on a line of its own.
  std::string line;
  line.reserve(kLettersPerLine + 1);
  for (std::size_t i = 0; i < codes.size(); ++i) {
    line += NucleotideLetter(codes[i]);
    if ((i + 1) % kLettersPerLine == 0) {
      line += '\n';
      out << line;
      line.clear();
    }
  }
  out << line;
}

int SeqSet::fsave(std::string file_name) const {
  std::ofstream out(file_name);
  if (!out) ExitCannotOpen(file_name);
  WriteRecords(*this, out);
  return 0;
}

int SeqSet::fsaveWithDescriptions(std::string file_name) const {
  {
    std::ofstream out(file_name);
    if (!out) ExitCannotOpen(file_name);
    out << name << std::endl;
    WriteRecords(*this, out);
  }
  std::ofstream descriptions(kDescriptionFileName);
  if (!descriptions) ExitCannotOpen(kDescriptionFileName);
  descriptions << name << std::endl;
  for (const DNA_Sequence& sequence : sequences) {
    sequence.writeDescription(descriptions);
    descriptions << std::endl;
  }
  return 0;
}
