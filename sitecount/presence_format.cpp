#include "sitecount/presence_format.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstring>
#include <string_view>

#include "common/number_text.h"

namespace {

constexpr int kFormatPresence = 0;
constexpr int kFormatCount = 1;

// A double as the stream writes it by default: "%g" with six significant digits, which
// std::to_chars gives byte for byte (nan and inf included) at a fraction of the cost.
void AppendDouble(std::string& text, double value) {
  char buffer[32];
  const char* end =
      std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, 6).ptr;
  text.append(buffer, static_cast<std::size_t>(end - buffer));
}

}  // namespace

void AppendPresenceRow(std::string& text, const std::string& header,
                       std::span<const std::uint64_t> counts, int output_format) {
  const std::size_t last_tab = header.rfind('\t');
  if (last_tab != std::string::npos) {
    // A score that is not a number is written as nan in both columns.
    const double score = StringToDouble(std::string_view(header).substr(last_tab));
    AppendDouble(text, score);
    text += '\t';
    AppendDouble(text, std::log(score));
  }
  // The cells are written through a pointer into a buffer kept by the thread, then added
  // to the text at once: a row of hundreds of cells costs one append, not two per cell.
  constexpr std::size_t kLongestCell = 1 + 20;  // a tab and the digits of a 64-bit count
  thread_local std::string cells;
  if (cells.size() < counts.size() * kLongestCell + 1)
    cells.resize(counts.size() * kLongestCell + 1);
  char* out = cells.data();
  // One loop per format, each without a branch on the usual cells: in a presence table
  // most counts are 0 and nearly all are below 10.
  if (output_format == kFormatCount) {
    const auto append_cells = [&out](std::span<const std::uint64_t> cells_counts) {
      for (const std::uint64_t count : cells_counts) {
        *out++ = '\t';
        if (count < 10) [[likely]] {
          *out++ = static_cast<char>('0' + count);
        } else {
          out = std::to_chars(out, out + 20, count).ptr;
        }
      }
    };
    // Sixteen cells at a time when they are all below 8, as nearly all are: the counts ORed
    // tell it, and four cells, each a tab and a digit, are built in one 64-bit word.
    constexpr std::size_t kRun = 16;
    std::size_t at = 0;
    for (; at + kRun <= counts.size(); at += kRun) {
      std::uint64_t any = 0;
      for (std::size_t k = 0; k < kRun; ++k) any |= counts[at + k];
      if (any >= 8) {
        append_cells(counts.subspan(at, kRun));
        continue;
      }
      for (std::size_t k = 0; k < kRun; k += 4) {
        // Bytes: tab, '0' + count, four times; '0' has its three lowest bits clear.
        std::uint64_t four = 0x3009300930093009ull | counts[at + k] << 8 |
                             counts[at + k + 1] << 24 | counts[at + k + 2] << 40 |
                             counts[at + k + 3] << 56;
        if constexpr (std::endian::native == std::endian::big) four = __builtin_bswap64(four);
        std::memcpy(out + 2 * k, &four, sizeof four);
      }
      out += 2 * kRun;
    }
    append_cells(counts.subspan(at));
  } else if (output_format == kFormatPresence) {
    for (const std::uint64_t count : counts) {
      *out++ = '\t';
      *out++ = count != 0 ? '1' : '0';
    }
  } else {
    // Any other format: an absent motif is "0", a present one an empty cell.
    for (const std::uint64_t count : counts) {
      *out++ = '\t';
      *out = '0';
      out += count == 0 ? 1 : 0;
    }
  }
  *out++ = '\n';
  text.append(cells.data(), static_cast<std::size_t>(out - cells.data()));
}
