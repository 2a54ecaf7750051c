#include "platform/frontsim/sim_trading_day.h"

#include <cstdio>
#include <ctime>

std::string FrontTradingDay(const ClockReading& now) {
  int ahead = 0;
  if (now.hour < 18) {
    ahead = now.weekday == 7 ? 2 : 0;
  } else {
    ahead = now.weekday == 6 ? 3 : 1;
  }
  // Noon keeps the date arithmetic clear of daylight-saving shifts.
  std::tm date{};
  date.tm_year = now.year - 1900;
  date.tm_mon = now.month - 1;
  date.tm_mday = now.day + ahead;
  date.tm_hour = 12;
  std::time_t when = ::timegm(&date);
  std::tm normal{};
  ::gmtime_r(&when, &normal);
  char text[40];
  std::snprintf(text, sizeof text, "%04d%02d%02d", normal.tm_year + 1900, normal.tm_mon + 1, normal.tm_mday);
  return text;
}
