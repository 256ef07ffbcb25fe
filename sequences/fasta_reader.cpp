#include "sequences/fasta_reader.h"

#include <algorithm>
#include <cstring>
#include <limits>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

// The first line end among the first `count` bytes at `first`, or null.
const char* FindLineEnd(const char* first, std::size_t count) {
  return static_cast<const char*>(std::memchr(first, '\n', count));
}

// Writes the code of each residue among the `count` characters at `text` to `out`, which
// has room for `count` codes, and drops every other character; returns how many it kept.
template <typename Code>
std::size_t ConvertResidueText(const char* text, std::size_t count, Code* out) {
  std::size_t kept = 0;
  for (std::size_t i = 0; i < count; ++i) {
    // Written unconditionally, kept only when it is a residue: no branch per character.
    const NucleotideCode code = CharToNucleotideCode(text[i]);
    out[kept] = static_cast<Code>(code);
    kept += code < kNotNucleotide ? 1 : 0;
  }
  return kept;
}

#if defined(__SSE2__)
// True when the sixteen characters at `text` are all bases (A, C, G or T, in either case);
// `codes` then holds their codes.
bool SixteenBases(const char* text, __m128i& codes) {
  static_assert(nucleotide_detail::kSequenceCodeOf['A'] == 0 &&
                nucleotide_detail::kSequenceCodeOf['T'] == 1 &&
                nucleotide_detail::kSequenceCodeOf['G'] == 2 &&
                nucleotide_detail::kSequenceCodeOf['C'] == 3);
  // Setting bit 5 turns the capitals into small letters and no other byte into one.
  const __m128i letters =
      _mm_or_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(text)), _mm_set1_epi8(0x20));
  const __m128i is_t = _mm_cmpeq_epi8(letters, _mm_set1_epi8('t'));
  const __m128i is_g = _mm_cmpeq_epi8(letters, _mm_set1_epi8('g'));
  const __m128i is_c = _mm_cmpeq_epi8(letters, _mm_set1_epi8('c'));
  const __m128i is_base = _mm_or_si128(
      _mm_or_si128(_mm_cmpeq_epi8(letters, _mm_set1_epi8('a')), is_t), _mm_or_si128(is_g, is_c));
  if (_mm_movemask_epi8(is_base) != 0xFFFF) return false;
  // Each comparison is all ones where it holds: T 1, G 2, C 3, A none of them, 0.
  codes = _mm_or_si128(
      _mm_and_si128(is_t, _mm_set1_epi8(1)),
      _mm_or_si128(_mm_and_si128(is_g, _mm_set1_epi8(2)), _mm_and_si128(is_c, _mm_set1_epi8(3))));
  return true;
}

// The same for byte codes, sixteen characters at a time where all sixteen are bases, as
// nearly all of a genome's are; any other sixteen go one by one. Every x86-64 processor
// has these instructions.
std::size_t ConvertResidueText(const char* text, std::size_t count, std::uint8_t* out) {
  std::size_t kept = 0;
  std::size_t at = 0;
  __m128i codes;
  for (; at + 16 <= count; at += 16) {
    if (SixteenBases(text + at, codes)) {
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out + kept), codes);
      kept += 16;
    } else {
      kept += ConvertResidueText<std::uint8_t>(text + at, 16, out + kept);
    }
  }
  // The end of a line whose characters so far were all bases: its last sixteen, which
  // write the codes of the ones before them again, unchanged.
  if (at < count && count >= 16 && kept == at && SixteenBases(text + count - 16, codes)) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + count - 16), codes);
    return count;
  }
  return kept + ConvertResidueText<std::uint8_t>(text + at, count - at, out + kept);
}
#endif

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
    const std::size_t kept = ConvertResidueText(first, run, codes.data() + old_size);
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
