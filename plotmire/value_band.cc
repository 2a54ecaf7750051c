#include "plotmire/value_band.h"

#include <algorithm>

double NiceStep(double span, int ticks) {
  const double raw = span / ticks;
  if (!(raw > 0) || !std::isfinite(raw)) return 1;
  const double magnitude = std::pow(10.0, std::floor(std::log10(raw)));
  const double norm = raw / magnitude;
  return (norm < 1.5 ? 1 : norm < 3 ? 2 : norm < 7 ? 5 : 10) * magnitude;
}

ValueBand ValueBand::Padded(double low, double high, double pad, double bottom, double top, double floor_at) {
  double span = high - low;
  if (span <= 0) span = std::max(1.0, std::abs(high) * 0.002);
  return {std::max(floor_at, low - span * pad), high + span * pad, bottom, top};
}

double ValueBand::At(double v) const { return bottom + (v - low) / (high - low) * (top - bottom); }

std::pair<double, double> ValueBand::AxisRange() const {
  const double per_unit = (top - bottom) / (high - low);
  return {low - bottom / per_unit, high + (1 - top) / per_unit};
}

std::vector<std::pair<double, QString>> ValueBand::RoundLabels(int ticks, int decimals, double reference) const {
  const bool percent = reference > 0;
  auto shown = [&](double v) { return percent ? (v / reference - 1) * 100 : v; };
  const double from = shown(low);
  const double to = shown(high);
  const double step = std::max(NiceStep(to - from, ticks), std::pow(10.0, -decimals));
  std::vector<std::pair<double, QString>> labels;
  // Counted rather than summed: on values far larger than the step a running sum stops moving.
  const double first = std::ceil(from / step);
  const int most = std::max(ticks, 1) * 4 + 4;
  double previous = NAN;
  for (int k = 0; k < most; ++k) {
    const double v = (first + k) * step;
    if (!(v <= to + step * 1e-9)) break;
    if (v == previous) continue;
    previous = v;
    const double value = std::abs(v) < step * 1e-9 ? 0 : v;  // no "-0.00"
    const double at = At(percent ? reference * (1 + value / 100) : value);
    labels.push_back({at, QString::number(value, 'f', decimals) + (percent ? QStringLiteral("%") : QString())});
  }
  return labels;
}
