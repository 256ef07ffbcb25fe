#include "motifconv/iupac_word.h"

#include <algorithm>
#include <cmath>
#include <numeric>

namespace {

// The letter of every set of bases, indexed by a mask of A 1, C 2, G 4, T 8.
constexpr std::array<char, 16> kLetterOfBases = {'N', 'A', 'C', 'M', 'G', 'R', 'S', 'V',
                                                 'T', 'W', 'Y', 'H', 'K', 'D', 'B', 'N'};

}  // namespace

char IupacLetter(const std::array<double, 4>& acgt) {
  std::array<int, 4> order = {0, 1, 2, 3};
  std::stable_sort(order.begin(), order.end(),
                   [&acgt](int left, int right) { return acgt[left] > acgt[right]; });
  const double total = acgt[0] + acgt[1] + acgt[2] + acgt[3];
  const double first = acgt[order[0]];
  const double second = acgt[order[1]];
  const double third = acgt[order[2]];
  // Compared in the units of the matrix, so that counts meet the edges exactly.
  if (2 * first > total && first > 2 * second) return kLetterOfBases[1 << order[0]];
  if (4 * (first + second) > 3 * total) {
    return kLetterOfBases[(1 << order[0]) | (1 << order[1])];
  }
  if (20 * (first + second + third) >= 19 * total) {
    return kLetterOfBases[15 ^ (1 << order[3])];
  }
  return 'N';
}

std::string IupacWord(const std::vector<std::array<double, 4>>& positions) {
  std::string word;
  word.reserve(positions.size());
  for (const auto& position : positions) word += IupacLetter(position);
  return word;
}

double InformationContent(const std::vector<std::array<double, 4>>& positions) {
  double bits = 0;
  for (const auto& position : positions) {
    const double total = std::accumulate(position.begin(), position.end(), 0.0);
    bits += 2;
    for (const double value : position) {
      const double frequency = value / total;
      if (frequency > 0) bits += frequency * std::log2(frequency);
    }
  }
  return bits;
}
