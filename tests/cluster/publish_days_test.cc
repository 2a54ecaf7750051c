// quoteloom-publish over stored days: without a journal it refuses to start; without state it takes
// the newest day; --from-day publishes the earlier days again and moves from day to day; the archive
// files each tick under its day, with the collector's lines.
#include <gtest/gtest.h>

#include <string>

#include "tests/cluster/cluster_test_files.h"
#include "tests/cluster/nats_cluster.h"
#include "tests/support/child_process.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

TEST(PublishDaysTest, NewestDayFirstThenFromDayRepublishesEveryStoredDayOnce) {
  TempFolder dir;
  NatsCluster node(dir.path(), 1);
  ASSERT_TRUE(node.Start());
  const fs::path collector = dir.path() / "collector";
  std::string thursday, friday;  // Friday 21:00 files under Monday
  std::vector<JournalEntry> ticks;
  for (int i = 0; i < 50; ++i) {
    thursday += TestTickLine("rb2405", i, "20240229100000");
    ticks.push_back(TestTick("rb2405", i, "20240229100000"));
  }
  for (int i = 50; i < 80; ++i) {
    friday += TestTickLine("rb2405", i, "20240301210000");
    ticks.push_back(TestTick("rb2405", i, "20240301210000"));
  }
  // A collector that keeps no journal: the publisher says so and ends.
  AppendText(collector / "DataTimeStream" / "20240229.csv", thursday);
  {
    ChildProcess p({QUOTELOOM_PUBLISH, "--workdir", collector.string(), "--servers", node.Urls(), "--metrics", "off"},
                   (dir.path() / "nojournal.out").string());
    ASSERT_TRUE(p.Wait(10s));
    EXPECT_TRUE(WIFEXITED(p.status()) && WEXITSTATUS(p.status()) == 2) << p.Output();
    EXPECT_NE(p.Output().find("has no tick journal"), std::string::npos) << p.Output();
  }
  AppendTicks(collector, ticks);
  AppendText(collector / "Journal" / "20240304.qtj", std::string(100, 'x'));  // a torn record at the end

  const auto publish = [&](std::vector<std::string> extra, const std::string& out) {
    std::vector<std::string> argv = {QUOTELOOM_PUBLISH, "--workdir", collector.string(), "--servers", node.Urls(),
                                     "--exit-when-idle", "1", "--status-seconds", "1", "--metrics", "127.0.0.1:0"};
    argv.insert(argv.end(), extra.begin(), extra.end());
    ChildProcess p(argv, (dir.path() / out).string());
    EXPECT_TRUE(p.Wait(30s)) << p.Output();
    EXPECT_TRUE(WIFEXITED(p.status()) && WEXITSTATUS(p.status()) == 0) << p.Output();
    return p.Output();
  };
  EXPECT_NE(publish({}, "first.out").find("acknowledged 30,"), std::string::npos);
  const std::string again = publish({"--from-day", "20240101"}, "again.out");
  EXPECT_NE(again.find("acknowledged 80,"), std::string::npos) << again;
  EXPECT_NE(again.find("following " + (collector / "Journal" / "20240304.qtj").string()), std::string::npos) << again;
  // One acknowledgement in flight at a time still gets through everything.
  const std::string single = publish({"--from-day", "20240101", "--max-pending", "1", "--state",
                                      (dir.path() / "single.state").string()},
                                     "single.out");
  EXPECT_NE(single.find("acknowledged 80,"), std::string::npos) << single;

  const fs::path archive = dir.path() / "archive";
  ChildProcess archiver({QUOTELOOM_ARCHIVE, "--workdir", archive.string(), "--servers", node.Urls(),
                         "--status-seconds", "1", "--metrics", "127.0.0.1:0"},
                        (dir.path() / "archive.out").string());
  ASSERT_TRUE(WaitUntil([&] { return ReadText(archive / "DataTimeStream" / "20240304.csv").size() == friday.size() &&
                                     ReadText(archive / "DataTimeStream" / "20240229.csv").size() == thursday.size(); },
                        20s))
      << archiver.Output();
  std::this_thread::sleep_for(1500ms);
  EXPECT_EQ(ReadText(archive / "DataTimeStream" / "20240229.csv"), thursday);
  EXPECT_EQ(ReadText(archive / "DataTimeStream" / "20240304.csv"), friday);
}

}  // namespace
