#pragma once

#include <cstdint>
#include <limits>
#include <stdexcept>
#include <vector>

// Most elements a collection with a 32-bit counter holds.
inline constexpr std::uint32_t kMostCountedItems = std::numeric_limits<std::uint32_t>::max();

// Grows a collection that keeps a counter beside its vector (the sequence set, the motif
// set, the string list) by one default element, and returns that element for filling in
// place. The counter and the vector change together here and nowhere else, so they never
// disagree. A collection already holding `limit` elements is never wrapped around: it
// throws std::length_error instead (readers check CanAppendCounted first and report).
template <typename Item, std::uint32_t limit = kMostCountedItems>
Item& AppendCounted(std::uint32_t& count, std::vector<Item>& items) {
  if (count >= limit) throw std::length_error("a counted collection is full");
  ++count;
  items.resize(count);
  return items.back();
}

// True when a collection with this counter can take one more element.
template <std::uint32_t limit = kMostCountedItems>
bool CanAppendCounted(std::uint32_t count) {
  return count < limit;
}
