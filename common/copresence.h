#pragma once

#include <cstdint>
#include <limits>
#include <vector>

// Measures of how the sites of two motifs lie relative to each other, and simple frequency
// counts. Positions are 0-based start positions of sites in one sequence, in the order the
// search found them. None of these functions prints anything.

// The "no distance / no position" result: every bit set.
inline constexpr std::uint32_t kNoSitePosition = std::numeric_limits<std::uint32_t>::max();

// log10(a / b) when both a and b are above `floor`, otherwise 0 (also for a NaN argument).
double Log10RatioAbove(double a, double b, double floor);

// The element of `positions` nearest to `x` (the first one on ties); kNoSitePosition when the
// list is empty.
std::uint32_t ClosestPosition(std::uint32_t x, const std::vector<std::uint32_t>& positions);

// Finds the nearest pair (first element from `first_positions`, second from
// `second_positions`; the first pair in scan order on ties), writes it to the two outputs and
// returns first - second. Returns 0 and leaves the outputs alone when a list is empty.
std::int32_t ClosestPositions(std::uint32_t& first_out, std::uint32_t& second_out,
                              const std::vector<std::uint32_t>& first_positions,
                              const std::vector<std::uint32_t>& second_positions);

// Distance of the nearest pair of sites that qualifies under `overlap_mode` (OVERLAPMOT):
// YES takes overlapping sites only; NO takes sites that share no position, and with
// `order_flag` set only those where the second site starts after the first; ANY takes both.
// Writes the chosen pair to the outputs; kNoSitePosition (outputs untouched) when none qualifies.
std::uint32_t ClosestPositionsYesNoOverlap(std::uint32_t& first_out, std::uint32_t& second_out,
                                           const std::vector<std::uint32_t>& first_positions,
                                           const std::vector<std::uint32_t>& second_positions,
                                           std::uint32_t first_length, std::uint32_t second_length,
                                           int overlap_mode, int order_flag);

// Co-presence score of a 2x2 table of counts (cell 0 both motifs, 1 first only, 2 second
// only, 3 neither; later cells are ignored): log10 of the observed joint frequency over the
// frequency expected under independence, 0 when either is not above `floor`, when the table
// is all zeros, or when it has fewer than four cells.
double CoPresenceLogOdds(const std::vector<std::uint32_t>& table, double floor);

// Adds 1 to counters[j] for the first bound j with bounds[j] >= value, or to the last
// counter (index bounds.size()) when no bound qualifies or the value is NaN. Counters are not
// reset; when there are fewer than bounds.size() + 1 of them, zeros are appended first.
// Returns 0.
int CountIntoBins(std::vector<double>& counters, const std::vector<double>& values,
                  const std::vector<double>& bounds);
