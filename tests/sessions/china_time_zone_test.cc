#include "sessions/china_time_zone.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

namespace {

std::string ShanghaiZoneFile() {
  std::ifstream in("/usr/share/zoneinfo/Asia/Shanghai", std::ios::binary);
  std::stringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

// The database's zone has China's summer times and its local mean time; damaged bytes give the
// fixed +08:00 rather than a wrong zone.
TEST(ChinaTimeZoneTest, OffsetsComeFromTheDatabaseAndDamageFallsBackToEightHours) {
  const std::string file = ShanghaiZoneFile();
  ASSERT_GT(file.size(), 44u) << "scripts/install-deps installs tzdata";
  const ChinaTimeZone zone(file);
  ASSERT_TRUE(zone.loaded());
  EXPECT_TRUE(ChinaTimeZone::Get().loaded());
  const struct {
    std::int64_t unixSeconds;
    int offset;
  } cases[] = {
      {1710118800, 8 * 3600},            // 2024-03-11
      {0, 8 * 3600},                     // 1970
      {518000000, 9 * 3600},             // 1986-06-01, summer time
      {-2177490000, 8 * 3600 + 343},     // 1900: local mean time, +08:05:43
      {4102444800, 8 * 3600},            // 2100, after the last change
  };
  for (const auto& c : cases) EXPECT_EQ(zone.OffsetAt(c.unixSeconds), c.offset) << c.unixSeconds;

  for (const std::string& damaged : {std::string(), std::string("TZif"), file.substr(0, 60),
                                      "XXXX" + file.substr(4)}) {
    const ChinaTimeZone fallback(damaged);
    EXPECT_FALSE(fallback.loaded());
    EXPECT_EQ(fallback.OffsetAt(518000000), ChinaTimeZone::kFallbackOffset);
  }
}

}  // namespace
