#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

// The nucleotide alphabet, in one place: the 17 symbols, the bases each stands for, and
// every table derived from them (the two character converters, the complement and the
// match table).

// One IUPAC nucleotide symbol as a number: A 0, T 1, G 2, C 3, R 4, Y 5, M 6, K 7, W 8,
// S 9, B 10, V 11, H 12, D 13, N 14, "-" 15, "+" 16; 17 marks a character that is none.
using NucleotideCode = std::int32_t;

// Number of nucleotide symbols.
inline constexpr NucleotideCode kNucleotideSymbolCount = 17;

// The code of anything that is not a symbol: a character a converter does not know, or a
// stray value in a code vector. It has no complement but itself, matches nothing (not even
// itself) and prints as '?'. Every table below has a row for it, so no lookup ever needs a
// range check of its own beyond SymbolIndex.
inline constexpr NucleotideCode kNotNucleotide = 17;

// The letter of each code, indexed by code.
inline constexpr std::string_view NucleotideLetters = "ATGCRYMKWSBVHDN-+";

// Rows of the tables that take any code value through SymbolIndex: the 17 symbols and
// kNotNucleotide.
inline constexpr std::size_t kCodeTableSize = 18;

namespace nucleotide_detail {

inline constexpr std::size_t kTableSize = kCodeTableSize;

// Bases each symbol stands for, one bit per base (A 1, T 2, G 4, C 8); none for "-", "+"
// and kNotNucleotide.
inline constexpr std::array<unsigned, kTableSize> kBasesOf = {1,  2,  4,  8,  5, 10, 9, 6, 3,
                                                              12, 14, 13, 11, 7, 15, 0, 0, 0};

constexpr unsigned ComplementBases(unsigned bases) {
  // A <-> T and G <-> C: swap the two bits of each pair.
  return ((bases & 1u) << 1) | ((bases & 2u) >> 1) | ((bases & 4u) << 1) | ((bases & 8u) >> 1);
}

// Character to code: each letter of NucleotideLetters, in either case, gives its index;
// `code_of_n` is what N and n give; everything else is kNotNucleotide.
constexpr std::array<NucleotideCode, 256> MakeCharTable(NucleotideCode code_of_n) {
  std::array<NucleotideCode, 256> table{};
  for (auto& code : table) code = kNotNucleotide;
  for (std::size_t i = 0; i < NucleotideLetters.size(); ++i) {
    const char letter = NucleotideLetters[i];
    table[static_cast<unsigned char>(letter)] = static_cast<NucleotideCode>(i);
    if (letter >= 'A' && letter <= 'Z') {
      table[static_cast<unsigned char>(letter - 'A' + 'a')] = static_cast<NucleotideCode>(i);
    }
  }
  table[static_cast<unsigned char>('N')] = code_of_n;
  table[static_cast<unsigned char>('n')] = code_of_n;
  return table;
}

// The symbol whose bases are the complement of each symbol's; "-", "+" and
// kNotNucleotide are their own complements.
constexpr std::array<NucleotideCode, kTableSize> MakeComplement() {
  std::array<NucleotideCode, kTableSize> table{};
  for (std::size_t code = 0; code < kTableSize; ++code) {
    table[code] = static_cast<NucleotideCode>(code);
    if (kBasesOf[code] == 0) continue;
    for (std::size_t other = 0; other < kTableSize; ++other) {
      if (kBasesOf[other] == ComplementBases(kBasesOf[code])) {
        table[code] = static_cast<NucleotideCode>(other);
        break;
      }
    }
  }
  return table;
}

// Two symbols match when the bases of one include the bases of the other; "-" matches
// only itself, "+" and kNotNucleotide match nothing.
constexpr std::array<std::array<std::uint8_t, kTableSize>, kTableSize> MakeMatch() {
  std::array<std::array<std::uint8_t, kTableSize>, kTableSize> table{};
  constexpr std::size_t kGap = 15;
  for (std::size_t seq = 0; seq < kTableSize; ++seq) {
    for (std::size_t mot = 0; mot < kTableSize; ++mot) {
      const unsigned a = kBasesOf[seq];
      const unsigned b = kBasesOf[mot];
      const bool nested = a != 0 && b != 0 && ((a & b) == a || (a & b) == b);
      table[seq][mot] = nested || (seq == kGap && mot == kGap) ? 1 : 0;
    }
  }
  return table;
}

inline constexpr std::array<NucleotideCode, 256> kSequenceCodeOf = MakeCharTable(16);
inline constexpr std::array<NucleotideCode, 256> kMotifCodeOf = MakeCharTable(14);
inline constexpr std::array<NucleotideCode, kTableSize> kComplement = MakeComplement();

}  // namespace nucleotide_detail

// The table row of any code value: itself for a symbol, kNotNucleotide for anything else.
inline std::size_t SymbolIndex(NucleotideCode code) {
  return static_cast<std::uint32_t>(code) < static_cast<std::uint32_t>(kNucleotideSymbolCount)
             ? static_cast<std::size_t>(code)
             : static_cast<std::size_t>(kNotNucleotide);
}

// Code of one residue character of a sequence, either case: A 0 ... D 13, "-" 15, N and
// "+" 16 (an N in a sequence is an unknown base and matches no motif symbol); every other
// character (digits, blanks, U, carriage return ...) is kNotNucleotide.
inline NucleotideCode CharToNucleotideCode(char c) {
  return nucleotide_detail::kSequenceCodeOf[static_cast<unsigned char>(c)];
}

// Code of one motif character, either case: the 17 symbols give 0 to 16 (N is the wildcard
// 14); every other character is kNotNucleotide.
inline NucleotideCode CharToMotifCode(char c) {
  return nucleotide_detail::kMotifCodeOf[static_cast<unsigned char>(c)];
}

// Complement of each symbol, indexed by code.
inline constexpr std::array<NucleotideCode, 17> ComplementCode = [] {
  std::array<NucleotideCode, 17> table{};
  for (std::size_t code = 0; code < table.size(); ++code) {
    table[code] = nucleotide_detail::kComplement[code];
  }
  return table;
}();

// The complement of any code value; kNotNucleotide (and any stray value) gives
// kNotNucleotide.
inline NucleotideCode ComplementOf(NucleotideCode code) {
  return nucleotide_detail::kComplement[SymbolIndex(code)];
}

// 1 when sequence code [row] is compatible with motif code [column]; symmetric.
inline constexpr std::array<std::array<int, 17>, 17> CodeMatch = [] {
  constexpr auto match = nucleotide_detail::MakeMatch();
  std::array<std::array<int, 17>, 17> table{};
  for (std::size_t seq = 0; seq < 17; ++seq) {
    for (std::size_t mot = 0; mot < 17; ++mot) table[seq][mot] = match[seq][mot];
  }
  return table;
}();

// CodeMatch with the row and column of kNotNucleotide (all 0), for lookups through
// SymbolIndex: a search reads it for any pair of code values without a range check.
inline constexpr std::array<std::array<std::uint8_t, 18>, 18> kCodeMatchOrNone =
    nucleotide_detail::MakeMatch();

// True when a sequence code matches a motif code; any value outside the symbols matches
// nothing.
inline bool CodesMatch(NucleotideCode sequence_code, NucleotideCode motif_code) {
  return kCodeMatchOrNone[SymbolIndex(sequence_code)][SymbolIndex(motif_code)] != 0;
}

// The letter of a code, or '?' for kNotNucleotide and any other value outside the symbols,
// so printing never reads out of range.
inline char NucleotideLetter(NucleotideCode code) {
  return static_cast<std::uint32_t>(code) < static_cast<std::uint32_t>(kNucleotideSymbolCount)
             ? NucleotideLetters[static_cast<std::size_t>(code)]
             : '?';
}
