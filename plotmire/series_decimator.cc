#include "plotmire/series_decimator.h"

#include <algorithm>
#include <array>

namespace {

// Calls take(first, end) for each run of points that falls into one x slice.
template <typename Take>
void ForEachSlice(const QList<QPointF>& points, int buckets, Take take) {
  const double x0 = points.front().x();
  const double span = points.back().x() - x0;
  qsizetype first = 0;
  while (first < points.size()) {
    const int slice = span > 0 ? std::min(buckets - 1, static_cast<int>((points[first].x() - x0) / span * buckets)) : 0;
    qsizetype end = first + 1;
    while (end < points.size()) {
      const int s = span > 0 ? std::min(buckets - 1, static_cast<int>((points[end].x() - x0) / span * buckets)) : 0;
      if (s != slice) break;
      ++end;
    }
    take(first, end);
    first = end;
  }
}

}  // namespace

QList<QPointF> DecimateLine(const QList<QPointF>& points, int buckets) {
  if (buckets <= 0 || points.size() <= 4 * static_cast<qsizetype>(buckets)) return points;
  QList<QPointF> out;
  out.reserve(4 * buckets);
  ForEachSlice(points, buckets, [&](qsizetype first, qsizetype end) {
    qsizetype low = first;
    qsizetype high = first;
    for (qsizetype i = first + 1; i < end; ++i) {
      if (points[i].y() < points[low].y()) low = i;
      if (points[i].y() > points[high].y()) high = i;
    }
    std::array<qsizetype, 4> keep = {first, std::min(low, high), std::max(low, high), end - 1};
    qsizetype previous = -1;
    for (qsizetype i : keep) {
      if (i != previous) out.push_back(points[i]);
      previous = i;
    }
  });
  return out;
}

QList<qsizetype> TallestBars(const QList<QPointF>& bars, int buckets) {
  QList<qsizetype> kept;
  if (buckets <= 0 || bars.size() <= static_cast<qsizetype>(buckets)) {
    for (qsizetype i = 0; i < bars.size(); ++i) kept.push_back(i);
    return kept;
  }
  kept.reserve(buckets);
  ForEachSlice(bars, buckets, [&](qsizetype first, qsizetype end) {
    qsizetype tallest = first;
    for (qsizetype i = first + 1; i < end; ++i) {
      if (bars[i].y() > bars[tallest].y()) tallest = i;
    }
    kept.push_back(tallest);
  });
  return kept;
}

QList<QPointF> DecimateBars(const QList<QPointF>& bars, int buckets) {
  QList<QPointF> out;
  for (qsizetype i : TallestBars(bars, buckets)) out.push_back(bars[i]);
  return out;
}
