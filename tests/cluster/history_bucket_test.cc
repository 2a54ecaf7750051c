// The history bucket through nats-server nodes: the archive puts its packed days, quoteloom-data
// fetch gets them back from any node left, and a damaged or missing day is refused.
#include <gtest/gtest.h>
#include <nats/nats.h>
#include <signal.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <regex>
#include <string>
#include <vector>

#include "objectstore/object_bucket.h"
#include "objectstore/object_layout.h"
#include "tests/cluster/cluster_test_files.h"
#include "tests/cluster/nats_cluster.h"
#include "tests/support/http_get.h"
#include "tests/support/metrics_text.h"
#include "tests/support/process_output.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

const std::string kBucket = "quoteloom-history";

std::string RandomBytes(std::size_t size, unsigned seed) {
  std::mt19937 generator(seed);
  std::string bytes(size, '\0');
  for (char& c : bytes) c = static_cast<char>(generator());
  return bytes;
}

// Writes a packed day as the packer leaves it: whole, renamed into place.
void PlaceDay(const fs::path& workdir, const std::string& day, const std::string& bytes) {
  fs::create_directories(workdir / "History");
  const fs::path temporary = workdir / "History" / ("." + day + ".tmp");
  std::ofstream(temporary, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  fs::rename(temporary, workdir / "History" / (day + ".qth"));
}

std::unique_ptr<ChildProcess> StartArchive(const fs::path& dir, const std::string& servers, int replicas,
                                           const std::string& log, const std::vector<std::string>& more = {}) {
  std::vector<std::string> argv = {QUOTELOOM_ARCHIVE, "--workdir", (dir / "archive").string(), "--servers", servers,
                                   "--replicas", std::to_string(replicas), "--history-seconds", "0.2",
                                   "--status-seconds", "1", "--metrics", "127.0.0.1:0"};
  argv.insert(argv.end(), more.begin(), more.end());
  return std::make_unique<ChildProcess>(argv, (dir / log).string());
}

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

ProgramRun Fetch(const fs::path& dir, const std::vector<std::string>& args) {
  std::vector<std::string> argv = {QUOTELOOM_DATA, "fetch"};
  argv.insert(argv.end(), args.begin(), args.end());
  return RunProgram(argv, dir / "fetch.out", 60s);
}

// A test's own connection to the cluster, to look into the bucket's stream as any client could.
class Client {
 public:
  explicit Client(const std::string& url) {
    natsConnection_ConnectTo(&connection_, url.c_str());
    if (connection_ != nullptr) natsConnection_JetStream(&js_, connection_, nullptr);
  }
  ~Client() {
    jsCtx_Destroy(js_);
    natsConnection_Destroy(connection_);
  }
  jsCtx* js() { return js_; }

  // Messages in the bucket's stream, -1 when it cannot be asked; the stream's leader in `*leader`.
  long long Messages(std::string* leader = nullptr) {
    jsStreamInfo* info = nullptr;
    if (js_GetStreamInfo(&info, js_, BucketStreamName(kBucket).c_str(), nullptr, nullptr) != NATS_OK) return -1;
    const long long n = static_cast<long long>(info->State.Msgs);
    if (leader != nullptr && info->Cluster != nullptr && info->Cluster->Leader != nullptr) *leader = info->Cluster->Leader;
    jsStreamInfo_Destroy(info);
    return n;
  }

 private:
  natsConnection* connection_ = nullptr;
  jsCtx* js_ = nullptr;
};

TEST(HistoryBucketTest, APackedDayFetchedFromTheNodesLeftEqualsTheArchivesFile) {
  TempFolder dir;
  NatsCluster cluster(dir.path(), 3);
  ASSERT_TRUE(cluster.Start());
  // A day of ticks in the archive's journal, packed and verified by quoteloom-data pack.
  std::vector<JournalEntry> ticks;
  std::mt19937 generator(1);
  for (int i = 0; i < 60000; ++i) {
    ticks.push_back(TestTick(i % 3 == 0 ? "rb2405" : i % 3 == 1 ? "IO2403-C-3800" : "SR405", i, "20240301090507"));
    ticks.back().tick.LastPrice = 3700 + static_cast<int>(generator() % 40);
    ticks.back().tick.BidVolume1 = static_cast<int>(generator() % 500);
    ticks.back().tick.AskVolume1 = static_cast<int>(generator() % 500);
    ticks.back().tick.OpenInterest = 1654321 + generator() % 5000;
    ticks.back().writeTimeNs += i * 250000LL;
  }
  AppendTicks(dir.path() / "archive", ticks);
  const ProgramRun pack = RunProgram({QUOTELOOM_DATA, "--workdir", (dir.path() / "archive").string(), "pack", "20240301"},
                                     dir.path() / "pack.out", 60s);
  ASSERT_EQ(pack.exitCode, 0) << pack.output;
  const std::string day = ReadText(dir.path() / "archive" / "History" / "20240301.qth");
  ASSERT_GT(day.size(), 131072u) << "a day of several chunks";
  auto archive = StartArchive(dir.path(), cluster.Urls(), 3, "archive.log");
  const unsigned short port = MetricsPortOf(*archive);
  ASSERT_TRUE(WaitUntil([&] { return archive->Output().find("day 20240301 put") != std::string::npos; }, 60s))
      << archive->Output();
  EXPECT_EQ(MetricValue(HttpBody(HttpGet(port, "/metrics")), "quoteloom_archive_history_days_put_total"), 1);

  // The node that leads the bucket's stream goes, the strongest loss for a reader.
  std::string leader;
  {
    Client client("nats://127.0.0.1:" + std::to_string(cluster.clientPort(0)));
    EXPECT_EQ(client.Messages(&leader), static_cast<long long>((day.size() + 131071) / 131072 + 1));
  }
  int lost = 0;
  if (leader.rfind("node", 0) == 0) lost = std::stoi(leader.substr(4));
  cluster.KillNode(lost);

  const ProgramRun run = Fetch(dir.path(), {"20240301", "--servers", cluster.Urls(), "--out",
                                            (dir.path() / "researcher").string()});
  ASSERT_TRUE(run.ended);
  EXPECT_EQ(run.exitCode, 0) << run.output;
  EXPECT_TRUE(ReadText(dir.path() / "researcher" / "History" / "20240301.qth") == day);
}

TEST(HistoryBucketTest, SameDayIsNotPutTwiceAChangedOneReplacesItAndBadDaysAreRefused) {
  TempFolder dir;
  NatsCluster node(dir.path(), 1);
  ASSERT_TRUE(node.Start());
  const std::string url = "nats://127.0.0.1:" + std::to_string(node.clientPort(0));
  PlaceDay(dir.path() / "archive", "20240301", RandomBytes(300000, 2));
  // Older than the bucket keeps a day: never sent, or every restart would send it again.
  PlaceDay(dir.path() / "archive", "19000105", RandomBytes(1000, 6));
  auto archive = StartArchive(dir.path(), url, 1, "archive1.log", {"--bucket-days", "36500"});
  ASSERT_TRUE(WaitUntil([&] { return archive->Output().find("day 20240301 put") != std::string::npos; }, 30s))
      << archive->Output();
  Client client(url);
  EXPECT_EQ(client.Messages(), 4);  // three chunks and the record

  // A restarted archive knows nothing of its last run: it finds the day held and puts nothing.
  // A link planted as a packed day is never followed: counted as a failure, never sent.
  archive->Signal(SIGTERM);
  ASSERT_TRUE(archive->Wait(10s));
  std::ofstream(dir.path() / "outside.bin") << "not the archive's";
  fs::create_symlink(dir.path() / "outside.bin", dir.path() / "archive" / "History" / "20240304.qth");
  archive = StartArchive(dir.path(), url, 1, "archive2.log", {"--bucket-days", "36500"});
  const unsigned short port = MetricsPortOf(*archive);
  std::string metrics;
  ASSERT_TRUE(WaitUntil(
      [&] {
        metrics = HttpBody(HttpGet(port, "/metrics"));
        return MetricValue(metrics, "quoteloom_archive_history_days_shared") == 1;
      },
      30s))
      << metrics;
  EXPECT_EQ(MetricValue(metrics, "quoteloom_archive_history_days_put_total"), 0);
  EXPECT_GE(MetricValue(metrics, "quoteloom_archive_history_put_failures_total"), 1);
  EXPECT_NE(archive->Output().find("cannot share day 20240304"), std::string::npos) << archive->Output();
  EXPECT_EQ(client.Messages(), 4);

  // Packed again with other bytes: the new object replaces the old, whose chunks go.
  const std::string repacked = RandomBytes(140000, 3);
  PlaceDay(dir.path() / "archive", "20240301", repacked);
  ASSERT_TRUE(WaitUntil([&] { return archive->Output().find("day 20240301 put") != std::string::npos; }, 30s))
      << archive->Output();
  EXPECT_TRUE(WaitUntil([&] { return client.Messages() == 3; }, 10s)) << client.Messages();
  ProgramRun run = Fetch(dir.path(), {"20240301", "--servers", url, "--out", (dir.path() / "out").string()});
  EXPECT_EQ(run.exitCode, 0) << run.output;
  EXPECT_TRUE(ReadText(dir.path() / "out" / "History" / "20240301.qth") == repacked);

  // A missing day: named, the other days still fetched, exit 3.
  run = Fetch(dir.path(), {"19000105", "20240301", "--servers", url, "--out", (dir.path() / "out2").string()});
  EXPECT_EQ(run.exitCode, 3) << run.output;
  EXPECT_NE(run.output.find("19000105: not in bucket quoteloom-history"), std::string::npos) << run.output;
  EXPECT_TRUE(fs::exists(dir.path() / "out2" / "History" / "20240301.qth"));

  // Not a calendar date: refused before anything is asked.
  run = Fetch(dir.path(), {"20240230", "--servers", url});
  EXPECT_EQ(run.exitCode, 2) << run.output;

  // A History folder that is a link is never followed.
  fs::create_directories(dir.path() / "elsewhere");
  fs::create_directories(dir.path() / "linked");
  fs::create_directory_symlink(dir.path() / "elsewhere", dir.path() / "linked" / "History");
  run = Fetch(dir.path(), {"20240301", "--servers", url, "--out", (dir.path() / "linked").string()});
  EXPECT_EQ(run.exitCode, 3) << run.output;
  EXPECT_TRUE(fs::is_empty(dir.path() / "elsewhere"));

  // The second chunk damaged in the stream: its digest gives it away, nothing is kept.
  archive->Signal(SIGTERM);
  ASSERT_TRUE(archive->Wait(10s));
  ObjectBucket bucket(client.js(), kBucket);
  ObjectInfo info;
  std::string error;
  ASSERT_EQ(bucket.Info("20240301.qth", &info, &error), ObjectBucket::Lookup::kFound) << error;
  jsOptions purge;
  jsOptions_Init(&purge);
  const std::string subject = ChunkSubject(kBucket, info.nuid);
  purge.Stream.Purge.Subject = subject.c_str();
  ASSERT_EQ(js_PurgeStream(client.js(), BucketStreamName(kBucket).c_str(), &purge, nullptr), NATS_OK);
  std::string damaged = repacked;
  damaged[131072 + 5] ^= 0x01;
  for (std::size_t at = 0; at < damaged.size(); at += 131072) {
    const std::string chunk = damaged.substr(at, 131072);
    ASSERT_EQ(js_Publish(nullptr, client.js(), subject.c_str(), chunk.data(), static_cast<int>(chunk.size()), nullptr,
                         nullptr),
              NATS_OK);
  }
  run = Fetch(dir.path(), {"20240301", "--servers", url, "--out", (dir.path() / "out3").string()});
  EXPECT_EQ(run.exitCode, 3) << run.output;
  EXPECT_NE(run.output.find("digest"), std::string::npos) << run.output;
  EXPECT_TRUE(fs::is_empty(dir.path() / "out3" / "History")) << "a damaged day or its temporary file was left";

  // Chunks missing from the stream: refused at once, not waited for.
  ASSERT_EQ(js_PurgeStream(client.js(), BucketStreamName(kBucket).c_str(), &purge, nullptr), NATS_OK);
  ASSERT_EQ(js_Publish(nullptr, client.js(), subject.c_str(), repacked.data(), 131072, nullptr, nullptr), NATS_OK);
  const auto started = std::chrono::steady_clock::now();
  run = Fetch(dir.path(), {"20240301", "--servers", url, "--out", (dir.path() / "out3").string()});
  EXPECT_EQ(run.exitCode, 3) << run.output;
  EXPECT_NE(run.output.find("holds 1 chunks, the record says 2"), std::string::npos) << run.output;
  EXPECT_LT(std::chrono::steady_clock::now() - started, 5s);
  EXPECT_TRUE(fs::is_empty(dir.path() / "out3" / "History"));
}

// The `nats` package of npm, as scripts/install-node-nats puts it; empty when it is not there.
std::string NodeModules() {
  const char* chosen = std::getenv("QUOTELOOM_NODE_MODULES");
  const fs::path modules = chosen != nullptr ? fs::path(chosen) : fs::path(QUOTELOOM_NODE_MODULES);
  return fs::exists(modules / "nats" / "package.json") ? modules.string() : "";
}

ProgramRun RunInterop(const fs::path& dir, const std::string& url, const std::string& mode, const std::string& name,
                      const fs::path& file) {
  return RunProgram({NODE_PROGRAM, OBJECT_STORE_INTEROP, url, kBucket, mode, name, file.string()}, dir / "node.out",
                    60s, {"NODE_PATH=" + NodeModules()});
}

// Another client's object store (the npm `nats` package) lists and reads the day the archive put,
// and a day it puts is fetched, digest checked, like the archive's own.
TEST(HistoryBucketTest, TheNpmNatsClientReadsTheArchivesDayAndPutsOneFetchReads) {
  if (std::string(NODE_PROGRAM).empty() || NodeModules().empty()) {
    GTEST_SKIP() << "node or npm's nats package missing (scripts/install-node-nats)";
  }
  TempFolder dir;
  NatsCluster node(dir.path(), 1);
  ASSERT_TRUE(node.Start());
  const std::string url = "nats://127.0.0.1:" + std::to_string(node.clientPort(0));
  PlaceDay(dir.path() / "archive", "20240301", RandomBytes(3 * 131072 + 17, 4));
  auto archive = StartArchive(dir.path(), url, 1, "archive.log");
  ASSERT_TRUE(WaitUntil([&] { return archive->Output().find("day 20240301 put") != std::string::npos; }, 30s))
      << archive->Output();
  ProgramRun run = RunInterop(dir.path(), url, "read", "20240301.qth", dir.path() / "archive/History/20240301.qth");
  EXPECT_EQ(run.exitCode, 0) << run.output;

  const fs::path theirs = dir.path() / "theirs.bin";
  const std::string bytes = RandomBytes(200000, 5);
  std::ofstream(theirs, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  run = RunInterop(dir.path(), url, "put", "20240305.qth", theirs);
  ASSERT_EQ(run.exitCode, 0) << run.output;
  run = Fetch(dir.path(), {"20240305", "--servers", url, "--out", (dir.path() / "out").string()});
  EXPECT_EQ(run.exitCode, 0) << run.output;
  EXPECT_TRUE(ReadText(dir.path() / "out" / "History" / "20240305.qth") == bytes);
}

}  // namespace
