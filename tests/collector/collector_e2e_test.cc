// The collector as a user runs it: quoteloomd against the front simulator, both child processes
// on loopback, in a fresh working directory.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <cstring>
#include <map>
#include <memory>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/child_process.h"
#include "tests/support/file_text.h"
#include "tests/support/front_simulator.h"
#include "tests/support/process_output.h"
#include "tests/support/simulator_summary.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

using Counts = std::map<std::string, std::uint64_t>;

// The collector under test: the one of this build, or one built against an SDK folder.
std::string QuoteloomdProgram() {
  const char* path = std::getenv("QUOTELOOM_E2E_QUOTELOOMD");
  return path != nullptr && *path != '\0' ? path : QUOTELOOMD;
}

std::size_t CountOf(const std::string& text, const std::string& needle) {
  std::size_t n = 0;
  for (auto pos = text.find(needle); pos != std::string::npos; pos = text.find(needle, pos + needle.size())) ++n;
  return n;
}

// A TCP connection to 127.0.0.1:`port` from the loopback address `from`; -1 on failure.
int ConnectFrom(unsigned short port, const std::string& from) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in source{};
  source.sin_family = AF_INET;
  inet_pton(AF_INET, from.c_str(), &source.sin_addr);
  sockaddr_in target{};
  target.sin_family = AF_INET;
  target.sin_port = htons(port);
  target.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::bind(fd, reinterpret_cast<sockaddr*>(&source), sizeof(source)) != 0 ||
      ::connect(fd, reinterpret_cast<sockaddr*>(&target), sizeof(target)) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

// Descriptors closed when the test ends.
struct Sockets {
  std::vector<int> fds;
  ~Sockets() {
    for (int fd : fds) ::close(fd);
  }
};

// A replay start request as a pack: the header D9 00 40 5A, then the 217-byte message with the
// command 1000 at offset 136, the contract at 140 and the two days at 171 and 180.
std::string StartRequestPack(const std::string& contract, const std::string& first, const std::string& last) {
  std::string pack = {'\xD9', '\x00', '\x40', '\x5A'};
  std::string body(217, '\0');
  const std::int32_t command = 1000;
  std::memcpy(&body[136], &command, sizeof(command));
  body.replace(140, contract.size(), contract);
  body.replace(171, first.size(), first);
  body.replace(180, last.size(), last);
  return pack + body;
}

// The number of threads of a process, from /proc; 0 when it has gone.
int ThreadsOf(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("Threads:", 0) == 0) return std::stoi(line.substr(8));
  }
  return 0;
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
    std::vector<std::string> options = {"--trading-day", "20240301", "--summary", (dir_ / "summary.json").string()};
    options.insert(options.end(), extra.begin(), extra.end());
    return StartFrontSimulator(&simulator_, QUOTELOOM_FRONTSIM, options, (dir_ / "frontsim.out").string());
  }

  void StartCollector(const std::string& address, const std::string& password = "p1",
                      std::vector<std::string> replayArgs = {"--replay", "off"}) {
    WriteSettingIni(OneFront(address), password);
    StartCollectorProgram(replayArgs);
  }

  void WriteSettingIni(const std::string& fronts, const std::string& password = "p1") {
    std::ofstream(dir_ / "setting.ini") << SettingIniText(fronts, {.password = password});
  }

  void StartCollectorProgram(std::vector<std::string> replayArgs = {"--replay", "off"}) {
    std::vector<std::string> argv = launcher_;
    for (std::string arg : {QuoteloomdProgram(), std::string("--workdir"), dir_.string(), std::string("--status-seconds"), std::string("1"), std::string("--metrics"), metricsArg_}) {
      argv.push_back(arg);
    }
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
    if (fs::is_directory(dir_ / "DataTimeStream")) {
      for (const auto& file : fs::directory_iterator(dir_ / "DataTimeStream")) {
        std::istringstream in(ReadText(file.path()));
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
          const std::uint64_t n = CountOf(ReadText(file.path()), "\r\n");
          (*perContract)[file.path().stem().string()] += n;
          *perContractTotal += n;
        }
      }
    }
  }

  // The port of the collector's replay service, from its start line; 0 if it did not say.
  unsigned short ReplayPort() {
    unsigned short port = 0;
    WaitUntil(
        [&] {
          std::smatch m;
          const std::string out = CollectorOutput();
          if (std::regex_search(out, m, std::regex("replay service on 127\\.0\\.0\\.1:(\\d+)"))) {
            port = static_cast<unsigned short>(std::stoi(m[1]));
          }
          return port != 0;
        },
        10s);
    return port;
  }

  // After the front has sent its last tick and closed: stops the collector and checks that both
  // kinds of file hold exactly what the simulator sent.
  void ExpectEverySentTickStored() {
    ASSERT_TRUE(simulator_->Wait(60s));
    ASSERT_TRUE(WaitForOutput("[断网日志] 行情连接断开[", 1, 20s)) << CollectorOutput();
    const long long accepted = StopCollector();
    SimulatorSummary summary;
    ASSERT_TRUE(ParseSimulatorSummary(ReadText(dir_ / "summary.json"), &summary));
    ASSERT_GT(summary.total, 0u);
    EXPECT_EQ(accepted, static_cast<long long>(summary.total));
    Counts timeStream, perContract;
    std::uint64_t timeStreamTotal = 0, perContractTotal = 0;
    StoredCounts(&timeStream, &perContract, &timeStreamTotal, &perContractTotal);
    EXPECT_EQ(timeStreamTotal, summary.total);
    EXPECT_EQ(perContractTotal, summary.total);
    EXPECT_FALSE(fs::exists(dir_ / "cresh1.txt"));
    EXPECT_FALSE(fs::exists(dir_ / "cresh2.txt"));
  }


  fs::path root_;
  fs::path dir_;
  std::vector<std::string> launcher_;  // put before the collector's command line, such as prlimit
  std::string metricsArg_ = "127.0.0.1:0";  // a free port, so tests side by side do not collide
  std::unique_ptr<ChildProcess> simulator_;
  std::unique_ptr<ChildProcess> collector_;
};

TEST_F(CollectorEndToEndTest, LogsInSubscribesTheUniverseAndStoresExactlyWhatTheFrontSent) {
  const std::string address = StartSimulator({"--duration", "5"});
  ASSERT_FALSE(address.empty()) << simulator_->Output();
  StartCollector(address);

  // While the front sends, the status line says the collector is logged in and ticks are fresh.
  EXPECT_TRUE(WaitUntil(
      [&] {
        return std::regex_search(CollectorOutput(),
                                 std::regex("\\[status\\] [^\n]*, front logged in since \\d\\d:\\d\\d:\\d\\d, last tick [01]\\.\\d s ago\n"));
      },
      20s))
      << CollectorOutput();
  ASSERT_TRUE(simulator_->Wait(40s));
  // The front closed its connection after its last tick; once the collector saw that, it has read everything.
  ASSERT_TRUE(WaitForOutput("行情连接断开[", 2, 20s)) << CollectorOutput();
  EXPECT_TRUE(WaitForOutput(", front closed since ", 1, 5s)) << CollectorOutput();
  const long long accepted = StopCollector();

  SimulatorSummary summary;
  ASSERT_TRUE(ParseSimulatorSummary(ReadText(dir_ / "summary.json"), &summary)) << ReadText(dir_ / "summary.json");
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
  EXPECT_EQ(CountOf(out, "[行情数据] "), 0u) << "the sampled tick lines stay off the output by default";
}

// quoteloomd brings no tick log of its own: the collector's default writes the sample line of every
// 12th accepted tick, which --no-quiet-ticks prints.
TEST_F(CollectorEndToEndTest, WithoutQuietTicksTheSampledTickLinesArePrinted) {
  const std::string address = StartSimulator({"--duration", "5"});
  ASSERT_FALSE(address.empty());
  WriteSettingIni("servernum=1\r\naddress1=tcp://" + address);
  StartCollectorProgram({"--replay", "off", "--no-quiet-ticks"});
  ASSERT_TRUE(WaitForWritten(240, 30s)) << CollectorOutput();
  ASSERT_TRUE(WaitForOutput("[行情数据] ", 1, 10s)) << CollectorOutput();
  const long long accepted = StopCollector();
  const std::string out = CollectorOutput();
  const std::string price = R"(\[-?[0-9]+\.[0-9]{2}\])";
  const std::regex sample(R"(\[行情数据\] [A-Za-z]+[0-9]+)" + price + price + price + "\n");
  const auto lines = std::distance(std::sregex_iterator(out.begin(), out.end(), sample), std::sregex_iterator());
  EXPECT_GT(accepted, 0);
  EXPECT_EQ(lines, accepted / 12) << out;
  EXPECT_EQ(CountOf(out, "[行情数据] "), static_cast<std::size_t>(lines));
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

  SimulatorSummary summary;
  ASSERT_TRUE(ParseSimulatorSummary(ReadText(dir_ / "summary.json"), &summary)) << ReadText(dir_ / "summary.json");
  ASSERT_GT(summary.total, 0u);
  ASSERT_GE(summary.hostile, 11u);
  EXPECT_TRUE(WaitUntil([&] { return LastNumberAfter(CollectorOutput(), "refused ticks") >= (long long)summary.hostile; },
                        10s));
  const long long accepted = StopCollector();
  EXPECT_EQ(LastNumberAfter(CollectorOutput(), "refused ticks"), static_cast<long long>(summary.hostile));
  EXPECT_EQ(LastNumberAfter(CollectorOutput(), "quoteloomd: accepted ticks .*, refused ticks"),
            static_cast<long long>(summary.hostile))
      << "the exit line says it too\n" << CollectorOutput();
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
    std::istringstream in(ReadText(entry.path()));
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

TEST_F(CollectorEndToEndTest, LinesThatReachNoFileAreCountedLostNeverWrittenAndLoggedOncePerBurst) {
  std::ofstream(dir_ / "DataTimeStream") << "a file where the folder should be\n";
  fs::create_directory(dir_ / "cresh1.txt");  // and a folder where its fallback should be
  const std::string address = StartSimulator({"--duration", "3"});
  ASSERT_FALSE(address.empty());
  StartCollector(address);
  ASSERT_TRUE(simulator_->Wait(40s));
  ASSERT_TRUE(WaitForOutput("行情连接断开[", 2, 20s)) << CollectorOutput();
  const long long accepted = StopCollector();
  ASSERT_GT(accepted, 0);

  const std::string out = CollectorOutput();
  EXPECT_EQ(LastNumberAfter(out, "written"), 0) << "every tick lost its time-stream line";
  EXPECT_EQ(LastNumberAfter(out, "lost lines"), accepted);
  EXPECT_EQ(CountOf(out, "ticks written 0,"), CountOf(out, "ticks written ")) << out;
  EXPECT_EQ(CountOf(out, "[断网日志] 写入失败[DataTimeStream/"), 1u) << out;
  EXPECT_EQ(CountOf(out, "[断网日志] [DataTimeStream]写入停止，本次共丢失" + std::to_string(accepted) + "行"), 1u);
  Counts timeStream, perContract;
  std::uint64_t timeStreamTotal = 0, perContractTotal = 0;
  StoredCounts(&timeStream, &perContract, &timeStreamTotal, &perContractTotal);
  EXPECT_EQ(static_cast<long long>(perContractTotal), accepted);
}

// Data and Journal as links to folders elsewhere: quoteloomd writes nothing there; the per-contract
// lines go to cresh2.txt, the journal records count as failures, each is logged, and the time-stream
// lines are written as usual.
TEST_F(CollectorEndToEndTest, FoldersThatAreLinksLeadNoLineOutsideTheWorkingFolder) {
  const fs::path outside = dir_ / "outside";
  fs::create_directories(outside / "data");
  fs::create_directories(outside / "journal");
  fs::create_directory_symlink(outside / "data", dir_ / "Data");
  fs::create_directory_symlink(outside / "journal", dir_ / "Journal");
  const std::string address = StartSimulator({"--duration", "3"});
  ASSERT_FALSE(address.empty());
  StartCollector(address);
  ASSERT_TRUE(simulator_->Wait(40s));
  ASSERT_TRUE(WaitForOutput("行情连接断开[", 2, 20s)) << CollectorOutput();
  const long long accepted = StopCollector();
  ASSERT_GT(accepted, 0);

  EXPECT_EQ(std::distance(fs::recursive_directory_iterator(outside), {}), 2) << "only the two empty folders";
  const std::string out = CollectorOutput();
  EXPECT_EQ(LastNumberAfter(out, "written"), accepted);
  EXPECT_EQ(LastNumberAfter(out, "fallback lines"), accepted);
  EXPECT_EQ(LastNumberAfter(out, "journal failures"), accepted);
  EXPECT_EQ(CountOf(out, "[断网日志] 不写入[Data/"), 1u) << out;
  EXPECT_GE(CountOf(out, "Journal/"), 1u) << out;
  std::ifstream cresh2(dir_ / "cresh2.txt", std::ios::binary);
  EXPECT_EQ(std::count(std::istreambuf_iterator<char>(cresh2), std::istreambuf_iterator<char>(), '\n'), accepted);
  std::uint64_t timeStreamLines = 0;
  for (const auto& entry : fs::directory_iterator(dir_ / "DataTimeStream")) {
    std::ifstream in(entry.path(), std::ios::binary);
    timeStreamLines += std::count(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>(), '\n');
  }
  EXPECT_EQ(static_cast<long long>(timeStreamLines), accepted);
}

TEST_F(CollectorEndToEndTest, TheOpenFileLimitIsRaisedToTheHardLimitAtStart) {
  rlimit before{};
  ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &before), 0);
  if (before.rlim_max == RLIM_INFINITY || before.rlim_max <= 256) GTEST_SKIP() << "no finite hard limit above 256";
  rlimit low = before;
  low.rlim_cur = 256;
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &low), 0);
  WriteSettingIni(OneFront("127.0.0.1:1"));  // a front that never answers
  StartCollectorProgram();  // inherits the low soft limit
  setrlimit(RLIMIT_NOFILE, &before);
  ASSERT_TRUE(WaitForOutput("quoteloomd: replay service off", 1, 10s)) << CollectorOutput();

  std::smatch m;
  const std::string limits = ReadText("/proc/" + std::to_string(collector_->pid()) + "/limits");
  ASSERT_TRUE(std::regex_search(limits, m, std::regex("Max open files +(\\d+) +(\\d+)"))) << limits;
  EXPECT_EQ(std::stoull(m[1]), static_cast<unsigned long long>(before.rlim_max));
  EXPECT_EQ(m[1], m[2]);
  EXPECT_EQ(StopCollector(), 0);
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
    const std::string text = ReadText(entry.path());
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

// With few descriptors, a flood of idle and half-sent connections to the replay port from several
// addresses is capped below the descriptor limit, so the writer always has its files.
TEST_F(CollectorEndToEndTest, AConnectionFloodOnTheReplayPortCostsNoTick) {
  if (!fs::exists("/usr/bin/prlimit")) GTEST_SKIP() << "prlimit (util-linux) is missing";
  const std::string address = StartSimulator({"--total-rate", "1500", "--duration", "8"});
  ASSERT_FALSE(address.empty());
  launcher_ = {"/usr/bin/prlimit", "--nofile=256:256"};
  StartCollector(address, "p1", {"--replay", "on", "--replay-port", "0", "--replay-bind", "127.0.0.1"});
  const unsigned short port = ReplayPort();
  ASSERT_NE(port, 0) << CollectorOutput();
  EXPECT_EQ(CountOf(CollectorOutput(), "(at most 112 clients, 64 from one address)"), 1u)
      << "256 less 128 kept and 16 accepts in progress";
  ASSERT_TRUE(WaitForWritten(500, 30s)) << CollectorOutput();

  Sockets flood;
  for (int i = 0; i < 400; ++i) {
    const int fd = ConnectFrom(port, "127.0.0." + std::to_string(1 + i % 8));
    if (fd < 0) continue;
    if (i % 4 == 0) ::send(fd, "\xD9\x00\x40", 3, MSG_NOSIGNAL);  // a header cut short
    flood.fds.push_back(fd);
  }
  EXPECT_GT(flood.fds.size(), 300u);
  EXPECT_TRUE(WaitForOutput("[客户端连接] 拒绝连接[127.0.0.", 1, 10s)) << CollectorOutput();
  EXPECT_TRUE(collector_->Running());
  ExpectEverySentTickStored();
}

// Thousands of start requests over many connections leave the collector running, with its replay
// threads bounded, and cost no tick.
TEST_F(CollectorEndToEndTest, AStartRequestFloodLeavesTheCollectorRunningAndWriting) {
  const std::string address = StartSimulator({"--total-rate", "1500", "--duration", "8"});
  ASSERT_FALSE(address.empty());
  const fs::path storedDay = dir_ / "Data" / "20160104";
  fs::create_directories(storedDay / "Tick");
  {
    std::ofstream stored(storedDay / "Tick" / "rb1710.csv");
    stored << "TradingDay,ActionDay,Exchange,UpdateTime\r\n";
    for (int i = 0; i < 20000; ++i) stored << "20160104,20160104,,09:00:00,500," << 3000 + i % 100 << ",10\r\n";
  }
  StartCollector(address, "p1", {"--replay", "on", "--replay-port", "0", "--replay-bind", "127.0.0.1"});
  const unsigned short port = ReplayPort();
  ASSERT_NE(port, 0) << CollectorOutput();
  ASSERT_TRUE(WaitForWritten(500, 30s)) << CollectorOutput();
  const int idleThreads = ThreadsOf(collector_->pid());

  Sockets clients;
  for (int i = 0; i < 40; ++i) clients.fds.push_back(ConnectFrom(port, "127.0.0.1"));
  const std::string request = StartRequestPack("rb1710", "20160104", "20160104");
  int most = idleThreads;
  for (int round = 0; round < 50; ++round) {
    for (int fd : clients.fds) ::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
    most = std::max(most, ThreadsOf(collector_->pid()));
  }
  for (int i = 0; i < 20; ++i) {
    std::this_thread::sleep_for(50ms);
    most = std::max(most, ThreadsOf(collector_->pid()));
  }
  std::printf("threads: %d idle, %d at most during 2000 start requests\n", idleThreads, most);
  // At most 16 replay threads; other short-lived threads (the writer queue's push and pop each run on
  // one of their own) come and go around them, so the bound leaves room for a few. Unbounded
  // creation would show hundreds.
  EXPECT_LE(most, idleThreads + 16 + 8) << "at most 16 replay threads";
  EXPECT_TRUE(collector_->Running());
  EXPECT_GT(CountOf(CollectorOutput(), "OnReceive("), 100u);
  fs::remove_all(storedDay);  // not a file of the collector's: out of the count
  ExpectEverySentTickStored();
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
  // A refused front is given up at once on loopback, so a slot read beyond servernum would log in
  // within the wait of the last case.
  const Case cases[] = {
      {"servernum=12\r\naddress12=tcp://" + address, true},
      {"servernum=2\r\naddress1=tcp://127.0.0.1:1\r\naddress2=tcp://" + address, true},
      {"servernum=1\r\naddress1=tcp://127.0.0.1:1\r\naddress2=tcp://" + address, false},
  };
  for (const auto& c : cases) {
    WriteSettingIni(c.fronts);
    StartCollectorProgram();
    EXPECT_EQ(WaitForOutput("[CTP日志] 行情登录成功", 1, c.connects ? 20s : 5s), c.connects) << c.fronts;
    EXPECT_GE(StopCollector(), 0);
  }
}

// Settings that leave no usable front, and a folder that cannot hold files, end the start with the
// reason, so that systemd shows a failed unit instead of a collector that waits forever.
TEST_F(CollectorEndToEndTest, WithoutAUsableFrontOrAWritableFolderItRefusesToStart) {
  struct Case {
    std::string settingIni;  // empty: no setting.ini at all
    const char* says;
  };
  const std::string account = "[AccountInfo]\r\nbrokeid=9999\r\nusername=u\r\npassword=p\r\n";
  const Case cases[] = {
      {"", "setting.ini cannot be read"},
      {account + "servernum=0\r\naddress1=tcp://127.0.0.1:1\r\n", "servernum=0 in setting.ini"},
      {account + "servernum=-5\r\naddress1=tcp://127.0.0.1:1\r\n", "servernum=-5 in setting.ini"},
      {account + "servernum=999\r\naddress1=tcp://127.0.0.1:1\r\n", "servernum=999 in setting.ini"},
      {account + "servernum=99999999999999999999\r\naddress1=tcp://127.0.0.1:1\r\n",
       "servernum=99999999999999999999 in setting.ini"},
      {account + "servernum=13\r\naddress13=tcp://127.0.0.1:1\r\n", "servernum=13 in setting.ini"},
      {account + "servernum=1\r\naddress2=tcp://127.0.0.1:1\r\n", "servernum=1 but address1 is empty"},
      {account + "servernum=1\r\naddress1=tcp://127.0.0.1\r\n", "address1=tcp://127.0.0.1 in setting.ini"},
      {account + "servernum=1\r\naddress1=tcp://999.1.1.1:99999\r\n", "address1=tcp://999.1.1.1:99999 in"},
      {std::string("\x7f" "ELF\x02\x01\x01\0\0\0servernum=1", 20), "setting.ini is not a text file"},
  };
  for (const Case& c : cases) {
    fs::remove(dir_ / "setting.ini");
    if (!c.settingIni.empty()) std::ofstream(dir_ / "setting.ini", std::ios::binary) << c.settingIni;
    const ProgramRun run = RunProgram({QuoteloomdProgram(), "--workdir", dir_.string(), "--replay", "off"},
                                      dir_ / "quoteloomd.out", 10s);
    EXPECT_EQ(run.exitCode, 2) << c.says << "\n" << run.output;
    EXPECT_NE(run.output.find(c.says), std::string::npos) << run.output;
    EXPECT_EQ(run.output.find("行情连接"), std::string::npos) << run.output;
  }
  EXPECT_FALSE(fs::exists(dir_ / "Data"));

  // A folder the collector cannot write in ends with exit 1 before setting.ini is looked at.
  const ProgramRun run = RunProgram({QuoteloomdProgram(), "--workdir", "/proc", "--replay", "off"},
                                    dir_ / "quoteloomd.out", 10s);
  EXPECT_EQ(run.exitCode, 1) << run.output;
  EXPECT_NE(run.output.find("cannot write in the working directory /proc"), std::string::npos) << run.output;
}

}  // namespace
