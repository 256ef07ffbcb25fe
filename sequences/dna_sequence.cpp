#include "sequences/dna_sequence.h"

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <utility>

#include "common/counted_append.h"
#include "common/diagnostics.h"
#include "common/input_source.h"
#include "sequences/fasta_reader.h"

namespace {

// Passes a source through and remembers whether a read from it failed.
class FailureWitness : public ByteSource {
 public:
  explicit FailureWitness(ByteSource& inner) : inner_(inner) {}
  std::ptrdiff_t Read(char* buffer, std::size_t capacity) override {
    const std::ptrdiff_t got = inner_.Read(buffer, capacity);
    failed_ = failed_ || got < 0;
    return got;
  }
  bool failed() const { return failed_; }

 private:
  ByteSource& inner_;
  bool failed_ = false;
};

}  // namespace

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

DNA_Sequence& SeqSet::AppendSequence() { return AppendCounted(count, sequences); }

int SeqSet::fload(std::string file_name) {
  std::string problem;
  const std::unique_ptr<ByteSource> source = OpenInputSource(file_name, problem);
  if (source == nullptr && problem.empty()) ExitCannotOpen(file_name);
  if (source == nullptr) ExitBadInput(file_name, 0, problem);
  FailureWitness witness(*source);
  if (const auto error = ReadFastaInto(witness, *this)) ExitBadInput(file_name, 0, *error);
  if (witness.failed()) {
    PrintReadProblem(file_name, *source);
    std::exit(1);
  }
  return 0;
}

std::optional<std::string> ReadFastaInto(ByteSource& source, SeqSet& set,
                                         std::uint64_t longest_record) {
  // Each record is gathered in the reader's reused buffers and copied once at its exact
  // size: growing every sequence's own vector line by line costs far more in allocation.
  FastaReader reader(source);
  FastaRecord record;
  std::uint64_t record_number = 0;
  while (reader.Next(record)) {
    ++record_number;
    if (record.codes.size() > longest_record) {
      return "record " + std::to_string(record_number) + " holds " +
             std::to_string(record.codes.size()) + " residues; a sequence holds at most " +
             std::to_string(longest_record);
    }
    if (!CanAppendCounted(set.count)) {
      return "more records than a sequence set holds (" + std::to_string(kMostCountedItems) + ")";
    }
    DNA_Sequence& sequence = set.AppendSequence();
    sequence.descr = record.header;
    sequence.codes.assign(record.codes.begin(), record.codes.end());
    sequence.length = static_cast<std::uint32_t>(sequence.codes.size());
  }
  return std::nullopt;
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
