#include "cluster/filing_day.h"

#include <cstdlib>
#include <ctime>

#include "core/clock.h"
#include "sessions/civil_date.h"
#include "sessions/trading_day_rule.h"
#include "storage/trading_day.h"

namespace {

int Digits(std::string_view s, std::size_t at, std::size_t n) {
  int v = 0;
  for (std::size_t i = at; i < at + n; ++i) v = v * 10 + (s[i] - '0');
  return v;
}

}  // namespace

std::string FilingDayOfStamp(std::string_view stamp, int shiftSeconds) {
  if (stamp.size() != 14) return {};
  for (char c : stamp) {
    if (c < '0' || c > '9') return {};
  }
  std::tm t{};
  t.tm_year = Digits(stamp, 0, 4) - 1900;
  t.tm_mon = Digits(stamp, 4, 2) - 1;
  t.tm_mday = Digits(stamp, 6, 2);
  t.tm_hour = Digits(stamp, 8, 2);
  t.tm_min = Digits(stamp, 10, 2);
  t.tm_sec = Digits(stamp, 12, 2);
  if (t.tm_mon < 0 || t.tm_mon > 11 || t.tm_mday < 1 || t.tm_mday > 31 || t.tm_hour > 23 || t.tm_min > 59 ||
      t.tm_sec > 60) {
    return {};
  }
  // The stamp is local wall time; UTC arithmetic on it moves it without any time-zone rule.
  const std::time_t at = timegm(&t) + shiftSeconds;
  std::tm moved{};
  if (gmtime_r(&at, &moved) == nullptr) return {};
  const ClockReading r = ClockReadingOf(moved);
  char day[kTradingDaySize];
  ComputeTradingDay(r, day);
  // A write time centuries off (a damaged or forged record) gives a day no tool reads back.
  if (!IsCalendarDate(std::atoi(day))) return {};
  return day;
}
