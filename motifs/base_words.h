#pragma once

#include <cstddef>
#include <cstdint>

// Calls add(word) for every word of `count` bases (2 bits a base: A 0, T 1, G 2, C 3, the
// first base highest) whose base i is one that masks[i] takes (A 1, T 2, G 4, C 8).
template <typename Add>
void ForEachBaseWord(const std::uint8_t* masks, std::size_t count, std::uint32_t prefix,
                     Add&& add) {
  if (count == 0) {
    add(prefix);
    return;
  }
  for (std::uint32_t base = 0; base < 4; ++base) {
    if ((masks[0] & (1u << base)) != 0)
      ForEachBaseWord(masks + 1, count - 1, (prefix << 2) | base, add);
  }
}
