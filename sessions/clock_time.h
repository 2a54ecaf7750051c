#ifndef QUOTELOOM_SESSIONS_CLOCK_TIME_H
#define QUOTELOOM_SESSIONS_CLOCK_TIME_H

#include <string_view>

#include "core/clock.h"

// Clock times as the exchanges and the collector write them. Pure functions, any thread.

// An exchange's "HH:MM:SS" update time as seconds since midnight (0 to 86399); -1 unless the text is
// exactly two digits, a colon, two digits, a colon and two digits of a valid time. Second 60 is
// refused: exchange times have no leap seconds.
int ParseClockTime(std::string_view text);

// The collector's 14-digit write stamp yyyymmddHHMMSS split into a date (yyyymmdd) and a time of day
// in seconds. False unless it is 14 digits with month 1-12, day 1-31, hour 0-23 and minute 0-59;
// second 60 is kept, as a local clock may show a leap second, and day 31 of a short month counts on.
bool ParseWriteStamp(std::string_view stamp, int* date, int* timeOfDay);

// The date (yyyymmdd) and the time of day (seconds since midnight) of a clock reading.
int DateOfReading(const ClockReading& reading);
int TimeOfDayOfReading(const ClockReading& reading);

#endif
