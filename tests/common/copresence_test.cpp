#include "common/copresence.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "common/util_enums.h"

namespace {

using Positions = std::vector<std::uint32_t>;
constexpr std::uint32_t kUntouched = 777;

TEST(ClosestPosition, NearestElementFirstOnTiesNoneWhenEmpty) {
  EXPECT_EQ(ClosestPosition(10, {4, 16, 12}), 12u);
  EXPECT_EQ(ClosestPosition(10, {8, 12}), 8u);
  EXPECT_EQ(ClosestPosition(10, {12, 8}), 12u);
  EXPECT_EQ(ClosestPosition(0, {kNoSitePosition}), kNoSitePosition);
  EXPECT_EQ(ClosestPosition(10, {}), kNoSitePosition);
  EXPECT_EQ(kNoSitePosition, 0xFFFFFFFFu);
}

TEST(ClosestPositions, SignedDifferenceOfNearestPairOutputsOnlyWhenChosen) {
  std::uint32_t first = kUntouched, second = kUntouched;
  EXPECT_EQ(ClosestPositions(first, second, {5, 30}, {20, 33}), -3);
  EXPECT_EQ(first, 30u);
  EXPECT_EQ(second, 33u);

  // Ties: the first pair in scan order (first list outer, second list inner) wins.
  EXPECT_EQ(ClosestPositions(first, second, {10, 20}, {15, 25}), -5);
  EXPECT_EQ(first, 10u);
  EXPECT_EQ(second, 15u);
  EXPECT_EQ(ClosestPositions(first, second, {40}, {2, 38}), 2);
  EXPECT_EQ(second, 38u);

  first = second = kUntouched;
  EXPECT_EQ(ClosestPositions(first, second, {5, 30}, {}), 0);
  EXPECT_EQ(ClosestPositions(first, second, {}, {5}), 0);
  EXPECT_EQ(first, kUntouched);
  EXPECT_EQ(second, kUntouched);
}

// First site length 4, second site length 3, as (m1, m2, overlapping).
TEST(ClosestPositionsYesNoOverlap, OverlapMeansSharingAPosition) {
  struct Case {
    std::uint32_t first, second;
    bool overlap;
  };
  const Case cases[] = {
      {10, 12, true},
      {10, 7, false},
      {10, 8, true},
      {10, 14, false},
      {10, 13, true},
      {3, 0, false},
      {3, 1, true},
      {2, 0, true},
      {0, 0, true},
      {0, 4, false},
      {kNoSitePosition - 1, kNoSitePosition - 2, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.first << "," << c.second);
    std::uint32_t first = kUntouched, second = kUntouched;
    const std::uint32_t distance = c.first > c.second ? c.first - c.second : c.second - c.first;
    EXPECT_EQ(
        ClosestPositionsYesNoOverlap(first, second, {c.first}, {c.second}, 4, 3, OVERLAPMOT_YES, 0),
        c.overlap ? distance : kNoSitePosition);
    EXPECT_EQ(
        ClosestPositionsYesNoOverlap(first, second, {c.first}, {c.second}, 4, 3, OVERLAPMOT_NO, 0),
        c.overlap ? kNoSitePosition : distance);
    EXPECT_EQ(
        ClosestPositionsYesNoOverlap(first, second, {c.first}, {c.second}, 4, 3, OVERLAPMOT_ANY, 0),
        distance);
  }
}

TEST(ClosestPositionsYesNoOverlap, ModesOrderFlagAndOutputs) {
  std::uint32_t first = kUntouched, second = kUntouched;
  EXPECT_EQ(ClosestPositionsYesNoOverlap(first, second, {10}, {12, 20}, 4, 3, OVERLAPMOT_YES, 0),
            2u);
  EXPECT_EQ(second, 12u);
  EXPECT_EQ(ClosestPositionsYesNoOverlap(first, second, {10}, {12, 20}, 4, 3, OVERLAPMOT_NO, 0),
            10u);
  EXPECT_EQ(first, 10u);
  EXPECT_EQ(second, 20u);

  // The order flag drops non-overlapping pairs where the second site comes first, and only
  // those.
  first = second = kUntouched;
  EXPECT_EQ(ClosestPositionsYesNoOverlap(first, second, {10}, {2}, 4, 3, OVERLAPMOT_NO, 1),
            kNoSitePosition);
  EXPECT_EQ(first, kUntouched);
  EXPECT_EQ(second, kUntouched);
  EXPECT_EQ(ClosestPositionsYesNoOverlap(first, second, {10}, {2, 30}, 4, 3, OVERLAPMOT_NO, 1),
            20u);
  EXPECT_EQ(ClosestPositionsYesNoOverlap(first, second, {10}, {2, 9, 30}, 4, 3, OVERLAPMOT_ANY, 1),
            1u);
  EXPECT_EQ(second, 9u);
  EXPECT_EQ(ClosestPositionsYesNoOverlap(first, second, {10}, {2, 30}, 4, 3, OVERLAPMOT_ANY, 1),
            20u);

  // Equal distances: the first qualifying pair in scan order.
  EXPECT_EQ(ClosestPositionsYesNoOverlap(first, second, {20, 10}, {15}, 1, 1, OVERLAPMOT_NO, 0),
            5u);
  EXPECT_EQ(first, 20u);

  first = second = kUntouched;
  for (int mode : {3, 4, -1}) {
    EXPECT_EQ(ClosestPositionsYesNoOverlap(first, second, {10}, {10, 12}, 4, 3, mode, 0),
              kNoSitePosition);
  }
  EXPECT_EQ(ClosestPositionsYesNoOverlap(first, second, {}, {10}, 4, 3, OVERLAPMOT_ANY, 0),
            kNoSitePosition);
  EXPECT_EQ(ClosestPositionsYesNoOverlap(first, second, {10}, {}, 4, 3, OVERLAPMOT_ANY, 0),
            kNoSitePosition);
  EXPECT_EQ(first, kUntouched);
}

TEST(Log10RatioAbove, ComputedOnlyAboveTheFloor) {
  EXPECT_EQ(Log10RatioAbove(0.2, 0.1, 0.5), 0.0);
  EXPECT_DOUBLE_EQ(Log10RatioAbove(1, 0.1, 0), 1.0);
  EXPECT_EQ(Log10RatioAbove(0.5, 0.1, 0.5), 0.0);
  EXPECT_EQ(Log10RatioAbove(std::nan(""), 0.1, 0), 0.0);
}

TEST(CoPresenceLogOdds, ObservedOverExpectedJointFrequency) {
  EXPECT_DOUBLE_EQ(CoPresenceLogOdds({25, 25, 25, 25}, 0), 0.0);
  EXPECT_DOUBLE_EQ(CoPresenceLogOdds({50, 0, 0, 50}, 0), std::log10(2.0));
  EXPECT_EQ(CoPresenceLogOdds({0, 50, 50, 0}, 0), 0.0);
  EXPECT_EQ(CoPresenceLogOdds({0, 0, 0, 0}, 0), 0.0);
  // Cells after the fourth are ignored; a table of fewer than four cells scores 0.
  EXPECT_DOUBLE_EQ(CoPresenceLogOdds({50, 0, 0, 50, 1000}, 0), std::log10(2.0));
  EXPECT_EQ(CoPresenceLogOdds({50, 0, 0}, 0), 0.0);
  EXPECT_EQ(CoPresenceLogOdds({}, 0), 0.0);
  // Frequencies at the floor give 0.
  EXPECT_EQ(CoPresenceLogOdds({25, 25, 25, 25}, 0.25), 0.0);
  // Counts whose total exceeds 32 bits still give the value of the same proportions.
  const std::uint32_t big = 0x80000000u;
  EXPECT_DOUBLE_EQ(CoPresenceLogOdds({big, 0, 0, big}, 0), std::log10(2.0));
}

TEST(CountIntoBins, FirstBoundAtOrAboveTheValueLastCounterForTheRest) {
  std::vector<double> counters = {0, 0, 0, 0};
  EXPECT_EQ(CountIntoBins(counters, {0.5, 2, 2.5, 9}, {1, 2, 3}), 0);
  EXPECT_EQ(counters, (std::vector<double>{1, 1, 1, 1}));

  // Counters accumulate; NaN goes to the last counter.
  EXPECT_EQ(CountIntoBins(counters, {1, std::nan(""), -5}, {1, 2, 3}), 0);
  EXPECT_EQ(counters, (std::vector<double>{3, 1, 1, 2}));

  // No bounds: everything lands in the only counter. Too few counters are extended.
  std::vector<double> single;
  CountIntoBins(single, {1, 2}, {});
  EXPECT_EQ(single, (std::vector<double>{2}));
  std::vector<double> short_counters = {4};
  CountIntoBins(short_counters, {2.5}, {1, 2, 3});
  EXPECT_EQ(short_counters, (std::vector<double>{4, 0, 1, 0}));
}

}  // namespace
