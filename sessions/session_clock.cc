#include "sessions/session_clock.h"

#include "sessions/trading_day_rule.h"

int SessionSecond(int timeOfDay) { return (timeOfDay - kEveSeconds + kDaySeconds) % kDaySeconds; }

int TimeOfDay(int sessionSecond) { return (sessionSecond + kEveSeconds) % kDaySeconds; }

int CalendarDateOf(int tradingDay, int sessionSecond) {
  if (sessionSecond >= kDaySessionSecond) return tradingDay;
  const int eve = EveOfTradingDay(tradingDay);
  return sessionSecond < kMidnightSessionSecond ? eve : ShiftCalendarDate(eve, 1);
}
