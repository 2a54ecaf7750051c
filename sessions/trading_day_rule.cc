#include "sessions/trading_day_rule.h"

#include <chrono>
#include <cstdio>

namespace {

constexpr int kSaturday = 7;
constexpr int kFriday = 6;

int DaysInMonth(int year, int month) {
  switch (month) {
    case 4: case 6: case 9: case 11:
      return 30;
    case 2:
      return year % 4 == 0 ? 29 : 28;
    default:
      return 31;
  }
}

std::chrono::year_month_day ToYmd(int date) {
  return std::chrono::year_month_day{std::chrono::year{date / 10000},
                                     std::chrono::month{static_cast<unsigned>(date / 100 % 100)},
                                     std::chrono::day{static_cast<unsigned>(date % 100)}};
}

int FromYmd(const std::chrono::year_month_day& ymd) {
  return static_cast<int>(ymd.year()) * 10000 + static_cast<int>(static_cast<unsigned>(ymd.month())) * 100 +
         static_cast<int>(static_cast<unsigned>(ymd.day()));
}

}  // namespace

int AddDaysToDate(int year, int month, int day, int n) {
  day += n;
  const int length = DaysInMonth(year, month);
  if (day > length) {
    day -= length;
    ++month;
  }
  if (month > 12) {
    month = 1;
    ++year;
  }
  return year * 10000 + month * 100 + day;
}

void ComputeTradingDay(const ClockReading& r, char (&out)[kTradingDaySize]) {
  if (r.hour < 18) {
    if (r.weekday == kSaturday) {
      std::snprintf(out, sizeof(out), "%d", AddDaysToDate(r.year, r.month, r.day, 2));
    } else {
      std::snprintf(out, sizeof(out), "%04d%02d%02d", r.year, r.month, r.day);
    }
    return;
  }
  const int n = r.weekday == kFriday ? 3 : 1;
  std::snprintf(out, sizeof(out), "%d", AddDaysToDate(r.year, r.month, r.day, n));
}

bool IsCalendarDate(int date) {
  return date >= 19000101 && date <= 99991231 && ToYmd(date).ok();
}

int ShiftCalendarDate(int date, int days) {
  return FromYmd(std::chrono::year_month_day{std::chrono::sys_days{ToYmd(date)} + std::chrono::days{days}});
}

int EveOfTradingDay(int day) {
  int eve = ShiftCalendarDate(day, -1);
  for (;;) {
    const std::chrono::weekday weekday{std::chrono::sys_days{ToYmd(eve)}};
    if (weekday != std::chrono::Saturday && weekday != std::chrono::Sunday) return eve;
    eve = ShiftCalendarDate(eve, -1);
  }
}
