#include "collector/collector_health.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(CollectorHealthTest, JudgesFrontSessionsAndWriter) {
  const struct {
    bool loggedIn, inSession, draining;
    bool healthy;
    const char* reason;
  } cases[] = {
      {true, true, true, true, "ok"},
      {true, false, true, true, "ok"},
      {false, false, true, true, "outside_service_hours"},
      {false, true, true, false, "front_not_logged_in"},
      {true, true, false, false, "writer_stalled"},
      {false, false, false, false, "writer_stalled"},
  };
  for (const auto& c : cases) {
    const CollectorHealth::Verdict v = CollectorHealth::Judge(c.loggedIn, c.inSession, c.draining);
    EXPECT_EQ(v.healthy, c.healthy) << c.reason;
    EXPECT_EQ(std::string(v.reason), c.reason);
  }
}

TEST(WriterWatchTest, AStallIsAQueueThatWaitsWithoutAWriteForTheWholeLimit) {
  using namespace std::chrono_literals;
  WriterWatch watch(10s);
  const WriterWatch::TimePoint t0{};
  EXPECT_TRUE(watch.Observe(100, 5, t0 + 1s));
  EXPECT_TRUE(watch.Observe(100, 5, t0 + 10s));   // 9 s without a write: still inside the limit
  EXPECT_FALSE(watch.Observe(100, 9, t0 + 11s));  // 10 s: stalled
  EXPECT_TRUE(watch.Observe(101, 9, t0 + 12s));   // one write is progress again
  EXPECT_TRUE(watch.Observe(101, 0, t0 + 40s));   // an empty queue is never a stall
  EXPECT_TRUE(watch.Observe(101, 0, t0 + 80s));
  EXPECT_TRUE(watch.Observe(101, 3, t0 + 85s));
  EXPECT_FALSE(watch.Observe(101, 3, t0 + 90s));
}

}  // namespace
