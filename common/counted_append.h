#pragma once

#include <cstdint>
#include <vector>

// Grows a collection that keeps a counter beside its vector (the sequence set, the motif
// set, the string list) by one default element, and returns that element for filling in
// place. The counter and the vector change together here and nowhere else, so they never
// disagree.
template <typename Item>
Item& AppendCounted(std::uint32_t& count, std::vector<Item>& items) {
  ++count;
  items.resize(count);
  return items.back();
}
