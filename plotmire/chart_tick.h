#ifndef QUOTELOOM_PLOTMIRE_CHART_TICK_H
#define QUOTELOOM_PLOTMIRE_CHART_TICK_H

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>

// One line of a per-contract tick file, as the chart needs it. Values that the file marks as
// missing (-1.00, the largest double, a price of 0) are held as NaN, so nothing draws them.
struct ChartTick {
  std::string contract;
  std::string trading_day;
  int time_of_day = 0;  // seconds since midnight of the update time
  int millis = 0;
  double last = NAN;
  int64_t volume = 0;  // cumulative for the day
  double high = NAN;
  double low = NAN;
  double open = NAN;
  double close = NAN;
  double average = NAN;
  double ask = NAN;
  int64_t ask_volume = 0;
  double bid = NAN;
  int64_t bid_volume = 0;
  double upper_limit = NAN;
  double lower_limit = NAN;
  double open_interest = NAN;
  double turnover = NAN;
  double pre_close = NAN;
  double pre_open_interest = NAN;
  double pre_settlement = NAN;
};

inline bool HasValue(double v) { return !std::isnan(v); }

#endif
