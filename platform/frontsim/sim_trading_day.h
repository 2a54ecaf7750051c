#ifndef QUOTELOOM_PLATFORM_FRONTSIM_SIM_TRADING_DAY_H
#define QUOTELOOM_PLATFORM_FRONTSIM_SIM_TRADING_DAY_H

#include <string>

#include "core/clock.h"

// The trading day a front announces at a clock reading: from 18:00 the next day, Friday evening and
// Saturday daytime the following Monday (the collector's own rule). Eight digits yyyymmdd. Any thread.
std::string FrontTradingDay(const ClockReading& now);

#endif
