#include "cluster/filing_day.h"

#include <cstdint>
#include <cstdlib>

#include "core/clock.h"
#include "sessions/civil_date.h"
#include "sessions/clock_time.h"
#include "sessions/trading_day_rule.h"

std::string FilingDayOfStamp(std::string_view stamp, int shiftSeconds) {
  int date = 0, timeOfDay = 0;
  if (!ParseWriteStamp(stamp, &date, &timeOfDay)) return {};
  // The stamp is local wall time; moving it is plain arithmetic on days and seconds, without any
  // time-zone rule.
  const std::int64_t moved = DaysSinceEpoch(date) * 86400 + timeOfDay + shiftSeconds;
  std::int64_t days = moved / 86400;
  std::int64_t second = moved % 86400;
  if (second < 0) {
    second += 86400;
    --days;
  }
  ClockReading r;
  const int movedDate = DateOfDaysSinceEpoch(days);
  r.year = movedDate / 10000;
  r.month = movedDate / 100 % 100;
  r.day = movedDate % 100;
  r.weekday = WeekdayOfDate(movedDate);
  r.hour = static_cast<int>(second / 3600);
  r.minute = static_cast<int>(second / 60 % 60);
  r.second = static_cast<int>(second % 60);
  char day[kTradingDaySize];
  ComputeTradingDay(r, day);
  // A write time centuries off (a damaged or forged record) gives a day no tool reads back.
  if (!IsCalendarDate(std::atoi(day))) return {};
  return day;
}
