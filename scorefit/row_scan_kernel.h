#pragma once

// The row scan shared by the portable and the vector paths (row_scan_portable.cpp,
// row_scan_avx2.cpp) and the dispatch between them (row_scan.cpp); included by those files
// only. Callers use scorefit/row_scan.h.
//
// The vector path is compiled for its instruction set, so nothing it uses may be an inline
// function shared with other files, or a copy built for AVX2 could serve callers on
// processors without it: the scan below has internal linkage in every file that includes
// this header, and the general conversion is an ordinary function built for every processor.

#include <array>
#include <cstddef>
#include <cstdint>

#include "scorefit/row_scan.h"

// The value of a cell of `length` bytes, as the general conversion reads it: a run of at most
// 15 digits is an integer that a double holds exactly; anything else is converted as text.
double GeneralCellValue(const char* cell, std::size_t length);

// The scanners of each path. Call Avx2RowScanner only where the build has it
// (SCOREFIT_X86_KERNELS) and the processor has AVX2, BMI1 and POPCNT.
RowScanner PortableRowScanner();
RowScanner Avx2RowScanner();

namespace {

// The value of each byte that is a digit, and 0x80 for any other: one load gives both.
constexpr std::array<std::uint8_t, 256> kDigitValues = [] {
  std::array<std::uint8_t, 256> values{};
  for (unsigned byte = 0; byte < 256; ++byte) {
    values[byte] = byte >= '0' && byte <= '9' ? static_cast<std::uint8_t>(byte - '0') : 0x80;
  }
  return values;
}();

// The fields seen so far in a row, and its prediction so far.
class RowSum {
 public:
  RowSum(const double* b, std::size_t terms) : b_(b), terms_(terms), prediction_(b[0]) {}

  // Takes the run of bytes [cell, end), which a tab or the line feed ends: a field unless
  // empty. A cell of one or two digits whose field has a coefficient, nearly every cell of a
  // count table, takes no branch of its own; cell[1] is read even when past the cell, which
  // the padding after every row allows. With `kHasTerm`, the caller knows that the field has
  // a coefficient (see CanTakeUsual), if the run is a field.
  template <bool kHasTerm = false>
  [[gnu::always_inline]] inline void Take(const char* cell, const char* end) {
    const auto length_less_one = static_cast<std::size_t>(end - cell) - 1;
    const std::uint32_t first = kDigitValues[static_cast<unsigned char>(cell[0])];
    const std::uint32_t second = kDigitValues[static_cast<unsigned char>(cell[1])];
    // All ones for two bytes, none for one; any other length is caught below.
    const std::uint32_t second_mask = 0U - static_cast<std::uint32_t>(length_less_one);
    // Zero exactly for one or two digits (a length of 1 or 2, no 0x80 from the table) in a
    // field from the third to the last that `b` serves.
    std::size_t unusual = ((first | (second & second_mask)) & 0x80) | (length_less_one >> 1);
    if constexpr (!kHasTerm) unusual |= static_cast<std::size_t>(!HasTerm(fields_));
    if (unusual == 0) [[likely]] {
      TakeUsual(first + ((first * 9 + second) & second_mask));
      return;
    }
    TakeUnusual(cell, length_less_one + 1);
  }

  // True when the next `count` fields are each from the third to the last that `b` serves.
  bool CanTakeUsual(std::size_t count) const {
    return fields_ >= 2 && fields_ + count <= terms_ + 1;
  }
  // Takes a field of one or two digits worth `value`, which must have a coefficient.
  [[gnu::always_inline]] inline void TakeUsual(std::uint32_t value) {
    prediction_ = static_cast<double>(static_cast<int>(value)) * b_[fields_ - 1] + prediction_;
    ++fields_;
  }

  RowScan Result(std::size_t length) const { return {length, fields_, plain_, prediction_}; }

 private:
  // Field j (from 0) takes b[j - 1]; the first two take none.
  bool HasTerm(std::size_t field) const { return field - 2 < terms_ - 1; }

  void TakeUnusual(const char* cell, std::size_t length) {
    if (length == 0) {
      plain_ = false;  // a tab at either end, or two in a row
      return;
    }
    if (HasTerm(fields_)) {
      prediction_ = GeneralCellValue(cell, length) * b_[fields_ - 1] + prediction_;
    }
    ++fields_;
  }

  const double* b_;
  std::size_t terms_;
  double prediction_;
  std::size_t fields_ = 0;
  bool plain_ = true;
};

}  // namespace
