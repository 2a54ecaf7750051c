#ifndef QUOTELOOM_SESSIONS_SESSION_CLOCK_H
#define QUOTELOOM_SESSIONS_SESSION_CLOCK_H

// Times of a trading day counted from 18:00 of its eve, so the night session comes first and
// runs past midnight without wrapping: 18:00:00 is 0, 21:00 is 10800, 00:00 is 21600, 09:00 is
// 54000 and 17:59:59 is 86399. Pure functions, any thread.

inline constexpr int kDaySeconds = 24 * 3600;
inline constexpr int kEveSeconds = 18 * 3600;
// Session seconds before this (18:00 to 00:00) fall on the eve's date.
inline constexpr int kMidnightSessionSecond = kDaySeconds - kEveSeconds;
// Session seconds from here on (06:00 to 18:00) fall on the trading day's own date; those between
// midnight and here on the day after the eve.
inline constexpr int kDaySessionSecond = kMidnightSessionSecond + 6 * 3600;

// The session second of a time of day (seconds since midnight, 0 to 86399).
int SessionSecond(int timeOfDay);

// The time of day (seconds since midnight) of a session second.
int TimeOfDay(int sessionSecond);

// The calendar date (yyyymmdd) on which a session second of trading day `tradingDay` falls:
// the eve (Friday for Monday) before midnight, the day after the eve until 06:00, else the
// trading day itself.
int CalendarDateOf(int tradingDay, int sessionSecond);

#endif
