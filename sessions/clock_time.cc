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
