#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "common/byte_source.h"

// Stops the run when an invariant does not hold: libFuzzer then saves the input as a
// crash. `what` names the invariant in the report.
inline void Require(bool condition, const char* what) {
  if (condition) return;
  std::fprintf(stderr, "invariant violated: %s\n", what);
  std::abort();
}

// A memory source that hands out at most `step` bytes per read. Readers take each read as
// a block, so small reads put lines, headers and line ends across blocks as only inputs of
// megabytes would otherwise.
class ChunkedSource : public ByteSource {
 public:
  ChunkedSource(std::string_view bytes, std::size_t step) : memory_(bytes), step_(step) {}
  std::ptrdiff_t Read(char* buffer, std::size_t capacity) override {
    return memory_.Read(buffer, std::min(capacity, step_));
  }

 private:
  MemorySource memory_;
  std::size_t step_;
};
