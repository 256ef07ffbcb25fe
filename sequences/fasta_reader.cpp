#include "sequences/fasta_reader.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace {

// The first line end among the first `count` bytes at `first`, or null.
const char* FindLineEnd(const char* first, std::size_t count) {
  return static_cast<const char*>(std::memchr(first, '\n', count));
}

}  // namespace

FastaReader::FastaReader(ByteSource& source) : block_(source) {}

bool FastaReader::AtHeader() {
  if (!at_line_start_ || *block_.next() != '>') return false;
  in_residues_ = false;
  return true;
}

std::size_t FastaReader::AppendResidues(std::vector<NucleotideCode>& codes, std::size_t limit) {
  return AppendCodes(codes, limit);
}

std::size_t FastaReader::AppendResidues(std::vector<std::uint8_t>& codes, std::size_t limit) {
  return AppendCodes(codes, limit);
}

template <typename Code>
std::size_t FastaReader::AppendCodes(std::vector<Code>& codes, std::size_t limit) {
  std::size_t appended = 0;
  while (in_residues_ && appended < limit && block_.Fill() && !AtHeader()) {
    // The residue text runs to the end of the line, or of the block, or of the limit:
    // every character converts to at most one code.
    const char* first = block_.next();
    const std::size_t available = std::min(block_.available(), limit - appended);
    const char* line_end = FindLineEnd(first, available);
    const std::size_t run =
        line_end != nullptr ? static_cast<std::size_t>(line_end - first) : available;
    const std::size_t old_size = codes.size();
    codes.resize(old_size + run);
    Code* out = codes.data() + old_size;
    std::size_t kept = 0;
    for (std::size_t i = 0; i < run; ++i) {
      // Written unconditionally, kept only when it is a residue: no branch per character.
      const NucleotideCode code = CharToNucleotideCode(first[i]);
      out[kept] = static_cast<Code>(code);
      kept += code < kNotNucleotide ? 1 : 0;
    }
    codes.resize(old_size + kept);
    appended += kept;
    block_.Advance(line_end != nullptr ? run + 1 : run);
    at_line_start_ = line_end != nullptr;
  }
  return appended;
}

bool FastaReader::NextHeader(std::string& header) {
  // Whatever is left of the current record (or stands before the first header) is skipped.
  while (in_residues_) {
    if (!block_.Fill()) return false;
    if (AtHeader()) break;
    const char* line_end = FindLineEnd(block_.next(), block_.available());
    at_line_start_ = line_end != nullptr;
    block_.Advance(line_end != nullptr ? static_cast<std::size_t>(line_end - block_.next()) + 1
                                       : block_.available());
  }
  // The header line, which may reach across blocks.
  header.clear();
  while (block_.Fill()) {
    const char* first = block_.next();
    const char* line_end = FindLineEnd(first, block_.available());
    if (line_end == nullptr) {
      header.append(first, block_.available());
      block_.Advance(block_.available());
      continue;
    }
    header.append(first, static_cast<std::size_t>(line_end - first));
    block_.Advance(static_cast<std::size_t>(line_end - first) + 1);
    break;
  }
  at_line_start_ = true;
  in_residues_ = true;
  return true;
}

bool FastaReader::AtRecordEnd() {
  while (in_residues_ && block_.Fill() && !AtHeader()) {
    const char c = *block_.next();
    if (CharToNucleotideCode(c) < kNotNucleotide) return false;
    block_.Advance(1);
    at_line_start_ = c == '\n';
  }
  return true;
}

bool FastaReader::Next(FastaRecord& record) {
  if (!NextHeader(record.header)) return false;
  record.codes.clear();
  while (AppendResidues(record.codes, std::numeric_limits<std::size_t>::max()) > 0) {
  }
  return true;
}
