#include "plotmire/chart_data.h"

#include <gtest/gtest.h>

#include <limits>
#include <vector>

namespace {

ChartTick Tick(int h, int m, int s, double last, int64_t volume, double average = NAN) {
  ChartTick t;
  t.time_of_day = h * 3600 + m * 60 + s;
  t.last = last;
  t.volume = volume;
  t.average = average;
  return t;
}

TEST(ChartDataTest, TicksAreKeptInSessionOrderAndLateOnesMergedIntoPlace) {
  ChartData data;
  data.Append({Tick(21, 0, 0, 100, 10), Tick(9, 0, 0, 103, 40)});
  data.Append({Tick(21, 0, 1, 101, 20), Tick(9, 0, 1, 104, 50)});  // 21:00:01 arrives late
  ASSERT_EQ(data.size(), 4u);
  EXPECT_EQ(data.tick(1).volume, 20);
  EXPECT_EQ(data.tick(2).volume, 40);
  for (size_t i = 1; i < data.size(); ++i) EXPECT_LT(data.x(i - 1), data.x(i));
}

TEST(ChartDataTest, TickVolumeIsTheRiseOfTheCumulativeVolume) {
  ChartData data;
  data.Append({Tick(9, 0, 0, 100, 500), Tick(9, 0, 1, 101, 520), Tick(9, 0, 2, NAN, 520),
               Tick(9, 0, 3, 99, 510), Tick(9, 0, 4, 99, 530)});
  const std::vector<int64_t> volumes = {0, 20, 0, 0, 20};
  const std::vector<int> directions = {0, 1, 0, -1, 0};
  for (size_t i = 0; i < data.size(); ++i) {
    EXPECT_EQ(data.tick_volume(i), volumes[i]) << i;
    EXPECT_EQ(data.direction(i), directions[i]) << i;
  }
}

TEST(ChartDataTest, TickVolumeSaturatesOnExtremeCumulativeVolumes) {
  // Volumes come from the file as any 64-bit number; their difference must not overflow.
  constexpr int64_t kMax = std::numeric_limits<int64_t>::max();
  constexpr int64_t kMin = std::numeric_limits<int64_t>::min();
  ChartData data;
  data.Append({Tick(9, 0, 0, 100, -1), Tick(9, 0, 1, 100, kMax), Tick(9, 0, 2, 100, kMin),
               Tick(9, 0, 3, 100, kMax), Tick(9, 0, 4, 100, kMax - 5), Tick(9, 0, 5, 100, kMax)});
  const std::vector<int64_t> volumes = {0, kMax, 0, kMax, 0, 5};
  for (size_t i = 0; i < data.size(); ++i) EXPECT_EQ(data.tick_volume(i), volumes[i]) << i;
}

TEST(ChartDataTest, AnAveragePriceTimesTheContractSizeIsBroughtToThePriceScale) {
  struct Case {
    double last;
    double average;
    int divisor;
  };
  const std::vector<Case> cases = {
      {3725, 37251.23, 10}, {3725, 3724.5, 1}, {480.5, 480123.0, 1000}, {3600, 19250, 5}, {4000, 4400 * 10, 10}};
  for (const Case& c : cases) {
    ChartData data;
    data.Append({Tick(9, 0, 0, c.last, 1, c.average), Tick(9, 0, 1, NAN, 2, c.average)});
    EXPECT_EQ(data.average_divisor(), c.divisor) << c.average << "/" << c.last;
    EXPECT_DOUBLE_EQ(data.average(0), c.average / c.divisor);
  }
}

TEST(ChartDataTest, PricesAreShownWithTheDecimalsTheyNeed) {
  struct Case {
    double a;
    double b;
    int decimals;
  };
  for (const Case& c : std::vector<Case>{{3725, 3726, 0}, {3725, 3725.5, 1}, {480.12, 480.1, 2}, {NAN, 100, 0}}) {
    ChartData data;
    data.Append({Tick(9, 0, 0, c.a, 1), Tick(9, 0, 1, c.b, 2)});
    EXPECT_EQ(data.price_decimals(), c.decimals) << c.a << " " << c.b;
  }
}

TEST(ChartDataTest, TheNearestTickIsFoundOnBothSidesAndAtTheEnds) {
  ChartData data;
  EXPECT_EQ(data.NearestTick(0), -1);
  data.Append({Tick(9, 0, 0, 1, 1), Tick(9, 0, 30, 2, 2), Tick(9, 0, 30, 3, 3), Tick(9, 1, 0, 4, 4)});
  EXPECT_EQ(data.NearestTick(-5), 0);
  EXPECT_EQ(data.NearestTick(0.2), 0);
  EXPECT_EQ(data.NearestTick(0.4), 2) << "of ticks at one spot, the last";
  EXPECT_EQ(data.NearestTick(0.9), 3);
  EXPECT_EQ(data.NearestTick(50), 3);
}

TEST(ChartDataTest, TicksToDrawReachOneBeyondEachEdgeOfTheStretch) {
  ChartData data;
  data.Append({Tick(9, 0, 0, 1, 1), Tick(9, 1, 0, 2, 2), Tick(9, 2, 0, 3, 3), Tick(9, 3, 0, 4, 4), Tick(9, 4, 0, 5, 5)});
  EXPECT_EQ(data.TicksBetween(1.5, 2.5), (std::pair<size_t, size_t>{1, 4}));
  EXPECT_EQ(data.TicksBetween(1, 2), (std::pair<size_t, size_t>{0, 4}));
  EXPECT_EQ(data.TicksBetween(-10, 100), (std::pair<size_t, size_t>{0, 5}));
  EXPECT_EQ(data.TicksBetween(50, 60), (std::pair<size_t, size_t>{4, 5}));
  EXPECT_EQ(ChartData().TicksBetween(0, 1), (std::pair<size_t, size_t>{0, 0}));
}

TEST(ChartDataTest, TheReferencePriceIsThePreSettlementWhenKnown) {
  ChartData data;
  ChartTick a = Tick(9, 0, 0, 100, 1);
  a.pre_close = 98;
  data.Append({a});
  EXPECT_DOUBLE_EQ(data.reference_price(), 98);
  ChartTick b = Tick(9, 0, 1, 101, 2);
  b.pre_settlement = 99;
  data.Append({b});
  EXPECT_DOUBLE_EQ(data.reference_price(), 99);
  data.Clear();
  data.Append({Tick(9, 0, 0, NAN, 1), Tick(9, 0, 1, 105, 2)});
  EXPECT_DOUBLE_EQ(data.reference_price(), 105);
}

}  // namespace
