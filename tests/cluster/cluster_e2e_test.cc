// Two collectors of one feed, a publisher beside each, a three-node JetStream cluster and one
// archive, all child processes on loopback: the archive ends with every tick the front sent, once,
// through a collector killed, a node killed, a publisher cut off longer than the duplicate window
// and the publisher and archive killed and restarted.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "cluster/exact_tick.h"
#include "cluster/stored_tick_line.h"
#include "storage/journal_reader.h"
#include "tests/cluster/cluster_test_files.h"
#include "tests/cluster/nats_cluster.h"
#include "tests/cluster/tcp_cutter.h"
#include "tests/support/child_process.h"
#include "tests/support/front_simulator.h"
#include "tests/support/process_output.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

// Exchange content (fields 2 to 24) of every tick, per contract.
using Contents = std::map<std::string, std::vector<std::string>>;

const char* const kContracts[] = {"rb2405", "cu2404", "au2406", "m2405", "SR405",
                                  "TA405",  "IF2403", "sc2404", "ag2406", "i2405"};
constexpr int kTicksPerContract = 240;
constexpr int kTicksPerSecond = 200;
constexpr int kReplayDelaySeconds = 3;

std::size_t Total(const Contents& c) {
  std::size_t n = 0;
  for (const auto& [code, v] : c) n += v.size();
  return n;
}

// Time-stream lines of a folder by contract (sorted), and the number of lines that are not ticks.
Contents TimeStreamContents(const fs::path& folder, std::size_t* bad = nullptr) {
  Contents out;
  if (bad != nullptr) *bad = 0;
  if (!fs::exists(folder / "DataTimeStream")) return out;
  for (const auto& file : fs::directory_iterator(folder / "DataTimeStream")) {
    std::istringstream in(ReadText(file.path()));
    for (std::string line; std::getline(in, line);) {
      line += '\n';
      StoredTickLine tick;
      if (!ParseStoredTickLine(line, &tick)) {
        if (bad != nullptr) ++*bad;
        continue;
      }
      out[std::string(tick.contract())].emplace_back(tick.exchangeContent());
    }
  }
  for (auto& [code, v] : out) std::sort(v.begin(), v.end());
  return out;
}

std::map<std::string, std::size_t> PerContractFileLines(const fs::path& folder) {
  std::map<std::string, std::size_t> out;
  if (!fs::exists(folder / "Data")) return out;
  for (const auto& day : fs::directory_iterator(folder / "Data")) {
    for (const auto& file : fs::directory_iterator(day.path())) {
      const std::string text = ReadText(file.path());
      out[file.path().stem().string()] += static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
    }
  }
  return out;
}

// Empty when `got` equals `want`; otherwise per contract how many ticks are missing and extra.
std::string Difference(const Contents& want, const Contents& got) {
  std::string out;
  std::set<std::string> codes;
  for (const auto& [code, v] : want) codes.insert(code);
  for (const auto& [code, v] : got) codes.insert(code);
  for (const std::string& code : codes) {
    const auto w = want.count(code) ? want.at(code) : std::vector<std::string>{};
    const auto g = got.count(code) ? got.at(code) : std::vector<std::string>{};
    std::vector<std::string> missing, extra;
    std::set_difference(w.begin(), w.end(), g.begin(), g.end(), std::back_inserter(missing));
    std::set_difference(g.begin(), g.end(), w.begin(), w.end(), std::back_inserter(extra));
    if (!missing.empty() || !extra.empty()) {
      out += code + ": " + std::to_string(missing.size()) + " missing, " + std::to_string(extra.size()) +
             " extra (" + (missing.empty() ? extra.front() : missing.front()) + ")\n";
    }
  }
  return out;
}

class ClusterEndToEndTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(dir_.path() / "xdg");
    WriteReplayFile();
  }

  // The recorded ticks the simulator sends to every client; each one unique by its volume.
  void WriteReplayFile() {
    std::string text;
    for (int i = 0; i < kTicksPerContract; ++i) {
      for (const char* code : kContracts) {
        // The turnover needs more than six digits: the collector's per-contract line and journal keep
        // it, its time-stream line cannot, and the archive must be as exact as the collector.
        const double turnover = 4598765432.5 + 1000.0 * i;
        char exact[32], general[32];
        std::snprintf(exact, sizeof(exact), "%.1f", turnover);
        std::snprintf(general, sizeof(general), "%g", turnover);
        std::string lines[2];
        for (int k = 0; k < 2; ++k) {
          char line[400];
          const int second = 9 * 3600 + 300 + i / 2;
          std::snprintf(line, sizeof(line),
                        "20240301%02d%02d%02d,%s,20240301,20240301,%02d:%02d:%02d,%d,%d,%d,3800,3600,3700,-1,3711.5,%d,"
                        "%d,%d,%d,3950,3500,%d,%s,3720,165000,3722\r\n",
                        second / 3600, second / 60 % 60, second % 60, code, second / 3600, second / 60 % 60,
                        second % 60, (i % 2) * 500, 3700 + i % 37, 1000 + i, 3701 + i % 37, 1 + i % 9, 3700 + i % 37,
                        2 + i % 7, 160000 + i, k == 0 ? exact : general);
          lines[k] = line;
        }
        text += lines[0];
        StoredTickLine tick;
        EXPECT_TRUE(ParseStoredTickLine(lines[1], &tick));
        expected_[code].emplace_back(tick.exchangeContent());
      }
    }
    for (auto& [code, v] : expected_) std::sort(v.begin(), v.end());
    AppendText(dir_.path() / "replay.csv", text);
  }

  std::string StartSimulator(int extraSeconds = 8) {
    const int duration = kReplayDelaySeconds + kTicksPerContract * 10 / kTicksPerSecond + extraSeconds;
    return StartFrontSimulator(
        &simulator_, QUOTELOOM_FRONTSIM,
        {"--trading-day", "20240301", "--summary", (dir_.path() / "summary.json").string(), "--replay",
         (dir_.path() / "replay.csv").string(), "--replay-speed", "0", "--total-rate", std::to_string(kTicksPerSecond),
         "--replay-delay", std::to_string(kReplayDelaySeconds), "--duration", std::to_string(duration)},
        (dir_.path() / "frontsim.out").string());
  }

  fs::path CollectorDir(int k) const { return dir_.path() / ("collector" + std::to_string(k)); }
  fs::path ArchiveDir() const { return dir_.path() / "archive"; }

  void StartCollector(int k, const std::string& address) {
    fs::create_directories(CollectorDir(k));
    std::ofstream(CollectorDir(k) / "setting.ini") << SettingIniText(OneFront(address));
    collectors_[k] = std::make_unique<ChildProcess>(
        std::vector<std::string>{QUOTELOOMD, "--workdir", CollectorDir(k).string(), "--status-seconds", "1",
                                 "--replay", "off", "--metrics", "127.0.0.1:0"},
        (dir_.path() / ("quoteloomd" + std::to_string(k) + ".out")).string(),
        std::vector<std::string>{"XDG_CONFIG_HOME=" + (dir_.path() / "xdg").string()});
  }

  std::vector<std::string> CommonOptions(const std::string& servers) const {
    return {"--servers", servers, "--replicas", replicas_, "--duplicate-window", "2", "--retention-hours", "1",
            "--status-seconds", "1", "--metrics", "127.0.0.1:0"};
  }

  void StartPublisher(int k, const std::string& servers, std::vector<std::string> extra = {}) {
    // The collector makes its journal's folder at start; a publisher on a folder without one ends.
    EXPECT_TRUE(WaitUntil([&] { return fs::is_directory(CollectorDir(k) / "Journal"); }, 20s));
    std::vector<std::string> argv = {QUOTELOOM_PUBLISH, "--workdir", CollectorDir(k).string(), "--collector-name",
                                     "collector" + std::to_string(k)};
    for (const auto& a : CommonOptions(servers)) argv.push_back(a);
    argv.insert(argv.end(), extra.begin(), extra.end());
    publishers_[k] = std::make_unique<ChildProcess>(
        argv, (dir_.path() / ("publish" + std::to_string(k) + "-" + std::to_string(++runs_) + ".out")).string());
  }

  void StartArchive(const std::string& servers) {
    std::vector<std::string> argv = {QUOTELOOM_ARCHIVE, "--workdir", ArchiveDir().string()};
    for (const auto& a : CommonOptions(servers)) argv.push_back(a);
    archive_ = std::make_unique<ChildProcess>(argv, (dir_.path() / ("archive-" + std::to_string(++runs_) + ".out")).string());
  }

  std::size_t LinesIn(const fs::path& folder) const { return Total(TimeStreamContents(folder)); }

  // Waits until `folder` holds at least `fraction` of the ticks.
  bool WaitForShare(const fs::path& folder, double fraction, std::chrono::milliseconds limit) const {
    return WaitUntil([&] { return LinesIn(folder) >= fraction * Total(expected_); }, limit);
  }

  // Publisher k's last status shows every tick acknowledged, nothing in flight and no backlog. A
  // publisher that started over may have had some ticks acknowledged twice, so the count is a floor.
  bool PublisherCaughtUp(int k) const {
    const std::string& output = publishers_[k]->Output();
    const std::size_t at = output.rfind("[status]");
    if (at == std::string::npos) return false;
    const std::string status = output.substr(at, output.find('\n', at) - at);
    return LastNumberAfter(status, "acknowledged") >= static_cast<long long>(Total(expected_)) &&
           status.find("in flight 0,") != std::string::npos && status.find("backlog 0 bytes") != std::string::npos;
  }

  // Stops a program with SIGTERM and expects a clean end.
  static void Stop(std::unique_ptr<ChildProcess>& p) {
    if (!p) return;
    p->Signal(SIGTERM);
    EXPECT_TRUE(p->Wait(20s));
    EXPECT_TRUE(WIFEXITED(p->status()) && WEXITSTATUS(p->status()) == 0) << p->Output();
  }

  static void Kill(std::unique_ptr<ChildProcess>& p) {
    p->Signal(SIGKILL);
    p->Wait(10s);
  }

  // The archive ends complete and without a duplicate, in both of its files.
  void ExpectArchiveExact() {
    ASSERT_TRUE(WaitUntil([&] { return LinesIn(ArchiveDir()) >= Total(expected_); }, 60s))
        << LinesIn(ArchiveDir()) << " of " << Total(expected_) << "\n" << archive_->Output();
    std::this_thread::sleep_for(1500ms);  // a late copy would show by now
    std::size_t bad = 0;
    const std::string difference = Difference(expected_, TimeStreamContents(ArchiveDir(), &bad));
    EXPECT_TRUE(difference.empty()) << difference;
    EXPECT_EQ(bad, 0u);
    std::map<std::string, std::size_t> want;
    for (const auto& [code, v] : expected_) want[code] = v.size();
    EXPECT_EQ(PerContractFileLines(ArchiveDir()), want);
    ExpectArchiveAsExactAsTheCollectors();
  }

  // Every line and record of the archive is, byte for byte, one a collector wrote for the same tick:
  // its lines are made from the exact values, not from the six-digit time-stream line.
  void ExpectArchiveAsExactAsTheCollectors() {
    std::set<std::string> collected, collectedRecords;
    for (int k = 0; k < 2; ++k) {
      for (const std::string& line : AllLines(CollectorDir(k))) collected.insert(line);
      for (const std::string& record : AllRecords(CollectorDir(k))) collectedRecords.insert(record);
    }
    std::size_t lines = 0, differing = 0;
    std::string example;
    for (const std::string& line : AllLines(ArchiveDir())) {
      ++lines;
      if (collected.count(line) == 0 && ++differing == 1) example = line;
    }
    EXPECT_EQ(lines, 2 * Total(expected_));
    EXPECT_EQ(differing, 0u) << "e.g. " << example;
    std::size_t records = 0, unknown = 0;
    for (const std::string& record : AllRecords(ArchiveDir())) {
      ++records;
      unknown += collectedRecords.count(record) == 0 ? 1 : 0;
    }
    EXPECT_EQ(records, Total(expected_));
    EXPECT_EQ(unknown, 0u);
  }

  // Every line of a folder's time-stream and per-contract files, the file's name before it.
  static std::vector<std::string> AllLines(const fs::path& folder) {
    std::vector<std::string> out;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
      if (!entry.is_regular_file() || entry.path().extension() != ".csv") continue;
      const std::string parent = entry.path().parent_path().filename().string();
      if (parent != "DataTimeStream" && entry.path().parent_path().parent_path().filename() != "Data") continue;
      std::istringstream in(ReadText(entry.path()));
      for (std::string line; std::getline(in, line);) out.push_back(entry.path().filename().string() + ":" + line);
    }
    return out;
  }

  // The tick and write time of every journal record of a folder (the sequence is each writer's own).
  static std::vector<std::string> AllRecords(const fs::path& folder) {
    std::vector<std::string> out;
    if (!fs::exists(folder / "Journal")) return out;
    for (const auto& file : fs::directory_iterator(folder / "Journal")) {
      std::vector<JournalEntry> entries;
      std::string error;
      EXPECT_TRUE(ReadWholeJournal(file.path().string(), &entries, &error)) << error;
      for (JournalEntry& e : entries) {
        e.sequence = 0;
        std::string body;
        EncodeTickBody(e, &body);
        out.push_back(body);
      }
    }
    return out;
  }

  // The collector's files hold every tick once and its own count says so.
  void ExpectCollectorComplete(int k) {
    EXPECT_TRUE(WaitUntil([&] { return LastNumberAfter(collectors_[k]->Output(), "ticks written") ==
                                       static_cast<long long>(Total(expected_)); }, 10s))
        << collectors_[k]->Output().substr(0, 2000);
    const std::string difference = Difference(expected_, TimeStreamContents(CollectorDir(k)));
    EXPECT_TRUE(difference.empty()) << "collector " << k << "\n" << difference;
  }

  TempFolder dir_;
  Contents expected_;
  std::string replicas_ = "3";
  std::unique_ptr<ChildProcess> simulator_;
  std::unique_ptr<ChildProcess> collectors_[2];
  std::unique_ptr<ChildProcess> publishers_[2];
  std::unique_ptr<ChildProcess> archive_;
  int runs_ = 0;
};

TEST_F(ClusterEndToEndTest, TwoCollectorsOneArchiveHoldsEveryTickOnce) {
  NatsCluster cluster(dir_.path(), 3);
  ASSERT_TRUE(cluster.Start());
  const std::string address = StartSimulator();
  ASSERT_FALSE(address.empty());
  StartCollector(0, address);
  StartCollector(1, address);
  StartPublisher(0, cluster.Urls());
  StartPublisher(1, cluster.Urls());
  StartArchive(cluster.Urls());
  ASSERT_TRUE(simulator_->Wait(60s));
  ExpectArchiveExact();

  // Both collectors got every tick, and the summary counts each once per client.
  ExpectCollectorComplete(0);
  ExpectCollectorComplete(1);
  const std::string summary = ReadText(dir_.path() / "summary.json");
  for (const auto& [code, v] : expected_) {
    EXPECT_EQ(LastNumberAfter(summary, "\"" + code + "\":"), static_cast<long long>(2 * v.size())) << code;
  }
  EXPECT_TRUE(WaitUntil([&] { return PublisherCaughtUp(1); }, 10s))
      << publishers_[1]->Output();
  for (auto& p : publishers_) Stop(p);
  Stop(archive_);
  EXPECT_NE(archive_->Output().find("[status] messages taken"), std::string::npos);
}

TEST_F(ClusterEndToEndTest, CollectorNodePublisherAndArchiveKilledHalfWayLoseAndDoubleNothing) {
  NatsCluster cluster(dir_.path(), 3);
  ASSERT_TRUE(cluster.Start());
  const std::string address = StartSimulator();
  ASSERT_FALSE(address.empty());
  StartCollector(0, address);
  StartCollector(1, address);
  StartPublisher(0, cluster.Urls());
  StartPublisher(1, cluster.Urls());
  StartArchive(cluster.Urls());

  ASSERT_TRUE(WaitForShare(CollectorDir(0), 0.25, 40s));
  Kill(collectors_[1]);
  ASSERT_TRUE(WaitForShare(CollectorDir(0), 0.4, 20s));
  cluster.KillNode(1);
  std::this_thread::sleep_for(3s);
  ASSERT_TRUE(cluster.StartNode(1));
  ASSERT_TRUE(WaitForShare(CollectorDir(0), 0.65, 20s));
  Kill(publishers_[0]);
  Kill(archive_);
  std::this_thread::sleep_for(1500ms);
  StartPublisher(0, cluster.Urls());
  StartArchive(cluster.Urls());

  ASSERT_TRUE(simulator_->Wait(60s));
  ExpectCollectorComplete(0);
  ExpectArchiveExact();
  Stop(publishers_[0]);
  Stop(publishers_[1]);
  Stop(archive_);
}

TEST_F(ClusterEndToEndTest, PublisherCutOffLongerThanTheDuplicateWindowCatchesUpWithoutDuplicates) {
  NatsCluster cluster(dir_.path(), 3);
  ASSERT_TRUE(cluster.Start());
  std::vector<std::unique_ptr<TcpCutter>> cutters;
  std::string cutUrls;
  for (int i = 0; i < 3; ++i) {
    cutters.push_back(std::make_unique<TcpCutter>(cluster.clientPort(i)));
    cutUrls += (i ? "," : "") + std::string("nats://127.0.0.1:") + std::to_string(cutters.back()->port());
  }
  const std::string address = StartSimulator();
  ASSERT_FALSE(address.empty());
  StartCollector(0, address);
  StartCollector(1, address);
  StartPublisher(0, cluster.Urls());
  StartPublisher(1, cutUrls, {"--only-listed-servers"});
  StartArchive(cluster.Urls());

  ASSERT_TRUE(WaitForShare(CollectorDir(1), 0.2, 40s));
  for (auto& c : cutters) c->SetCut(true);
  const long long ackedBeforeCut = LastNumberAfter(publishers_[1]->Output(), "acknowledged");
  std::this_thread::sleep_for(6s);  // three duplicate windows
  EXPECT_NE(publishers_[1]->Output().find("connection reconnecting"), std::string::npos) << publishers_[1]->Output();
  // Every copy the cut-off publisher sends from now on is older than the stream's window: the other
  // publisher has stored all ticks, and a window has passed since (a slow machine can delay it).
  ASSERT_TRUE(simulator_->Wait(60s));
  ASSERT_TRUE(WaitUntil([&] { return PublisherCaughtUp(0); }, 30s))
      << publishers_[0]->Output();
  std::this_thread::sleep_for(3s);
  for (auto& c : cutters) c->SetCut(false);

  ExpectCollectorComplete(1);
  EXPECT_TRUE(WaitUntil([&] { return PublisherCaughtUp(1); }, 30s))
      << publishers_[1]->Output();
  ExpectArchiveExact();
  // The late copies passed the stream's window and were dropped by the archive itself (unless the
  // publisher had everything acknowledged before the cut, which only a very slow run allows).
  if (ackedBeforeCut < static_cast<long long>(Total(expected_))) {
    EXPECT_TRUE(WaitUntil([&] { return LastNumberAfter(archive_->Output(), "duplicates skipped") > 0; }, 10s))
        << archive_->Output();
  }
  for (auto& p : publishers_) Stop(p);
  Stop(archive_);
}

TEST_F(ClusterEndToEndTest, CollectorStoresTheSameWithoutAClusterAndThePublisherWaitsForOne) {
  NatsCluster cluster(dir_.path(), 1);
  replicas_ = "1";
  const std::string address = StartSimulator(2);
  ASSERT_FALSE(address.empty());
  StartCollector(0, address);
  StartPublisher(0, cluster.Urls());
  ASSERT_TRUE(simulator_->Wait(60s));
  ASSERT_TRUE(WaitUntil([&] { return LinesIn(CollectorDir(0)) >= Total(expected_); }, 10s));
  ExpectCollectorComplete(0);
  EXPECT_EQ(PerContractFileLines(CollectorDir(0)).size(), expected_.size());
  const std::string waiting = publishers_[0]->Output();
  EXPECT_NE(waiting.find("cannot connect to the cluster yet"), std::string::npos) << waiting;
  EXPECT_TRUE(publishers_[0]->Running());

  ASSERT_TRUE(cluster.Start());
  EXPECT_TRUE(WaitUntil([&] { return PublisherCaughtUp(0); }, 30s))
      << publishers_[0]->Output();
  Stop(publishers_[0]);
}

}  // namespace
