#include "storage/trading_day.h"

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

void FormatWriteStamp(const ClockReading& r, char (&out)[kWriteStampSize]) {
  std::snprintf(out, sizeof(out), "%04d%02d%02d%02d%02d%02d", r.year, r.month, r.day, r.hour, r.minute,
                r.second);
}
