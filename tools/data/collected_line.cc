#include "tools/data/collected_line.h"

int ParseClockTime(std::string_view t) {
  if (t.size() != 8 || t[2] != ':' || t[5] != ':') return -1;
  for (int i : {0, 1, 3, 4, 6, 7}) {
    if (t[i] < '0' || t[i] > '9') return -1;
  }
  const int hour = (t[0] - '0') * 10 + (t[1] - '0');
  const int minute = (t[3] - '0') * 10 + (t[4] - '0');
  const int second = (t[6] - '0') * 10 + (t[7] - '0');
  if (hour > 23 || minute > 59 || second > 59) return -1;
  return hour * 3600 + minute * 60 + second;
}
