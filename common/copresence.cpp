#include "common/copresence.h"

#include <cmath>

#include "common/util_enums.h"

namespace {

std::uint32_t Distance(std::uint32_t a, std::uint32_t b) { return a > b ? a - b : b - a; }

// Whether the sites [first_start, first_start + first_length) and
// [second_start, second_start + second_length) share a position. Computed in 64 bits so
// that sites near the top of the position range do not wrap around.
bool SitesOverlap(std::uint32_t first_start, std::uint32_t first_length, std::uint32_t second_start,
                  std::uint32_t second_length) {
  const std::uint64_t first_end = std::uint64_t{first_start} + first_length;
  const std::uint64_t second_end = std::uint64_t{second_start} + second_length;
  return second_end > first_start && second_start < first_end;
}

bool PairQualifies(bool overlap, bool second_after_first, int overlap_mode, int order_flag) {
  const bool order_ok = order_flag == 0 || second_after_first;
  switch (overlap_mode) {
    case OVERLAPMOT_YES:
      return overlap;
    case OVERLAPMOT_NO:
      return !overlap && order_ok;
    case OVERLAPMOT_ANY:
      return overlap || order_ok;
    default:
      return false;
  }
}

}  // namespace

double Log10RatioAbove(double a, double b, double floor) {
  if (a > floor && b > floor) return std::log10(a / b);
  return 0;
}

std::uint32_t ClosestPosition(std::uint32_t x, const std::vector<std::uint32_t>& positions) {
  if (positions.empty()) return kNoSitePosition;
  std::uint32_t best_position = positions.front();
  std::uint32_t best_distance = Distance(best_position, x);
  for (const std::uint32_t position : positions) {
    const std::uint32_t distance = Distance(position, x);
    if (distance < best_distance) {
      best_distance = distance;
      best_position = position;
    }
  }
  return best_position;
}

std::int32_t ClosestPositions(std::uint32_t& first_out, std::uint32_t& second_out,
                              const std::vector<std::uint32_t>& first_positions,
                              const std::vector<std::uint32_t>& second_positions) {
  if (first_positions.empty() || second_positions.empty()) return 0;
  std::uint32_t best_first = first_positions.front();
  std::uint32_t best_second = second_positions.front();
  std::uint32_t best_distance = Distance(best_first, best_second);
  for (const std::uint32_t first : first_positions) {
    for (const std::uint32_t second : second_positions) {
      const std::uint32_t distance = Distance(first, second);
      if (distance < best_distance) {
        best_distance = distance;
        best_first = first;
        best_second = second;
      }
    }
  }
  first_out = best_first;
  second_out = best_second;
  return static_cast<std::int32_t>(best_first - best_second);
}

std::uint32_t ClosestPositionsYesNoOverlap(std::uint32_t& first_out, std::uint32_t& second_out,
                                           const std::vector<std::uint32_t>& first_positions,
                                           const std::vector<std::uint32_t>& second_positions,
                                           std::uint32_t first_length, std::uint32_t second_length,
                                           int overlap_mode, int order_flag) {
  std::uint32_t best = kNoSitePosition;
  for (const std::uint32_t first : first_positions) {
    for (const std::uint32_t second : second_positions) {
      const bool overlap = SitesOverlap(first, first_length, second, second_length);
      if (!PairQualifies(overlap, second > first, overlap_mode, order_flag)) continue;
      const std::uint32_t distance = Distance(first, second);
      if (distance < best) {
        best = distance;
        first_out = first;
        second_out = second;
      }
    }
  }
  return best;
}

double CoPresenceLogOdds(const std::vector<std::uint32_t>& table, double floor) {
  if (table.size() < 4) return 0;
  // Sums in double are exact for any four 32-bit counts; a 32-bit sum could wrap.
  const double both = table[0];
  const double first_only = table[1];
  const double second_only = table[2];
  const double neither = table[3];
  const double total = both + first_only + second_only + neither;
  const double first_frequency = (both + first_only) / total;
  const double second_frequency = (both + second_only) / total;
  const double joint_frequency = both / total;
  return Log10RatioAbove(joint_frequency, first_frequency * second_frequency, floor);
}

int CountIntoBins(std::vector<double>& counters, const std::vector<double>& values,
                  const std::vector<double>& bounds) {
  if (counters.size() < bounds.size() + 1) counters.resize(bounds.size() + 1, 0.0);
  for (const double value : values) {
    std::size_t bin = 0;
    while (bin < bounds.size() && !(bounds[bin] >= value)) ++bin;
    counters[bin] += 1.0;
  }
  return 0;
}
