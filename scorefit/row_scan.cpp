#include "scorefit/row_scan.h"

#include <cstdint>
#include <string_view>

#include "common/number_text.h"
#include "scorefit/row_scan_kernel.h"

double GeneralCellValue(const char* cell, std::size_t length) {
  // Presence tables are nearly all small counts, and a cell of at most 15 digits and nothing
  // else is an integer that a double holds exactly: its digits summed give the very value
  // the general conversion would.
  constexpr std::size_t kExactDigits = 15;
  if (length <= kExactDigits) {
    std::uint64_t value = 0;
    std::size_t index = 0;
    for (; index < length; ++index) {
      const unsigned digit = static_cast<unsigned char>(cell[index]) - unsigned{'0'};
      if (digit > 9) break;
      value = value * 10 + digit;
    }
    if (index == length) return static_cast<double>(value);
  }
  return StringToDouble(std::string_view(cell, length));
}

RowScanPath RowScanPathFromName(const char* name) {
  if (name == nullptr) return RowScanPath::kBest;
  const std::string_view text(name);
  if (text == "scalar") return RowScanPath::kPortable;
  if (text == "avx2") return RowScanPath::kAvx2;
  return RowScanPath::kBest;
}

bool RowScanPathSupported(RowScanPath path) {
  switch (path) {
    case RowScanPath::kBest:
    case RowScanPath::kPortable:
      return true;
    case RowScanPath::kAvx2:
#if defined(SCOREFIT_X86_KERNELS)
      __builtin_cpu_init();
      return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("bmi") &&
             __builtin_cpu_supports("popcnt");
#else
      return false;
#endif
  }
  return false;
}

RowScanner RowScannerFor(RowScanPath path) {
#if defined(SCOREFIT_X86_KERNELS)
  if (path != RowScanPath::kPortable && RowScanPathSupported(RowScanPath::kAvx2)) {
    return Avx2RowScanner();
  }
#else
  static_cast<void>(path);
#endif
  return PortableRowScanner();
}
