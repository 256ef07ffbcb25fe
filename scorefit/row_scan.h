#pragma once

#include <cstddef>

// How the rows of a presence table are scanned: a portable path everywhere and, on x86-64,
// an AVX2 one. kBest picks the fastest the processor has. Every path gives the same scan.
enum class RowScanPath { kBest, kPortable, kAvx2 };

// The path named by `name` ("scalar" or "avx2", as SCOREFIT_KERNEL gives it); kBest for a
// null pointer or any other name.
RowScanPath RowScanPathFromName(const char* name);

// True when this processor (and this build) can take `path`; kBest always can.
bool RowScanPathSupported(RowScanPath path);

// Bytes that must be readable before a scanned row and after the line feed that ends it: a
// scan reads whole words, which may reach that far past either end of the row.
inline constexpr std::size_t kRowScanPadding = 64;

// What a scan of one row found. A field is a maximal run of bytes other than tab.
struct RowScan {
  std::size_t length = 0;  // bytes before the line feed that ends the row
  std::size_t fields = 0;
  bool plain = true;  // one tab between each two fields and none at either end
  // b[0] plus the value of field j times b[j - 1], for j from 2 (counted from 0), added from
  // left to right; meaningful when `fields` is at most `terms` + 1.
  double prediction = 0;
};

// Scans the row that starts at `row` and ends at the first line feed, with the `terms`
// coefficients at `b` (at least one). A cell of one or two digits is read directly; any other
// is read by the general conversion, so every cell has the value that conversion gives.
using RowScanner = RowScan (*)(const char* row, const double* b, std::size_t terms);

// The scanner of `path`; a path the processor cannot take falls back to the best it can.
RowScanner RowScannerFor(RowScanPath path);
