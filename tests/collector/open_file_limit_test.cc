#include "collector/open_file_limit.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <string>

namespace {

TEST(OpenFileLimitTest, TheSoftLimitIsRaisedToTheHardLimit) {
  rlimit before{};
  ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &before), 0);
  if (before.rlim_max == RLIM_INFINITY || before.rlim_max <= 64) GTEST_SKIP() << "no finite hard limit above 64";
  rlimit low = before;
  low.rlim_cur = 64;
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &low), 0);
  std::string message;
  const bool raised = RaiseOpenFileLimit(&message);
  rlimit after{};
  getrlimit(RLIMIT_NOFILE, &after);
  setrlimit(RLIMIT_NOFILE, &before);
  EXPECT_TRUE(raised) << message;
  EXPECT_EQ(after.rlim_cur, before.rlim_max);
  EXPECT_EQ(after.rlim_max, before.rlim_max);
}

}  // namespace
