#ifndef QUOTELOOM_SESSIONS_TRADING_DAY_RULE_H
#define QUOTELOOM_SESSIONS_TRADING_DAY_RULE_H

#include "core/clock.h"

// The trading day of a moment of the local clock: from 18:00 on the next trading day; Friday
// evening and Saturday count for Monday. No holiday calendar. Pure functions, any thread.

inline constexpr int kTradingDaySize = 9;  // 8 digits and the terminator

// The date n days after year-month-day as yyyymmdd. Rolls over one month at most (n of 1 to 3);
// February has 29 days in every year divisible by 4.
int AddDaysToDate(int year, int month, int day, int n);

// Writes the 8-digit trading day of `reading` into `out`.
void ComputeTradingDay(const ClockReading& reading, char (&out)[kTradingDaySize]);

// Whether `date` (yyyymmdd) is a real calendar date.
bool IsCalendarDate(int date);

// The calendar date `days` days after `date` (yyyymmdd, any number of days either way).
int ShiftCalendarDate(int date, int days);

// The evening whose night session opens trading day `day`: the weekday before it (Friday for Monday).
int EveOfTradingDay(int day);

#endif
