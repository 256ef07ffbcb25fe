#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "common/nucleotide.h"
#include "motifs/iupac_motif.h"

namespace test_support {

inline IUPAC_Motif MotifOf(const std::string& letters) { return IUPAC_Motif(letters); }

// Random motifs over every symbol, mostly bases so that they hit; now and then a
// palindrome made of a word and its reverse complement.
inline std::vector<IUPAC_Motif> RandomMotifs(std::mt19937& random, std::size_t count,
                                             std::size_t longest = 24) {
  std::uniform_int_distribution<std::size_t> length(1, longest);
  std::uniform_int_distribution<int> roll(0, 99);
  std::uniform_int_distribution<std::size_t> symbol(0, NucleotideLetters.size() - 1);
  std::uniform_int_distribution<std::size_t> base(0, 3);
  std::vector<IUPAC_Motif> motifs;
  for (std::size_t index = 0; index < count; ++index) {
    std::string letters;
    const std::size_t size = length(random);
    for (std::size_t position = 0; position < size; ++position) {
      letters +=
          roll(random) < 75 ? NucleotideLetters[base(random)] : NucleotideLetters[symbol(random)];
    }
    IUPAC_Motif motif = MotifOf(letters);
    if (roll(random) < 15) {
      motif.codes.insert(motif.codes.end(), motif.revComplCodes.begin(), motif.revComplCodes.end());
      motif.length = static_cast<std::uint32_t>(motif.codes.size());
      motif.BuildReverseComplement();
    }
    motifs.push_back(motif);
  }
  motifs.push_back(MotifOf("NNNNNNNNNN"));
  motifs.push_back(MotifOf("GAATTC"));
  return motifs;
}

// `size` residue codes as bytes: mostly bases, now and then N (16) or a code that is no
// symbol (17).
inline std::vector<std::uint8_t> RandomResidueBytes(std::mt19937& random, std::size_t size) {
  std::uniform_int_distribution<int> roll(0, 99);
  std::uniform_int_distribution<int> base(0, 3);
  std::vector<std::uint8_t> bytes(size);
  for (std::uint8_t& byte : bytes) {
    const int kind = roll(random);
    byte = static_cast<std::uint8_t>(kind < 95 ? base(random) : kind < 98 ? 16 : 17);
  }
  return bytes;
}

}  // namespace test_support
