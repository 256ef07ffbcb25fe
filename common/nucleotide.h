#pragma once

#include <cstdint>
#include <string_view>

// One IUPAC nucleotide symbol as a number: A 0, T 1, G 2, C 3, R 4, Y 5, M 6, K 7, W 8,
// S 9, B 10, V 11, H 12, D 13, N 14, "-" 15, "+" 16; 17 marks a character that is none.
using NucleotideCode = std::int32_t;

// Number of nucleotide symbols; also the code of a character that is not one.
inline constexpr NucleotideCode kNucleotideSymbolCount = 17;
inline constexpr NucleotideCode kNotNucleotide = 17;

// The letter of each code, indexed by code.
inline constexpr std::string_view NucleotideLetters = "ATGCRYMKWSBVHDN-+";

// The letter of a code, or '?' for a value outside 0..16, so printing never reads out of range.
inline char NucleotideLetter(NucleotideCode code) {
  return static_cast<std::uint32_t>(code) < kNucleotideSymbolCount
             ? NucleotideLetters[static_cast<std::size_t>(code)]
             : '?';
}
