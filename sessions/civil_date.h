#ifndef QUOTELOOM_SESSIONS_CIVIL_DATE_H
#define QUOTELOOM_SESSIONS_CIVIL_DATE_H

#include <cstdint>

// Calendar dates as yyyymmdd integers on the proleptic Gregorian calendar of std::chrono: the one
// place where days are counted, added and named. Pure functions, any thread.

// yyyymmdd of a year, month and day.
constexpr int CalendarDate(int year, int month, int day) { return year * 10000 + month * 100 + day; }

// Whether `date` (yyyymmdd) is a real calendar date from 1900-01-01 to 9999-12-31.
bool IsCalendarDate(int date);

// Days from 1970-01-01 to `date` (negative before it). A day or month past its end counts on into
// the next month or year, so 20240230 is the day after 20240229.
std::int64_t DaysSinceEpoch(int date);

// The date `days` days after 1970-01-01.
int DateOfDaysSinceEpoch(std::int64_t days);

// The calendar date `days` days after `date` (any number of days either way).
int ShiftCalendarDate(int date, int days);

// The day of the week of `date`, numbered as a clock reading's: 1 = Sunday, 2 = Monday ... 7 = Saturday.
int WeekdayOfDate(int date);

#endif
