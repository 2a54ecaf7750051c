#ifndef QUOTELOOM_SESSIONS_TRADING_DAY_RULE_H
#define QUOTELOOM_SESSIONS_TRADING_DAY_RULE_H

#include "core/clock.h"
#include "sessions/civil_date.h"

// The trading day of a moment of the local clock: from 18:00 on the next trading day; Friday
// evening and Saturday count for Monday. No holiday calendar. Pure functions, any thread.

inline constexpr int kTradingDaySize = 9;  // 8 digits and the terminator

// The date n days after year-month-day as yyyymmdd, on the Gregorian calendar.
int AddDaysToDate(int year, int month, int day, int n);

// The trading day (yyyymmdd) of `reading`, by its hour and day of the week.
int TradingDayOf(const ClockReading& reading);

// Writes the 8-digit trading day of `reading` into `out`.
void ComputeTradingDay(const ClockReading& reading, char (&out)[kTradingDaySize]);

// The evening whose night session opens trading day `day`: the weekday before it (Friday for Monday).
int EveOfTradingDay(int day);

#endif
