#pragma once

#include <array>
#include <string>
#include <vector>

// One IUPAC letter for a position of a matrix, from the counts (or frequencies) of A, C, G
// and T, whose total must be above 0. With the bases ordered from the most frequent down
// (ties in the order A, C, G, T), each rule is tried in turn:
//   1. the first base alone when it holds more than half of the total and more than twice
//      the second: its letter (A, C, G, T);
//   2. the first two together when they hold more than three quarters: their two-base code
//      (M, R, W, S, Y, K);
//   3. the first three together when they hold at least 95 %: their three-base code
//      (V, H, D, B);
//   4. otherwise N.
char IupacLetter(const std::array<double, 4>& acgt);

// The word of a whole matrix, one letter a position.
std::string IupacWord(const std::vector<std::array<double, 4>>& positions);

// The information content of a matrix in bits: for each position, 2 plus the sum of
// f * log2(f) over its four base frequencies f.
double InformationContent(const std::vector<std::array<double, 4>>& positions);
