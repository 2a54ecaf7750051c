#ifndef QUOTELOOM_PLOTMIRE_SERIES_DECIMATOR_H
#define QUOTELOOM_PLOTMIRE_SERIES_DECIMATOR_H

#include <QList>
#include <QPointF>

// Thins a line of points in ascending x for drawing: within each of `buckets` equal slices of the
// x range it keeps the first, lowest, highest and last point, in their order. Drawn at a width of
// up to `buckets` pixels the line looks the same as the full one. Short lines come back whole.
QList<QPointF> DecimateLine(const QList<QPointF>& points, int buckets);

// Thins bars (x, height >= 0) in ascending x: per slice the tallest bar, at its own x.
QList<QPointF> DecimateBars(const QList<QPointF>& bars, int buckets);
// The indices of the bars that DecimateBars keeps.
QList<qsizetype> TallestBars(const QList<QPointF>& bars, int buckets);

#endif
