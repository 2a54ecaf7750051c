#include "tools/data/collected_line.h"

#include <charconv>
#include <cstring>

bool SplitCollectedLine(std::string_view line, CollectedLine* out) {
  const char* p = line.data();
  const char* const end = p + line.size();
  for (int i = 0; i < kCollectedFieldCount - 1; ++i) {
    const void* comma = std::memchr(p, ',', static_cast<std::size_t>(end - p));
    if (comma == nullptr) return false;
    const char* c = static_cast<const char*>(comma);
    out->field[i] = std::string_view(p, static_cast<std::size_t>(c - p));
    p = c + 1;
  }
  if (std::memchr(p, ',', static_cast<std::size_t>(end - p)) != nullptr) return false;
  out->field[kCollectedFieldCount - 1] = std::string_view(p, static_cast<std::size_t>(end - p));
  const std::size_t contentStart = out->field[kWriteStamp].size() + 1;
  out->content = line.substr(contentStart);
  return true;
}

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

bool ParseWhole(std::string_view text, long long* value) {
  const auto r = std::from_chars(text.data(), text.data() + text.size(), *value);
  return r.ec == std::errc() && r.ptr == text.data() + text.size() && !text.empty();
}

bool ParseWhole(std::string_view text, double* value) {
  const auto r = std::from_chars(text.data(), text.data() + text.size(), *value);
  return r.ec == std::errc() && r.ptr == text.data() + text.size() && !text.empty();
}
