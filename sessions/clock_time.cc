#include "sessions/clock_time.h"

namespace {

int TwoDigits(const char* p) {
  if (p[0] < '0' || p[0] > '9' || p[1] < '0' || p[1] > '9') return -1;
  return (p[0] - '0') * 10 + (p[1] - '0');
}

}  // namespace

int ParseClockTime(std::string_view text) {
  if (text.size() != 8 || text[2] != ':' || text[5] != ':') return -1;
  const int hour = TwoDigits(text.data());
  const int minute = TwoDigits(text.data() + 3);
  const int second = TwoDigits(text.data() + 6);
  if (hour < 0 || minute < 0 || second < 0 || hour > 23 || minute > 59 || second > 59) return -1;
  return hour * 3600 + minute * 60 + second;
}

bool ParseWriteStamp(std::string_view stamp, int* date, int* timeOfDay) {
  if (stamp.size() != 14) return false;
  int parts[7];
  for (int i = 0; i < 7; ++i) {
    parts[i] = TwoDigits(stamp.data() + 2 * i);
    if (parts[i] < 0) return false;
  }
  if (parts[2] < 1 || parts[2] > 12 || parts[3] < 1 || parts[3] > 31 || parts[4] > 23 || parts[5] > 59 ||
      parts[6] > 60) {
    return false;
  }
  *date = (parts[0] * 100 + parts[1]) * 10000 + parts[2] * 100 + parts[3];
  *timeOfDay = parts[4] * 3600 + parts[5] * 60 + parts[6];
  return true;
}

int DateOfReading(const ClockReading& r) { return r.year * 10000 + r.month * 100 + r.day; }

int TimeOfDayOfReading(const ClockReading& r) { return r.hour * 3600 + r.minute * 60 + r.second; }
