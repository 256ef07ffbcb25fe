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

std::size_t ByteAt(std::uint64_t bits) { return static_cast<unsigned>(std::countr_zero(bits)) / 8; }

// The number of bytes that match in a mask of FindInWord.
std::size_t MatchCount(std::uint64_t bits) {
  return static_cast<std::size_t>(((bits >> 7) * 0x0101010101010101) >> 56);
}

// Eight bytes at a time, each cell checked on its own; whether the cells that end in the
// eight bytes have coefficients is checked once for all of them.
RowScan ScanRowPortable(const char* row, const double* b, std::size_t terms) {
  RowSum sum(b, terms);
  const char* cell = row;
  for (const char* bytes = row;; bytes += 8) {
    std::uint64_t tabs;
    std::uint64_t line_feeds;
    FindInWord(bytes, tabs, line_feeds);
    const std::uint64_t line_end = line_feeds & (0 - line_feeds);
    // The tabs before the line feed (all of them when there is none), and the line feed.
    const std::uint64_t ends = (tabs & (line_end - 1)) | line_end;
    if (sum.CanTakeUsual(MatchCount(ends))) {
      for (std::uint64_t rest = ends; rest != 0; rest &= rest - 1) {
        const char* const end = bytes + ByteAt(rest);
        sum.Take<true>(cell, end);
        cell = end + 1;
      }
    } else {
      for (std::uint64_t rest = ends; rest != 0; rest &= rest - 1) {
        const char* const end = bytes + ByteAt(rest);
        sum.Take(cell, end);
        cell = end + 1;
      }
    }
    if (line_end != 0) {
      return sum.Result(static_cast<std::size_t>(bytes + ByteAt(line_end) - row));
    }
  }
}

}  // namespace

RowScanner PortableRowScanner() { return ScanRowPortable; }
