#pragma once

#include <cstdint>
#include <string>

#include "stats/sample.h"

// A frequency table of a sample over bins whose upper edges come from a file, with relative,
// cumulative and cumulative relative frequencies and a final "More" bin for the values above
// every edge. Call setBins, then countSample, then write. A histogram that never saw setBins
// has zero edges: everything it counts goes to "More".
struct Histogram_1D {
  std::uint32_t binCount = 0;    // number of edges
  std::uint32_t valueCount = 0;  // number of values of the last countSample
  Sample_1D Bin;                 // the edges, in file order
  Sample_1D Frequency;           // binCount + 1 counts, the last one for "More"
  Sample_1D RelativeFrequency;
  Sample_1D CumulativeFrequency;
  Sample_1D CumulativeRelativeFrequency;

  Histogram_1D();

  // Appends the numbers of the named file (one a line; other lines are skipped) to the edges
  // and sets every count to 0. Exits with code 1 when the file cannot be opened. Returns 0.
  int setBins(const std::string& fileName);
  // Counts each value into the first bin whose edge is at least the value ("More" when none
  // is) and recomputes the three derived columns. Returns 0.
  int countSample(const Sample_1D& sample);
  // Appends the report (header, one row per edge, the "More" row) to the named file. Exits
  // with code 1 when the file cannot be opened. Returns 0.
  int write(const std::string& fileName) const;
};
