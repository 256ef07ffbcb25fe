#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "scorefit/row_scan_kernel.h"

namespace {

// The tabs and the line feeds among the eight bytes at `bytes`: the top bit of each byte of
// a mask is set where that byte matches, the first byte in the lowest bits.
void FindInWord(const char* bytes, std::uint64_t& tabs, std::uint64_t& line_feeds) {
  constexpr std::uint64_t kOnes = 0x0101010101010101;
  constexpr std::uint64_t kLow7 = 0x7F7F7F7F7F7F7F7F;
  std::uint64_t word;
  std::memcpy(&word, bytes, sizeof word);
  if constexpr (std::endian::native == std::endian::big) word = __builtin_bswap64(word);
  // Exact for every byte: no carry crosses from one byte into the next.
  const std::uint64_t tab_bytes = word ^ (kOnes * '\t');
  tabs = ~(((tab_bytes & kLow7) + kLow7) | tab_bytes | kLow7);
  // Exact for the lowest match, the only one used: a borrow only runs upwards from it.
  const std::uint64_t line_feed_bytes = word ^ (kOnes * '\n');
  line_feeds = (line_feed_bytes - kOnes) & ~line_feed_bytes & ~kLow7;
}

std::size_t ByteAt(std::uint64_t bits) {
  return static_cast<std::size_t>(std::countr_zero(bits)) / 8;
}

// Eight bytes at a time, each cell checked on its own.
RowScan ScanRowPortable(const char* row, const double* b, std::size_t terms) {
  RowSum sum(b, terms);
  const char* cell = row;
  for (const char* bytes = row;; bytes += 8) {
    std::uint64_t tabs;
    std::uint64_t line_feeds;
    FindInWord(bytes, tabs, line_feeds);
    const std::uint64_t line_end = line_feeds & (0 - line_feeds);
    tabs &= line_end - 1;  // the tabs before the line feed; all of them when there is none
    while (tabs != 0) {
      const char* const end = bytes + ByteAt(tabs);
      tabs &= tabs - 1;
      sum.Take(cell, end);
      cell = end + 1;
    }
    if (line_end != 0) {
      const char* const end = bytes + ByteAt(line_end);
      sum.Take(cell, end);
      return sum.Result(static_cast<std::size_t>(end - row));
    }
  }
}

}  // namespace

RowScanner PortableRowScanner() { return ScanRowPortable; }
