#ifndef QUOTELOOM_STORAGE_TRADING_DAY_H
#define QUOTELOOM_STORAGE_TRADING_DAY_H

#include "core/clock.h"

// The trading day a tick is filed under, taken from the writer's clock reading: from 18:00 on the
// next trading day; Friday evening and Saturday count for Monday. Pure functions, any thread.

inline constexpr int kTradingDaySize = 9;   // 8 digits and the terminator
inline constexpr int kWriteStampSize = 15;  // 14 digits and the terminator

// The date n days after year-month-day as yyyymmdd. Rolls over one month at most (n of 1 to 3);
// February has 29 days in every year divisible by 4.
int AddDaysToDate(int year, int month, int day, int n);

// Writes the 8-digit trading day of `reading` into `out`.
void ComputeTradingDay(const ClockReading& reading, char (&out)[kTradingDaySize]);

// Writes yyyymmddHHMMSS of `reading` into `out`.
void FormatWriteStamp(const ClockReading& reading, char (&out)[kWriteStampSize]);

#endif
