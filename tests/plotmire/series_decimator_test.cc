#include "plotmire/series_decimator.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

namespace {

QList<QPointF> RandomWalk(int n) {
  std::mt19937 rng(7);
  std::normal_distribution<double> step(0, 1);
  QList<QPointF> points;
  double y = 0;
  for (int i = 0; i < n; ++i) points.push_back(QPointF(i * 0.01, y += step(rng)));
  return points;
}

double MinY(const QList<QPointF>& p) {
  return std::min_element(p.begin(), p.end(), [](auto a, auto b) { return a.y() < b.y(); })->y();
}
double MaxY(const QList<QPointF>& p) {
  return std::max_element(p.begin(), p.end(), [](auto a, auto b) { return a.y() < b.y(); })->y();
}

TEST(SeriesDecimatorTest, ALongLineKeepsItsEnvelopeEndsAndOrder) {
  const QList<QPointF> full = RandomWalk(100000);
  const QList<QPointF> thin = DecimateLine(full, 500);
  EXPECT_LE(thin.size(), 2000);
  EXPECT_EQ(thin.front(), full.front());
  EXPECT_EQ(thin.back(), full.back());
  EXPECT_DOUBLE_EQ(MinY(thin), MinY(full));
  EXPECT_DOUBLE_EQ(MaxY(thin), MaxY(full));
  for (qsizetype i = 1; i < thin.size(); ++i) EXPECT_LT(thin[i - 1].x(), thin[i].x());
  // Every slice keeps its own extremes, not only the whole line's.
  const QList<QPointF> first_slice(full.begin(), full.begin() + 200);
  EXPECT_DOUBLE_EQ(MaxY(QList<QPointF>(thin.begin(), thin.begin() + 4)), MaxY(first_slice));
}

TEST(SeriesDecimatorTest, BarsKeepTheTallestOfEachSlice) {
  QList<QPointF> bars;
  for (int i = 0; i < 1000; ++i) bars.push_back(QPointF(i, i % 10 == 3 ? 50 + i : 1));
  const QList<QPointF> thin = DecimateBars(bars, 100);
  ASSERT_EQ(thin.size(), 100);
  for (const QPointF& b : thin) EXPECT_EQ(static_cast<int>(b.x()) % 10, 3);
  EXPECT_DOUBLE_EQ(MaxY(thin), 50 + 993);
}

TEST(SeriesDecimatorTest, ShortSeriesComeBackWhole) {
  const QList<QPointF> few = RandomWalk(40);
  EXPECT_EQ(DecimateLine(few, 10), few);
  EXPECT_EQ(DecimateBars(few, 40), few);
}

}  // namespace
