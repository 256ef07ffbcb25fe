#pragma once

#include <cstdio>
#include <cstdlib>

// Stops the run when an invariant does not hold: libFuzzer then saves the input as a
// crash. `what` names the invariant in the report.
inline void Require(bool condition, const char* what) {
  if (condition) return;
  std::fprintf(stderr, "invariant violated: %s\n", what);
  std::abort();
}
