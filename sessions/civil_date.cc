#include "sessions/civil_date.h"

#include <chrono>

namespace {

using std::chrono::sys_days;

std::chrono::year_month_day ToYmd(int date) {
  return std::chrono::year_month_day{std::chrono::year{date / 10000},
                                     std::chrono::month{static_cast<unsigned>(date / 100 % 100)},
                                     std::chrono::day{static_cast<unsigned>(date % 100)}};
}

}  // namespace

bool IsCalendarDate(int date) { return date >= 19000101 && date <= 99991231 && ToYmd(date).ok(); }

std::int64_t DaysSinceEpoch(int date) {
  // Months and days are added to the first of the year, so out-of-range parts count on as they
  // would in a hand-rolled formula instead of giving an unspecified day.
  const int month = date / 100 % 100;
  const int day = date % 100;
  const std::chrono::year_month first = std::chrono::year{date / 10000} / std::chrono::January;
  const sys_days at = sys_days{(first + std::chrono::months{month - 1}) / 1} + std::chrono::days{day - 1};
  return at.time_since_epoch().count();
}

int DateOfDaysSinceEpoch(std::int64_t days) {
  const std::chrono::year_month_day ymd{sys_days{std::chrono::days{days}}};
  return CalendarDate(static_cast<int>(ymd.year()), static_cast<int>(static_cast<unsigned>(ymd.month())),
                      static_cast<int>(static_cast<unsigned>(ymd.day())));
}

int ShiftCalendarDate(int date, int days) { return DateOfDaysSinceEpoch(DaysSinceEpoch(date) + days); }

int WeekdayOfDate(int date) {
  return static_cast<int>(std::chrono::weekday{sys_days{std::chrono::days{DaysSinceEpoch(date)}}}.c_encoding()) + 1;
}
