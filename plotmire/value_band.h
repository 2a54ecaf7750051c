#ifndef QUOTELOOM_PLOTMIRE_VALUE_BAND_H
#define QUOTELOOM_PLOTMIRE_VALUE_BAND_H

#include <QString>

#include <cmath>
#include <utility>
#include <vector>

// A round step for about `ticks` steps over a span: 1, 2 or 5 times a power of ten.
double NiceStep(double span, int ticks);

// A range of values drawn on a band of the plot height, the band given as fractions of that
// height from the bottom (0) to the top (1). Lets the price and the volume pane share one plot.
struct ValueBand {
  double low;
  double high;
  double bottom;
  double top;

  // The range widened by `pad` of its span on both sides (not below floor_at); an empty range
  // becomes a small one around its value.
  static ValueBand Padded(double low, double high, double pad, double bottom, double top, double floor_at = -INFINITY);

  // Where a value lands, as a fraction of the plot height.
  double At(double v) const;
  // The range an axis over the whole plot height needs so that low lands on bottom and high on top.
  std::pair<double, double> AxisRange() const;
  // Labels at round values, at about `ticks` steps and never finer than the last decimal shown,
  // as (fraction of the plot height, text). With a reference price they are the change against it
  // in percent, such as "-0.50%".
  std::vector<std::pair<double, QString>> RoundLabels(int ticks, int decimals, double reference = NAN) const;
};

#endif
