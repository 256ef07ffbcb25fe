#include "sequences/fasta_reader.h"

#include <algorithm>
#include <cstring>
#include <limits>

FastaReader::FastaReader(ByteSource& source)
    : source_(source), buffer_(std::make_unique_for_overwrite<char[]>(kBlockSize)) {}

bool FastaReader::Fill() {
  if (position_ < end_) return true;
  if (at_end_) return false;
  const std::ptrdiff_t got = source_.Read(buffer_.get(), kBlockSize);
  position_ = 0;
  end_ = got > 0 ? static_cast<std::size_t>(got) : 0;
  if (got <= 0) {
    at_end_ = true;
    failed_ = got < 0;
    return false;
  }
  return true;
}

std::size_t FastaReader::AppendResidues(std::vector<NucleotideCode>& codes,
                                        std::size_t limit) {
  std::size_t appended = 0;
  while (in_residues_ && appended < limit && Fill()) {
    if (at_line_start_ && buffer_[position_] == '>') {
      in_residues_ = false;
      break;
    }
    // The residue text runs to the end of the line, or of the block, or of the limit:
    // every character converts to at most one code.
    const char* first = buffer_.get() + position_;
    const std::size_t available = std::min(end_ - position_, limit - appended);
    const char* line_end = static_cast<const char*>(std::memchr(first, '\n', available));
    const std::size_t run = line_end != nullptr ? static_cast<std::size_t>(line_end - first)
                                                : available;
    const std::size_t old_size = codes.size();
    codes.resize(old_size + run);
    NucleotideCode* out = codes.data() + old_size;
    std::size_t kept = 0;
    for (std::size_t i = 0; i < run; ++i) {
      // Written unconditionally, kept only when it is a residue: no branch per character.
      const NucleotideCode code = CharToNucleotideCode(first[i]);
      out[kept] = code;
      kept += code < kNotNucleotide ? 1 : 0;
    }
    codes.resize(old_size + kept);
    appended += kept;
    position_ += run;
    at_line_start_ = false;
    if (line_end != nullptr) {
      ++position_;
      at_line_start_ = true;
    }
  }
  return appended;
}

bool FastaReader::NextHeader(std::string& header) {
  // Whatever is left of the current record (or stands before the first header) is skipped.
  while (in_residues_) {
    if (!Fill()) return false;
    if (at_line_start_ && buffer_[position_] == '>') {
      in_residues_ = false;
      break;
    }
    const char* first = buffer_.get() + position_;
    const char* line_end =
        static_cast<const char*>(std::memchr(first, '\n', end_ - position_));
    if (line_end == nullptr) {
      position_ = end_;
      at_line_start_ = false;
    } else {
      position_ += static_cast<std::size_t>(line_end - first) + 1;
      at_line_start_ = true;
    }
  }
  // The header line, which may reach across blocks.
  header.clear();
  while (Fill()) {
    const char* first = buffer_.get() + position_;
    const char* line_end =
        static_cast<const char*>(std::memchr(first, '\n', end_ - position_));
    if (line_end == nullptr) {
      header.append(first, end_ - position_);
      position_ = end_;
      continue;
    }
    header.append(first, static_cast<std::size_t>(line_end - first));
    position_ += static_cast<std::size_t>(line_end - first) + 1;
    break;
  }
  at_line_start_ = true;
  in_residues_ = true;
  return true;
}

bool FastaReader::AtRecordEnd() {
  while (in_residues_ && Fill()) {
    const char c = buffer_[position_];
    if (at_line_start_ && c == '>') {
      in_residues_ = false;
      break;
    }
    if (CharToNucleotideCode(c) < kNotNucleotide) return false;
    ++position_;
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
