#include "storage/trading_day.h"

#include <cstdio>

void FormatWriteStamp(const ClockReading& r, char (&out)[kWriteStampSize]) {
  std::snprintf(out, sizeof(out), "%04d%02d%02d%02d%02d%02d", r.year, r.month, r.day, r.hour, r.minute,
                r.second);
}
