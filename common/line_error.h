#pragma once

#include <cstddef>
#include <string>

// What was wrong with an input, as a reader returns it instead of printing it: the line
// (counted from 1; 0 for a problem of the whole input) and what was wrong there.
struct LineError {
  std::size_t line_number = 0;
  std::string what;
};
