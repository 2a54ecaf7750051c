#include "metrics/process_stats.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <ctime>
#include <thread>

namespace {

TEST(ProcessStatsTest, CountsThisProcesssThreadsDescriptorsAndMemory) {
  const ProcessStats before = ReadProcessStats();
  EXPECT_GT(before.residentBytes, 1u << 20);
  EXPECT_GE(before.openDescriptors, 3u);
  EXPECT_GE(before.threads, 1u);
  const double now = static_cast<double>(std::time(nullptr));
  EXPECT_LE(before.startTimeSeconds, now + 1);
  EXPECT_GT(before.startTimeSeconds, now - 3600);

  const int extra = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
  bool release = false;
  std::thread worker([&] {
    while (!__atomic_load_n(&release, __ATOMIC_ACQUIRE)) std::this_thread::yield();
  });
  const ProcessStats during = ReadProcessStats();
  __atomic_store_n(&release, true, __ATOMIC_RELEASE);
  worker.join();
  ::close(extra);
  EXPECT_EQ(during.openDescriptors, before.openDescriptors + 1);
  EXPECT_EQ(during.threads, before.threads + 1);
}

}  // namespace
