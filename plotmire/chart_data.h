#ifndef QUOTELOOM_PLOTMIRE_CHART_DATA_H
#define QUOTELOOM_PLOTMIRE_CHART_DATA_H

#include <cstdint>
#include <vector>

#include "plotmire/chart_tick.h"
#include "plotmire/session_axis.h"

// The ticks of one chart in time order (night session first) and what is drawn of each: its
// place on the session axis, its own volume and its average price. Used on the GUI thread.
class ChartData {
 public:
  // Adds ticks read from the file; a tick older than those already held is merged into place.
  void Append(std::vector<ChartTick> ticks);
  void Clear();

  bool empty() const { return ticks_.empty(); }
  size_t size() const { return ticks_.size(); }
  const ChartTick& tick(size_t i) const { return ticks_[i]; }
  const SessionAxis& axis() const { return axis_; }

  double x(size_t i) const { return xs_[i]; }
  // Volume traded by this tick: the rise of the cumulative volume since the tick before;
  // 0 for the first tick and where the cumulative volume fell.
  int64_t tick_volume(size_t i) const { return tick_volumes_[i]; }
  // Whether the last price rose (1), fell (-1) or stayed (0) against the last tick with a price.
  int direction(size_t i) const { return directions_[i]; }
  // Average price on the scale of the last price (see average_divisor), NaN when there is none.
  double average(size_t i) const;
  // Some exchanges send the average price times the contract size; this is that size, else 1.
  int average_divisor() const { return average_divisor_; }

  // The reference price of the day: pre-settlement, else pre-close, else the first last price.
  double reference_price() const { return reference_price_; }

  // Index of the tick nearest to an axis position; -1 when there are no ticks.
  int NearestTick(double x) const;

 private:
  void Derive();
  int EstimateAverageDivisor() const;

  std::vector<ChartTick> ticks_;
  std::vector<int64_t> keys_;  // session key in milliseconds
  SessionAxis axis_;
  std::vector<double> xs_;
  std::vector<int64_t> tick_volumes_;
  std::vector<int> directions_;
  int average_divisor_ = 1;
  double reference_price_ = NAN;
};

#endif
