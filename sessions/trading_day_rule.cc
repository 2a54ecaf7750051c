#include "sessions/trading_day_rule.h"

#include <cstdio>

namespace {

constexpr int kSunday = 1;
constexpr int kFriday = 6;
constexpr int kSaturday = 7;

}  // namespace

int AddDaysToDate(int year, int month, int day, int n) {
  return ShiftCalendarDate(CalendarDate(year, month, day), n);
}

int TradingDayOf(const ClockReading& r) {
  const int date = CalendarDate(r.year, r.month, r.day);
  if (r.hour < 18) return r.weekday == kSaturday ? ShiftCalendarDate(date, 2) : date;
  return ShiftCalendarDate(date, r.weekday == kFriday ? 3 : 1);
}

void ComputeTradingDay(const ClockReading& r, char (&out)[kTradingDaySize]) {
  std::snprintf(out, sizeof(out), "%08d", TradingDayOf(r));
}

int EveOfTradingDay(int day) {
  int eve = ShiftCalendarDate(day, -1);
  for (int weekday = WeekdayOfDate(eve); weekday == kSaturday || weekday == kSunday; weekday = WeekdayOfDate(eve)) {
    eve = ShiftCalendarDate(eve, -1);
  }
  return eve;
}
