// The collector as a user runs it: quoteloomd against the front simulator, both child processes
// on loopback, in a fresh working directory.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/child_process.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

using Counts = std::map<std::string, std::uint64_t>;

// The collector under test: the one of this build, or one built against an SDK folder.
std::string QuoteloomdProgram() {
  const char* path = std::getenv("QUOTELOOM_E2E_QUOTELOOMD");
  return path != nullptr && *path != '\0' ? path : QUOTELOOMD;
}

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

std::size_t CountOf(const std::string& text, const std::string& needle) {
  std::size_t n = 0;
  for (auto pos = text.find(needle); pos != std::string::npos; pos = text.find(needle, pos + needle.size())) ++n;
  return n;
}

// The simulator's summary: ticks_total, the ticks per contract and the hostile ticks.
struct Summary {
  std::uint64_t total = 0;
  std::uint64_t hostile = 0;
  Counts ticks;
};

bool ParseSummary(const std::string& json, Summary* out) {
  std::smatch m;
  if (!std::regex_search(json, m, std::regex("\"ticks_total\"\\s*:\\s*(\\d+)"))) return false;
  out->total = std::stoull(m[1]);
  if (std::regex_search(json, m, std::regex("\"ticks_hostile\"\\s*:\\s*(\\d+)"))) out->hostile = std::stoull(m[1]);
  const auto start = json.find("\"ticks\"");
  if (start == std::string::npos) return false;
  const auto open = json.find('{', start);
  const auto close = json.find('}', open);
  const std::string body = json.substr(open + 1, close - open - 1);
  const std::regex pair("\"([^\"]+)\"\\s*:\\s*(\\d+)");
  for (auto it = std::sregex_iterator(body.begin(), body.end(), pair); it != std::sregex_iterator(); ++it) {
    out->ticks[(*it)[1]] = std::stoull((*it)[2]);
  }
  return true;
}

// The last number after `label` in the collector's output, or -1.
long long LastNumberAfter(const std::string& output, const std::string& label) {
  const std::regex number(label + " (\\d+)");
  long long value = -1;
  for (auto it = std::sregex_iterator(output.begin(), output.end(), number); it != std::sregex_iterator(); ++it) {
    value = std::stoll((*it)[1]);
  }
  return value;
}

class CollectorEndToEndTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/quoteloom-e2e-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    // The working folder sits two levels down, so a path that climbs out of it stays in view.
    root_ = pattern;
    dir_ = root_ / "a" / "work";
    fs::create_directories(dir_ / "xdg");
  }
  void TearDown() override {
    collector_.reset();
    simulator_.reset();
    fs::remove_all(root_);
  }

  // Starts the simulator on a free loopback port and returns its address.
  std::string StartSimulator(std::vector<std::string> extra) {
    std::vector<std::string> argv = {QUOTELOOM_FRONTSIM, "--listen", "127.0.0.1:0", "--broker", "9999", "--user",
                                     "u1", "--password", "p1", "--trading-day", "20240301", "--summary",
                                     (dir_ / "summary.json").string()};
    argv.insert(argv.end(), extra.begin(), extra.end());
    simulator_ = std::make_unique<ChildProcess>(argv, (dir_ / "frontsim.out").string());
    return WaitForListeningAddress(*simulator_, 10s);
  }

  void StartCollector(const std::string& address, const std::string& password = "p1",
                      std::vector<std::string> replayArgs = {"--replay", "off"}) {
    WriteSettingIni("servernum=1\r\naddress1=tcp://" + address, password);
    StartCollectorProgram(replayArgs);
  }

  void WriteSettingIni(const std::string& fronts, const std::string& password = "p1") {
    std::ofstream ini(dir_ / "setting.ini");
    ini << "[AccountInfo]\r\nbrokeid=9999\r\nusername=u1\r\npassword=" << password << "\r\n" << fronts
        << "\r\nstopsavetimebegin1=0\r\nstopsavetimeend1=0\r\nstopsavetimebegin2=0\r\nstopsavetimeend2=0\r\n";
  }

  void StartCollectorProgram(std::vector<std::string> replayArgs = {"--replay", "off"}) {
    std::vector<std::string> argv = {QuoteloomdProgram(), "--workdir", dir_.string(), "--status-seconds", "1"};
    argv.insert(argv.end(), replayArgs.begin(), replayArgs.end());
    collector_ = std::make_unique<ChildProcess>(argv, (dir_ / "quoteloomd.out").string(),
                                                std::vector<std::string>{"XDG_CONFIG_HOME=" + (dir_ / "xdg").string()});
    ASSERT_TRUE(collector_->started());
  }

  std::string CollectorOutput() const { return collector_->Output(); }

  bool WaitForOutput(const std::string& needle, std::size_t times, std::chrono::milliseconds limit) {
    return WaitUntil([&] { return CountOf(CollectorOutput(), needle) >= times; }, limit);
  }

  bool WaitForWritten(long long ticks, std::chrono::milliseconds limit) {
    return WaitUntil([&] { return LastNumberAfter(CollectorOutput(), "ticks written") >= ticks; }, limit);
  }

  // SIGTERM, then the count of accepted ticks the collector printed at exit (-1 if it did not).
  long long StopCollector() {
    collector_->Signal(SIGTERM);
    EXPECT_TRUE(collector_->Wait(60s)) << "quoteloomd did not stop";
    EXPECT_TRUE(WIFEXITED(collector_->status()) && WEXITSTATUS(collector_->status()) == 0);
    return LastNumberAfter(CollectorOutput(), "accepted ticks");
  }

  // Lines per contract in the time-stream files (by their second field) and in the per-contract files.
  void StoredCounts(Counts* timeStream, Counts* perContract, std::uint64_t* timeStreamTotal,
                    std::uint64_t* perContractTotal) const {
    *timeStreamTotal = *perContractTotal = 0;
    if (fs::exists(dir_ / "DataTimeStream")) {
      for (const auto& file : fs::directory_iterator(dir_ / "DataTimeStream")) {
        std::istringstream in(ReadFile(file.path()));
        for (std::string line; std::getline(in, line);) {
          const auto a = line.find(',');
          (*timeStream)[line.substr(a + 1, line.find(',', a + 1) - a - 1)]++;
          ++*timeStreamTotal;
        }
      }
    }
    if (fs::exists(dir_ / "Data")) {
      for (const auto& day : fs::directory_iterator(dir_ / "Data")) {
        for (const auto& file : fs::directory_iterator(day.path())) {
          const std::uint64_t n = CountOf(ReadFile(file.path()), "\r\n");
          (*perContract)[file.path().stem().string()] += n;
          *perContractTotal += n;
        }
      }
    }
  }

  fs::path root_;
  fs::path dir_;
  std::unique_ptr<ChildProcess> simulator_;
  std::unique_ptr<ChildProcess> collector_;
};

TEST_F(CollectorEndToEndTest, LogsInSubscribesTheUniverseAndStoresExactlyWhatTheFrontSent) {
  const std::string address = StartSimulator({"--duration", "5"});
  ASSERT_FALSE(address.empty()) << simulator_->Output();
  StartCollector(address);

  ASSERT_TRUE(simulator_->Wait(40s));
  // The front closed its connection after its last tick; once the collector saw that, it has read everything.
  ASSERT_TRUE(WaitForOutput("行情连接断开[", 2, 20s)) << CollectorOutput();
  const long long accepted = StopCollector();

  Summary summary;
  ASSERT_TRUE(ParseSummary(ReadFile(dir_ / "summary.json"), &summary)) << ReadFile(dir_ / "summary.json");
  ASSERT_GT(summary.total, 0u);
  EXPECT_EQ(accepted, static_cast<long long>(summary.total));

  Counts timeStream, perContract;
  std::uint64_t timeStreamTotal = 0, perContractTotal = 0;
  StoredCounts(&timeStream, &perContract, &timeStreamTotal, &perContractTotal);
  EXPECT_EQ(timeStreamTotal, summary.total);
  EXPECT_EQ(perContractTotal, summary.total);
  Counts sent;
  for (const auto& [code, n] : summary.ticks) {
    if (n > 0) sent[code] = n;
  }
  EXPECT_EQ(timeStream, sent);
  EXPECT_EQ(perContract, sent);
  EXPECT_FALSE(fs::exists(dir_ / "cresh1.txt"));
  EXPECT_FALSE(fs::exists(dir_ / "cresh2.txt"));

  const std::string out = CollectorOutput();
  EXPECT_EQ(CountOf(out, "[断网日志] 行情连接成功"), 1u);
  EXPECT_EQ(CountOf(out, "[CTP日志] 发送行情用户登录请求"), 1u);
  EXPECT_EQ(CountOf(out, "[CTP日志] 行情登录成功[20240301]"), 1u);
  EXPECT_EQ(CountOf(out, "合约名：["), 1475u);
  EXPECT_EQ(CountOf(out, "[订阅合约] [0]合约名：[sc2403]"), 1u);
  EXPECT_EQ(CountOf(out, "[订阅合约] [1474]合约名：[TS2603]"), 1u);
  EXPECT_EQ(CountOf(out, "[CTP日志] 订阅行情成功["), 1475u);
  EXPECT_EQ(CountOf(out, "共生成1475个合约"), 1u);
}

// A front that sends paths, commas, CR LF, GBK, empty and overlong codes, codes never subscribed and
// broken days and times among its real ticks. Run against every SDK folder too (tests/collector/
// sdk_families.sh), where the overlong codes reach the intake in the release's own code field.
TEST_F(CollectorEndToEndTest, HostileTicksAreRefusedCountedAndNeverReachAFileOrALine) {
  const std::string address = StartSimulator({"--duration", "5", "--hostile-every", "40"});
  ASSERT_FALSE(address.empty()) << simulator_->Output();
  StartCollector(address);
  ASSERT_TRUE(simulator_->Wait(40s));
  ASSERT_TRUE(WaitForOutput("行情连接断开[", 2, 20s)) << CollectorOutput();

  Summary summary;
  ASSERT_TRUE(ParseSummary(ReadFile(dir_ / "summary.json"), &summary)) << ReadFile(dir_ / "summary.json");
  ASSERT_GT(summary.total, 0u);
  ASSERT_GE(summary.hostile, 11u);
  EXPECT_TRUE(WaitUntil([&] { return LastNumberAfter(CollectorOutput(), "refused ticks") >= (long long)summary.hostile; },
                        10s));
  const long long accepted = StopCollector();
  EXPECT_EQ(LastNumberAfter(CollectorOutput(), "refused ticks"), static_cast<long long>(summary.hostile));
  EXPECT_EQ(accepted, static_cast<long long>(summary.total));

  // Only the real ticks are stored, each once in each file.
  Counts timeStream, perContract;
  std::uint64_t timeStreamTotal = 0, perContractTotal = 0;
  StoredCounts(&timeStream, &perContract, &timeStreamTotal, &perContractTotal);
  Counts sent;
  for (const auto& [code, n] : summary.ticks) {
    if (n > 0) sent[code] = n;
  }
  EXPECT_EQ(timeStream, sent);
  EXPECT_EQ(perContract, sent);

  // Nothing outside the working folder, and every stored line whole, with its code whole.
  const std::regex plainName("[A-Za-z0-9]+\\.csv");
  for (const auto& entry : fs::recursive_directory_iterator(root_)) {
    if (!entry.is_regular_file()) continue;
    const fs::path relative = fs::relative(entry.path(), dir_);
    EXPECT_NE(*relative.begin(), "..") << entry.path();
    if (entry.path().extension() != ".csv") continue;
    EXPECT_TRUE(std::regex_match(entry.path().filename().string(), plainName)) << entry.path();
    const bool perContractFile = relative.begin()->string() == "Data";
    std::istringstream in(ReadFile(entry.path()));
    for (std::string line; std::getline(in, line);) {
      ASSERT_EQ(std::count(line.begin(), line.end(), ','), 23) << entry.path() << ": " << line;
      ASSERT_EQ(line.back(), '\r') << entry.path();
      const auto a = line.find(',');
      const std::string code = line.substr(a + 1, line.find(',', a + 1) - a - 1);
      EXPECT_EQ(sent.count(code), 1u) << line;
      if (perContractFile) {
        EXPECT_EQ(code, entry.path().stem().string());
      }
    }
  }

  const std::string out = CollectorOutput();
  EXPECT_EQ(CountOf(out, "[CTP日志] 行情登录成功[20240301]"), 1u);
  EXPECT_EQ(CountOf(out, "[CTP日志] 订阅行情成功["), 1475u);
  EXPECT_EQ(CountOf(out, "[CTP日志] 行情API版本["), 1u);
  if (const char* release = std::getenv("QUOTELOOM_E2E_SDK_RELEASE")) {
    EXPECT_EQ(CountOf(out, std::string("layout of ") + release + "]"), 1u) << out.substr(0, 2000);
  }
  // Each bad code is logged once however often it came; the overlong ones as the release holds them.
  EXPECT_EQ(CountOf(out, "[CTP日志] 拒收行情[../../../escaped]："), 1u);
  EXPECT_EQ(CountOf(out, "[CTP日志] 拒收行情[]：合约代码为空"), 1u);
  EXPECT_EQ(CountOf(out, "[CTP日志] 拒收行情[zz9999]：未订阅的合约"), 1u);
  EXPECT_EQ(CountOf(out, "[CTP日志] 拒收行情[IF2406&IF2409&IF2412&IF"), 1u);
  EXPECT_EQ(CountOf(out, "：合约代码超过30个字符"), 2u);
}

TEST_F(CollectorEndToEndTest, ARefusedLoginIsLoggedAndNothingIsSubscribed) {
  const std::string address = StartSimulator({"--duration", "20"});
  ASSERT_FALSE(address.empty());
  StartCollector(address, "wrong");
  ASSERT_TRUE(WaitForOutput("[CTP日志] 行情登录错误[3][", 1, 20s)) << CollectorOutput();
  EXPECT_EQ(StopCollector(), 0);
  const std::string out = CollectorOutput();
  EXPECT_EQ(CountOf(out, "合约名：["), 0u);
  EXPECT_EQ(CountOf(out, "行情登录成功"), 0u);
  EXPECT_FALSE(fs::exists(dir_ / "Data"));
  EXPECT_FALSE(fs::exists(dir_ / "DataTimeStream"));
}

TEST_F(CollectorEndToEndTest, ADroppedFrontIsFollowedByANewLoginAndSubscription) {
  const std::string address = StartSimulator({"--drop-after-ticks", "1500", "--duration", "60"});
  ASSERT_FALSE(address.empty());
  StartCollector(address);
  ASSERT_TRUE(WaitForOutput("[CTP日志] 行情登录成功[20240301]", 2, 40s)) << CollectorOutput();
  ASSERT_TRUE(WaitForOutput("[1474]合约名：[", 2, 20s));
  ASSERT_TRUE(WaitForWritten(2500, 30s)) << CollectorOutput();  // collection goes on after the drop
  const long long accepted = StopCollector();

  const std::string out = CollectorOutput();
  EXPECT_GE(CountOf(out, "[断网日志] 行情连接断开["), 1u);
  EXPECT_GE(CountOf(out, "[CTP日志] 行情连接断开["), 1u);
  EXPECT_GE(CountOf(out, "[断网日志] 行情连接成功"), 2u);
  EXPECT_GE(CountOf(out, "[CTP日志] 发送行情用户登录请求"), 2u);
  Counts timeStream, perContract;
  std::uint64_t timeStreamTotal = 0, perContractTotal = 0;
  StoredCounts(&timeStream, &perContract, &timeStreamTotal, &perContractTotal);
  EXPECT_GT(accepted, 2500);
  EXPECT_EQ(static_cast<long long>(timeStreamTotal), accepted);
  EXPECT_EQ(static_cast<long long>(perContractTotal), accepted);
}

TEST_F(CollectorEndToEndTest, SigtermUnderLoadWritesEveryAcceptedTickToBothFiles) {
  const std::string address = StartSimulator({"--total-rate", "8000", "--duration", "60"});
  ASSERT_FALSE(address.empty());
  StartCollector(address);
  ASSERT_TRUE(WaitForWritten(5000, 40s)) << CollectorOutput();
  const long long accepted = StopCollector();  // the front is still sending
  ASSERT_GT(accepted, 5000);

  Counts timeStream, perContract;
  std::uint64_t timeStreamTotal = 0, perContractTotal = 0;
  StoredCounts(&timeStream, &perContract, &timeStreamTotal, &perContractTotal);
  EXPECT_EQ(static_cast<long long>(timeStreamTotal), accepted);
  EXPECT_EQ(static_cast<long long>(perContractTotal), accepted);
  EXPECT_EQ(timeStream, perContract);
  EXPECT_EQ(LastNumberAfter(CollectorOutput(), "written"), accepted);
}

TEST_F(CollectorEndToEndTest, KillUnderLoadLeavesOnlyWholeLines) {
  const std::string address = StartSimulator({"--total-rate", "8000", "--duration", "60"});
  ASSERT_FALSE(address.empty());
  StartCollector(address);
  ASSERT_TRUE(WaitForWritten(5000, 40s)) << CollectorOutput();
  collector_->Signal(SIGKILL);
  ASSERT_TRUE(collector_->Wait(10s));

  std::size_t files = 0;
  for (const auto& entry : fs::recursive_directory_iterator(dir_)) {
    const auto ext = entry.path().extension();
    if (!entry.is_regular_file() || (ext != ".csv" && entry.path().filename().string().rfind("cresh", 0) != 0)) {
      continue;
    }
    ++files;
    const std::string text = ReadFile(entry.path());
    ASSERT_GE(text.size(), 2u) << entry.path();
    EXPECT_EQ(text.substr(text.size() - 2), "\r\n") << entry.path();
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
      ASSERT_EQ(std::count(line.begin(), line.end(), ','), 23) << entry.path() << ": " << line;
      ASSERT_EQ(line.back(), '\r') << entry.path();
    }
  }
  EXPECT_GT(files, 2u);
}

TEST_F(CollectorEndToEndTest, TheStoredServiceStateDecidesTheReplayServiceUnlessTheCommandLineSays) {
  struct Case {
    const char* stored;  // null: no store file
    std::vector<std::string> args;
    bool started;
  };
  const Case cases[] = {
      {nullptr, {"--replay-port", "0"}, true},
      {"1", {"--replay-port", "0"}, true},
      {"0", {"--replay-port", "0"}, false},
      {"0", {"--replay", "on", "--replay-port", "0"}, true},
      {"1", {"--replay", "off"}, false},
  };
  for (const auto& c : cases) {
    fs::remove_all(dir_ / "xdg");
    if (c.stored != nullptr) {
      fs::create_directories(dir_ / "xdg" / "Vantrelo Quoteloom");
      std::ofstream(dir_ / "xdg" / "Vantrelo Quoteloom" / "Quoteloom.conf") << "[Settings]\nMDServicestate=" << c.stored
                                                                             << "\n";
    }
    StartCollector("127.0.0.1:1", "p1", c.args);
    ASSERT_TRUE(WaitForOutput("quoteloomd: replay service ", 1, 10s)) << CollectorOutput();
    const std::string out = CollectorOutput();
    EXPECT_EQ(CountOf(out, "quoteloomd: replay service on 0.0.0.0:"), c.started ? 1u : 0u) << out;
    EXPECT_EQ(CountOf(out, "quoteloomd: replay service off"), c.started ? 0u : 1u) << out;
    EXPECT_EQ(StopCollector(), 0);
  }
}

TEST_F(CollectorEndToEndTest, FrontsAreTakenFromTheTwelveAddressSlotsOnly) {
  const std::string address = StartSimulator({"--duration", "30"});
  ASSERT_FALSE(address.empty());
  struct Case {
    std::string fronts;
    bool connects;
  };
  const Case cases[] = {
      {"servernum=12\r\naddress12=tcp://" + address, true},
      {"servernum=2\r\naddress2=tcp://" + address, true},
      {"servernum=13\r\naddress13=tcp://" + address, false},
      {"servernum=1\r\naddress2=tcp://" + address, false},
  };
  for (const auto& c : cases) {
    WriteSettingIni(c.fronts);
    StartCollectorProgram();
    EXPECT_EQ(WaitForOutput("[CTP日志] 行情登录成功", 1, c.connects ? 20s : 2s), c.connects) << c.fronts;
    EXPECT_GE(StopCollector(), 0);
  }
}

TEST_F(CollectorEndToEndTest, WithoutSettingIniItWarnsCollectsNothingAndStopsCleanly) {
  StartCollectorProgram();
  ASSERT_TRUE(WaitForOutput("[status] contracts written 0, ticks written 0", 1, 10s)) << CollectorOutput();
  EXPECT_EQ(StopCollector(), 0);
  const std::string out = CollectorOutput();
  EXPECT_EQ(CountOf(out, "no readable setting.ini"), 1u);
  EXPECT_EQ(CountOf(out, "行情连接"), 0u);
  EXPECT_FALSE(fs::exists(dir_ / "Data"));
}

TEST_F(CollectorEndToEndTest, CommandLineHelpAndClearErrors) {
  struct Case {
    std::vector<std::string> args;
    int exitCode;
    const char* says;
  };
  const Case cases[] = {
      {{"--help"}, 0, "--workdir DIR"},
      {{"--replay", "maybe"}, 2, "--replay takes on or off, not 'maybe'"},
      {{"--replay"}, 2, "--replay needs a value"},
      {{"--replay-port", "70000"}, 2, "--replay-port takes a port from 0 to 65535"},
      {{"--status-seconds", "0"}, 2, "--status-seconds takes a number of seconds"},
      {{"--frobnicate"}, 2, "unknown option '--frobnicate'"},
      {{"--workdir", (dir_ / "missing").string()}, 1, "cannot use the working directory"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> argv = {QuoteloomdProgram()};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    ChildProcess program(argv, (dir_ / "cli.out").string());
    ASSERT_TRUE(program.Wait(10s)) << c.args[0];
    EXPECT_TRUE(WIFEXITED(program.status()));
    EXPECT_EQ(WEXITSTATUS(program.status()), c.exitCode) << c.args[0];
    EXPECT_NE(program.Output().find(c.says), std::string::npos) << program.Output();
  }
}

}  // namespace
