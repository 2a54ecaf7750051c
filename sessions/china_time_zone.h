#ifndef QUOTELOOM_SESSIONS_CHINA_TIME_ZONE_H
#define QUOTELOOM_SESSIONS_CHINA_TIME_ZONE_H

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// China time (Asia/Shanghai) of the system's time zone database, whatever TZ the reader runs
// under: the exchanges keep it, so stored times are read on it. Immutable after construction, any
// thread.
class ChinaTimeZone {
 public:
  // The zone of /usr/share/zoneinfo/Asia/Shanghai, loaded once. Without a readable database the
  // zone is a fixed +08:00, which is China time since 1991.
  static const ChinaTimeZone& Get();

  // A zone from the bytes of a TZif file (versions 1 to 4); a fixed +08:00 when they are not one.
  explicit ChinaTimeZone(std::string_view tzif);

  // Seconds east of UTC at Unix second `unixSeconds`.
  int OffsetAt(std::int64_t unixSeconds) const;
  // Whether the zone came from the database (false: the fixed fallback).
  bool loaded() const { return !offsets_.empty(); }

  static constexpr int kFallbackOffset = 8 * 3600;

 private:
  std::vector<std::int64_t> transitions_;  // Unix seconds, ascending
  std::vector<int> offsets_;               // offsets_[i] from transitions_[i - 1]; offsets_[0] before the first
};

#endif
