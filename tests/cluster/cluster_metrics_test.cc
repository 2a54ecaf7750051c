// The metrics of quoteloom-publish and quoteloom-archive against one JetStream node: what the
// publisher read and had acknowledged is what the archive stored, and a lost node shows.
#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "cluster/cluster_metrics.h"
#include "tests/cluster/cluster_test_files.h"
#include "tests/cluster/nats_cluster.h"
#include "tests/support/child_process.h"
#include "tests/support/http_get.h"
#include "tests/support/metrics_text.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

// The port a program says it serves its metrics on, 0 when it did not say so in time.
unsigned short MetricsPortOf(ChildProcess& program) {
  unsigned short port = 0;
  WaitUntil(
      [&] {
        std::smatch m;
        const std::string out = program.Output();
        if (std::regex_search(out, m, std::regex("metrics on http://127\\.0\\.0\\.1:(\\d+)/metrics"))) {
          port = static_cast<unsigned short>(std::stoi(m[1]));
        }
        return port != 0 || !program.Running();
      },
      10s);
  return port;
}

TEST(ClusterMetricsTest, PublishedAcknowledgedAndStoredAgreeAndALostNodeShows) {
  TempFolder dir;
  NatsCluster node(dir.path(), 1);
  ASSERT_TRUE(node.Start());
  const fs::path collector = dir.path() / "collector";
  std::vector<JournalEntry> ticks;
  for (int i = 0; i < 121; ++i) ticks.push_back(TestTick("rb2405", i, "20240229100000"));
  AppendTicks(collector, ticks);
  // The last record damaged on disk: skipped and counted as malformed.
  const fs::path journal = collector / "Journal" / "20240229.qtj";
  std::string text = ReadText(journal);
  text[text.size() - 100] ^= 0x01;
  std::ofstream(journal, std::ios::binary | std::ios::trunc) << text;
  const fs::path archive = dir.path() / "archive";

  ChildProcess publisher({QUOTELOOM_PUBLISH, "--workdir", collector.string(), "--servers", node.Urls(),
                          "--status-seconds", "1", "--metrics", "127.0.0.1:0"},
                         (dir.path() / "publish.out").string());
  ChildProcess archiver({QUOTELOOM_ARCHIVE, "--workdir", archive.string(), "--servers", node.Urls(),
                         "--status-seconds", "1", "--metrics", "127.0.0.1:0"},
                        (dir.path() / "archive.out").string());
  const unsigned short publishPort = MetricsPortOf(publisher);
  const unsigned short archivePort = MetricsPortOf(archiver);
  ASSERT_NE(publishPort, 0) << publisher.Output();
  ASSERT_NE(archivePort, 0) << archiver.Output();

  std::string published, archived;
  ASSERT_TRUE(WaitUntil(
      [&] {
        published = HttpBody(HttpGet(publishPort, "/metrics"));
        archived = HttpBody(HttpGet(archivePort, "/metrics"));
        return MetricValue(published, "quoteloom_publish_lines_acknowledged_total") == 120 &&
               MetricValue(archived, "quoteloom_archive_messages_stored_total") == 120 &&
               MetricValue(archived, "quoteloom_archive_consumer_pending_messages") == 0;
      },
      30s))
      << published << archived;
  EXPECT_EQ(MetricValue(published, "quoteloom_publish_lines_read_total"), 120);
  EXPECT_EQ(MetricValue(published, "quoteloom_publish_malformed_lines_total"), 1);
  EXPECT_EQ(MetricValue(published, "quoteloom_publish_pending_acks"), 0);
  EXPECT_EQ(MetricValue(published, "quoteloom_cluster_connected"), 1);
  EXPECT_EQ(MetricValue(published, "quoteloom_healthy{reason=\"ok\"}"), 1) << published;
  EXPECT_EQ(MetricValue(archived, "quoteloom_archive_duplicates_skipped_total"), 0);
  EXPECT_EQ(MetricValue(archived, "quoteloom_archive_refused_bodies_total"), 0);
  EXPECT_EQ(MetricValue(archived, "quoteloom_healthy{reason=\"ok\"}"), 1) << archived;
  EXPECT_GT(MetricValue(archived, "quoteloom_archive_filesystem_free_bytes"), 0);
  EXPECT_GE(MetricValue(archived, "quoteloom_archive_filesystem_size_bytes"),
            MetricValue(archived, "quoteloom_archive_filesystem_free_bytes"));
  EXPECT_GT(MetricValue(archived, "quoteloom_process_start_time_seconds"), 0);

  node.KillNode(0);
  EXPECT_TRUE(WaitUntil(
      [&] {
        published = HttpBody(HttpGet(publishPort, "/metrics"));
        archived = HttpBody(HttpGet(archivePort, "/metrics"));
        return MetricValue(published, "quoteloom_healthy{reason=\"disconnected\"}") == 0 &&
               MetricValue(archived, "quoteloom_healthy{reason=\"disconnected\"}") == 0;
      },
      20s))
      << published << archived;
  EXPECT_EQ(MetricValue(published, "quoteloom_cluster_connected"), 0);
  ASSERT_TRUE(node.StartNode(0));
  EXPECT_TRUE(WaitUntil(
      [&] {
        published = HttpBody(HttpGet(publishPort, "/metrics"));
        return MetricValue(published, "quoteloom_cluster_reconnects_total") == 1 &&
               MetricValue(published, "quoteloom_healthy{reason=\"ok\"}") == 1;
      },
      30s))
      << published;
}

TEST(ClusterMetricsTest, HealthIsConnectedAndNotStalled) {
  const std::int64_t now = PublisherCounters::NowNanos();
  const std::int64_t longAgo = now - std::chrono::nanoseconds(kClusterStallAfter).count();
  PublisherCounters p;
  EXPECT_STREQ(JudgePublisher(p, now).reason, "disconnected");
  p.connected = true;
  p.backlogBytes = 500;
  p.lastAcknowledgedAt = now - 1000000000;
  EXPECT_STREQ(JudgePublisher(p, now).reason, "ok");
  p.lastAcknowledgedAt = longAgo;
  EXPECT_STREQ(JudgePublisher(p, now).reason, "stalled");
  p.backlogBytes = 0;  // nothing to publish is not a stall
  EXPECT_TRUE(JudgePublisher(p, now).healthy);

  ArchiveCounters a;
  a.connected = true;
  a.consumerPending = 10;
  a.lastHandledAt = longAgo;
  EXPECT_STREQ(JudgeArchive(a, now).reason, "stalled");
  a.consumerPending = 0;
  EXPECT_STREQ(JudgeArchive(a, now).reason, "ok");
  a.connected = false;
  EXPECT_FALSE(JudgeArchive(a, now).healthy);
}

}  // namespace
