// A stream that refuses every message past its limit: the publisher tries again after pauses that
// double up to 5 s, instead of several times a second, and counts each try.
#include <gtest/gtest.h>

#include <memory>
#include <regex>
#include <string>

#include "cluster/cluster_settings.h"
#include "cluster/nats_link.h"
#include "tests/cluster/cluster_test_files.h"
#include "tests/cluster/nats_cluster.h"
#include "tests/support/child_process.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

// The retries of the last status line in `out`, or -1.
long LastRetries(const std::string& out) {
  static const std::regex retries("retries ([0-9]+)");
  long last = -1;
  for (auto it = std::sregex_iterator(out.begin(), out.end(), retries); it != std::sregex_iterator(); ++it) {
    last = std::stol((*it)[1].str());
  }
  return last;
}

TEST(PublishBackoffTest, ARefusedMessageIsRetriedAfterDoublingPauses) {
  TempFolder dir;
  NatsCluster node(dir.path(), 1);
  ASSERT_TRUE(node.Start());
  {
    // The stream exists before the publisher and takes five messages, then refuses new ones.
    ClusterSettings settings;
    settings.servers = {node.Urls()};
    NatsLink link(settings);
    bool reachable = false;
    std::string error;
    ASSERT_TRUE(link.Open(&reachable, &error)) << error;
    ASSERT_TRUE(WaitUntil([&] { return link.Connected(); }, 15s));
    const std::string subject = settings.subjectPrefix + ".>";
    const char* subjects[] = {subject.c_str()};
    jsStreamConfig cfg;
    jsStreamConfig_Init(&cfg);
    cfg.Name = settings.stream.c_str();
    cfg.Subjects = subjects;
    cfg.SubjectsLen = 1;
    cfg.MaxMsgs = 5;
    cfg.Discard = js_DiscardNew;
    jsStreamInfo* info = nullptr;
    ASSERT_EQ(js_AddStream(&info, link.js(), &cfg, nullptr, nullptr), NATS_OK);
    jsStreamInfo_Destroy(info);
  }
  const fs::path collector = dir.path() / "collector";
  std::vector<JournalEntry> ticks;
  for (int i = 0; i < 20; ++i) ticks.push_back(TestTick("rb2405", i, "20240229100000"));
  AppendTicks(collector, ticks);

  ChildProcess publisher({QUOTELOOM_PUBLISH, "--workdir", collector.string(), "--servers", node.Urls(),
                          "--status-seconds", "1", "--metrics", "off"},
                         (dir.path() / "publish.out").string());
  ASSERT_TRUE(WaitUntil([&] { return LastRetries(publisher.Output()) >= 1; }, 15s)) << publisher.Output();
  const long first = LastRetries(publisher.Output());
  std::this_thread::sleep_for(7s);
  const long later = LastRetries(publisher.Output());
  // Pauses of 0.1, 0.2, 0.4 ... 3.2 s fit at most seven tries into seven seconds; tries at a fixed
  // short pause would make dozens.
  EXPECT_GE(later, first + 2) << publisher.Output();
  EXPECT_LE(later - first, 8) << publisher.Output();
  EXPECT_NE(publisher.Output().find("last problem: the stream refused a message"), std::string::npos)
      << publisher.Output();
}

}  // namespace
