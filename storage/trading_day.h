#ifndef QUOTELOOM_STORAGE_TRADING_DAY_H
#define QUOTELOOM_STORAGE_TRADING_DAY_H

#include <cstdint>

#include "core/clock.h"
#include "sessions/trading_day_rule.h"

// The trading day a tick is filed under comes from the writer's clock reading by the rule in
// sessions/trading_day_rule.h; the write stamp from the same reading. Pure functions, any thread.

inline constexpr int kWriteStampSize = 15;  // 14 digits and the terminator

// Writes yyyymmddHHMMSS of `reading` into `out`.
void FormatWriteStamp(const ClockReading& reading, char (&out)[kWriteStampSize]);

// The same stamp of a write time in Unix nanoseconds (a journal's), on the local clock as the
// collector stamps its lines. Readers go through records in write order, so the local time is
// worked out once per minute and thread.
void FormatWriteStampOfTime(std::int64_t unixNs, char (&out)[kWriteStampSize]);

// The same stamp on China time (sessions/china_time_zone.h) whatever the reader's TZ: how the data
// tools read a stored write time, since the exchanges keep China time. Cached per minute and thread.
void FormatChinaStampOfTime(std::int64_t unixNs, char (&out)[kWriteStampSize]);

#endif
