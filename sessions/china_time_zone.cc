#include "sessions/china_time_zone.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <tuple>

#include "core/open_regular_file.h"

namespace {

constexpr const char* kZoneFile = "/usr/share/zoneinfo/Asia/Shanghai";
constexpr std::size_t kMaxZoneFile = 1 << 20;

std::int64_t BigEndian(const unsigned char* p, int bytes) {
  std::uint64_t v = 0;
  for (int i = 0; i < bytes; ++i) v = (v << 8) | p[i];
  if (bytes == 4) return static_cast<std::int32_t>(static_cast<std::uint32_t>(v));
  return static_cast<std::int64_t>(v);
}

std::string ReadZoneFile() {
  int error = 0;
  const int fd = OpenRegularFile(kZoneFile, O_RDONLY, 0, &error);
  if (fd < 0) return {};
  std::string bytes;
  char block[8192];
  for (ssize_t n; bytes.size() < kMaxZoneFile && (n = ::read(fd, block, sizeof block)) > 0;) bytes.append(block, n);
  ::close(fd);
  return bytes;
}

}  // namespace

const ChinaTimeZone& ChinaTimeZone::Get() {
  static const ChinaTimeZone zone(ReadZoneFile());
  return zone;
}

// TZif: a 44-byte header with six counts, then transition times, their type indices and the types
// (offset, DST flag, name index). Version 2 and later repeat the data with 64-bit times after the
// first block; that block is the one read when present.
ChinaTimeZone::ChinaTimeZone(std::string_view tzif) {
  const auto* p = reinterpret_cast<const unsigned char*>(tzif.data());
  std::size_t size = tzif.size();
  int timeBytes = 4;
  for (int pass = 0; pass < 2; ++pass) {
    if (size < 44 || tzif.substr(tzif.size() - size, 4) != "TZif") return;
    const char version = static_cast<char>(p[4]);
    std::int64_t counts[6];
    for (int i = 0; i < 6; ++i) counts[i] = BigEndian(p + 20 + 4 * i, 4);
    const auto [isut, isstd, leap, times, types, chars] =
        std::tuple(counts[0], counts[1], counts[2], counts[3], counts[4], counts[5]);
    if (isut < 0 || isstd < 0 || leap < 0 || times < 0 || types <= 0 || chars < 0 || types > 256) return;
    const std::int64_t body = times * timeBytes + times + types * 6 + chars + leap * (timeBytes + 4) + isstd + isut;
    if (static_cast<std::int64_t>(size) - 44 < body) return;
    if (pass == 0 && version >= '2') {
      p += 44 + body;
      size -= 44 + static_cast<std::size_t>(body);
      timeBytes = 8;
      continue;
    }
    const unsigned char* at = p + 44;
    const unsigned char* indices = at + times * timeBytes;
    const unsigned char* typeInfo = indices + times;
    std::vector<int> typeOffsets(static_cast<std::size_t>(types));
    for (std::int64_t t = 0; t < types; ++t) {
      const std::int64_t offset = BigEndian(typeInfo + 6 * t, 4);
      if (offset < -26 * 3600 || offset > 26 * 3600) return;
      typeOffsets[t] = static_cast<int>(offset);
    }
    // Before the first transition: the first standard-time type, as TZif readers do.
    offsets_.push_back(typeOffsets[0]);
    for (std::int64_t i = 0; i < times; ++i) {
      const std::int64_t when = BigEndian(at + i * timeBytes, timeBytes);
      if (indices[i] >= types || (!transitions_.empty() && when <= transitions_.back())) {
        transitions_.clear();
        offsets_.clear();
        return;
      }
      transitions_.push_back(when);
      offsets_.push_back(typeOffsets[indices[i]]);
    }
    return;
  }
}

int ChinaTimeZone::OffsetAt(std::int64_t unixSeconds) const {
  if (offsets_.empty()) return kFallbackOffset;
  const auto after = std::upper_bound(transitions_.begin(), transitions_.end(), unixSeconds);
  return offsets_[static_cast<std::size_t>(after - transitions_.begin())];
}
