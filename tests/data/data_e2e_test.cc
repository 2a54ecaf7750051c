// quoteloom-data on what a real quoteloomd stored from the front simulator. Both run on a fast fake
// clock (libfaketime) from a Thursday evening, so a whole night session of two contracts takes well
// under a minute; a second pair of programs collects the same night with the front dropped.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <stdlib.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/child_process.h"
#include "tests/support/file_text.h"
#include "tests/support/front_simulator.h"
#include "tests/support/process_output.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

constexpr int kSpeed = 150;
constexpr const char* kStart = "2024-03-07 20:40:00";  // Thursday: trading day 20240308
constexpr const char* kDay = "20240308";
constexpr const char* kFakeTimeLibrary = "/usr/lib/x86_64-linux-gnu/faketime/libfaketimeMT.so.1";

// Real time until the fake clock started at kStart shows `fakeSeconds` later.
std::chrono::milliseconds RealTimeFor(int fakeSeconds) { return std::chrono::milliseconds(fakeSeconds * 1000 / kSpeed); }

std::vector<std::string> Split(const std::string& line, char separator) {
  std::vector<std::string> fields;
  std::stringstream s(line);
  for (std::string field; std::getline(s, field, separator);) fields.push_back(field);
  return fields;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  for (std::string line : Split(text, '\n')) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty()) lines.push_back(line);
  }
  return lines;
}

// One collector and its front on the fake clock, in a folder of their own.
class FakeNight {
 public:
  explicit FakeNight(std::vector<std::string> simulatorFaults) {
    char pattern[] = "/tmp/quoteloom-data-e2e-XXXXXX";
    dir_ = mkdtemp(pattern);
    fs::create_directories(dir_ / "xdg");
    std::ofstream(dir_ / "contracts.txt") << "rb2405\nhc2405\n";
    const std::vector<std::string> env = Environment();
    std::vector<std::string> options = {"--trading-day", kDay, "--contracts", (dir_ / "contracts.txt").string()};
    options.insert(options.end(), simulatorFaults.begin(), simulatorFaults.end());
    address_ = StartFrontSimulator(&simulator_, QUOTELOOM_FRONTSIM, options, (dir_ / "frontsim.out").string(), {},
                                   env, 20s);
    if (address_.empty()) return;
    std::ofstream(dir_ / "setting.ini") << SettingIniText(OneFront(address_));
    std::vector<std::string> daemonEnv = env;
    daemonEnv.push_back("XDG_CONFIG_HOME=" + (dir_ / "xdg").string());
    collector_ = std::make_unique<ChildProcess>(
        std::vector<std::string>{QUOTELOOMD, "--workdir", dir_.string(), "--status-seconds", "3600", "--replay", "on",
                                 "--replay-port", "0", "--metrics", "127.0.0.1:0"},
        (dir_ / "quoteloomd.out").string(), daemonEnv);
    started_ = std::chrono::steady_clock::now();
  }
  ~FakeNight() {
    collector_.reset();
    simulator_.reset();
    fs::remove_all(dir_);
  }

  bool running() const { return collector_ != nullptr && collector_->started(); }
  const fs::path& dir() const { return dir_; }
  std::string CollectorOutput() const { return collector_ ? collector_->Output() : std::string(); }

  // Waits until the fake clock has run `fakeSeconds` past kStart.
  void WaitForFakeTime(int fakeSeconds) const {
    const auto until = started_ + RealTimeFor(fakeSeconds);
    while (std::chrono::steady_clock::now() < until) std::this_thread::sleep_for(50ms);
  }

  int ReplayPort() const {
    std::smatch m;
    const std::string out = CollectorOutput();
    return std::regex_search(out, m, std::regex("replay service on [0-9.]+:(\\d+)")) ? std::stoi(m[1]) : -1;
  }

  void StopCollector() {
    collector_->Signal(SIGTERM);
    EXPECT_TRUE(collector_->Wait(30s)) << "quoteloomd did not stop";
    simulator_->Signal(SIGTERM);
    simulator_->Wait(10s);
  }

 private:
  static std::vector<std::string> Environment() {
    // The stand-in API's intervals run on the fast clock too: no heartbeat timeout, a minute's reconnect.
    std::vector<std::string> env = {
        "LD_PRELOAD=" + std::string(kFakeTimeLibrary),
        "FAKETIME=@" + std::string(kStart) + " x" + std::to_string(kSpeed),
        "QUOTELOOM_CTP_HEARTBEAT_TIMEOUT_MS=3600000",
        "QUOTELOOM_CTP_CONNECT_TIMEOUT_MS=600000",
        "QUOTELOOM_CTP_RECONNECT_MS=60000",
        "TZ=Asia/Shanghai",  // a collector in China
    };
    return env;
  }

  fs::path dir_;
  std::string address_;
  std::unique_ptr<ChildProcess> simulator_;
  std::unique_ptr<ChildProcess> collector_;
  std::chrono::steady_clock::time_point started_;
};

// The collector's and the simulator's fake clocks start apart by the time between their starts
// times the speed; the session-tick rule is given room for that.
ProgramRun QuoteloomData(const FakeNight& night, std::vector<std::string> args, const std::string& zone = "") {
  std::vector<std::string> argv = {QUOTELOOM_DATA, "--workdir", night.dir().string(), "--tolerance", "3600"};
  argv.insert(argv.end(), args.begin(), args.end());
  return RunProgram(argv, night.dir() / "data.out", 60s, zone.empty() ? std::vector<std::string>{} : std::vector<std::string>{"TZ=" + zone});
}

// What the four commands make of the collected day when run under the time zone `zone`.
std::string ToolOutputsUnder(const FakeNight& night, const std::string& zone) {
  std::string all;
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"bars", kDay}, {"bars", kDay, "--period", "5m"}, {"audit", kDay, "--json"}}) {
    all += QuoteloomData(night, args, zone).output;
  }
  const fs::path out = night.dir() / "export";
  for (const bool raw : {false, true}) {
    fs::remove_all(out);
    std::vector<std::string> args = {"export", kDay, "--out", out.string()};
    if (raw) args.push_back("--raw");
    all += QuoteloomData(night, args, zone).output + ReadText(out / (std::string(kDay) + ".csv"));
  }
  fs::remove_all(night.dir() / "Data" / kDay / "Tick");
  all += QuoteloomData(night, {"replayable", kDay}, zone).output;
  for (const char* contract : {"rb2405", "hc2405"}) {
    all += ReadText(night.dir() / "Data" / kDay / "Tick" / (std::string(contract) + ".csv"));
  }
  return all;
}

class DataEndToEndTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    // A sanitizer build's programs must accept the clock library loaded ahead of them.
    const char* asan = std::getenv("ASAN_OPTIONS");
    const std::string options = std::string(asan != nullptr ? asan : "") + ":verify_asan_link_order=0:detect_leaks=0";
    setenv("ASAN_OPTIONS", options.c_str(), 1);
  }
};

TEST_F(DataEndToEndTest, ACollectedNightIsReplayedInOrderThenLiveAndADroppedFrontShowsAsAHole) {
  ASSERT_TRUE(fs::exists(kFakeTimeLibrary)) << "scripts/install-deps installs faketime";
  // Collected whole, and with every connection closed at 21:10 and a minute before the reconnect.
  // Twenty fake minutes before the night's auction leave the collectors time to log in and
  // subscribe, even in a sanitizer build.
  FakeNight whole({});
  FakeNight dropped({"--drop-after-seconds", "1800"});
  ASSERT_TRUE(whole.running() && dropped.running());

  ASSERT_TRUE(WaitUntil([&] {
    const std::string out = dropped.CollectorOutput();
    const auto first = out.find("行情登录成功");
    return first != std::string::npos && out.find("行情登录成功", first + 1) != std::string::npos;
  }, 60s)) << "no second login after the drop\n" << dropped.CollectorOutput();
  std::this_thread::sleep_for(2s);  // five fake minutes of ticks after the reconnect
  dropped.StopCollector();
  const ProgramRun droppedAudit = QuoteloomData(dropped, {"audit", kDay, "--json"});
  EXPECT_EQ(droppedAudit.exitCode, 1) << droppedAudit.output << dropped.CollectorOutput();
  const nlohmann::json report = nlohmann::json::parse(droppedAudit.output, nullptr, false);
  ASSERT_FALSE(report.is_discarded()) << droppedAudit.output;
  int dropHoles = 0;
  for (const auto& contract : report["days"][0]["contracts"]) {
    for (const auto& gap : contract["gaps"]) {
      // The drop comes at 21:10 of the simulator's clock; a loaded machine starts the collector's
      // clock some fake seconds apart, so the hole may begin a little either side.
      if (gap["where"] == "inside" && gap["seconds"].get<double>() >= 55 && gap["from"].get<std::string>() >= "21:09:30" &&
          gap["from"].get<std::string>() <= "21:10:30") {
        ++dropHoles;
      }
    }
  }
  EXPECT_EQ(dropHoles, 2) << "the minute without a front, in both contracts\n" << report.dump(1);

  whole.WaitForFakeTime(2 * 3600 + 20 * 60 + 10);  // 23:00:10, after the night's close
  const ProgramRun replayable = QuoteloomData(whole, {"replayable", kDay});
  ASSERT_EQ(replayable.exitCode, 0) << replayable.output;
  EXPECT_NE(replayable.output.find("20240308: 2 written"), std::string::npos) << replayable.output;
  const std::vector<std::string> stored = Lines(ReadText(whole.dir() / "Data" / kDay / "Tick" / "rb2405.csv"));
  // Two hours at two ticks a second; the simulator skips ticks it is late for on a loaded machine.
  ASSERT_GT(stored.size(), 5000u) << "two hours at two ticks a second, at least half of them stored";
  const std::size_t history = stored.size() - 1;

  const int port = whole.ReplayPort();
  ASSERT_GT(port, 0) << whole.CollectorOutput();
  const std::size_t live = 20;
  const ProgramRun replay = RunProgram({QUOTELOOM_REPLAY_CLIENT, "127.0.0.1:" + std::to_string(port), "rb2405", kDay, kDay,
                                 "--count", std::to_string(history + live)},
                                whole.dir() / "replay.out", 60s);
  ASSERT_EQ(replay.exitCode, 0) << replay.output.substr(0, 2000);
  std::vector<std::string> received;
  for (const std::string& line : Lines(replay.output)) {
    if (line.rfind("rb2405,", 0) == 0) received.push_back(line);
  }
  ASSERT_EQ(received.size(), history + live);
  long long previousVolume = -1;
  for (std::size_t i = 0; i < received.size(); ++i) {
    const std::vector<std::string> got = Split(received[i], ',');
    ASSERT_GE(got.size(), 7u) << received[i];
    if (i < history) {
      // UpdateTime, UpdateMillisec and Volume sit at the same places in both layouts.
      const std::vector<std::string> want = Split(stored[i + 1], ',');
      ASSERT_EQ(got[3] + "." + got[4] + " " + got[6], want[3] + "." + want[4] + " " + want[6]) << "message " << i;
    }
    const long long volume = std::stoll(got[6]);
    EXPECT_GT(volume, previousVolume) << "message " << i << (i >= history ? " (live)" : "");
    previousVolume = volume;
  }

  whole.StopCollector();
  // The simulator forgets ticks it was too late for, so on a clock 150 times fast a scheduling
  // stall of half a real second on this shared machine is a silence of over a minute: only a
  // silence of two real seconds counts as a hole here.
  // Only the night was collected: the trading day's day session without a tick is the one finding.
  const ProgramRun audit = QuoteloomData(whole, {"audit", kDay, "--gap", "300"});
  EXPECT_EQ(audit.exitCode, 1) << audit.output;
  EXPECT_NE(audit.output.find("20240308 summary: 2 contracts"), std::string::npos) << audit.output;
  EXPECT_NE(audit.output.find("20240308: the day session has no tick at all"), std::string::npos) << audit.output;
  EXPECT_NE(audit.output.find(" 1 holes, 0 invalid"), std::string::npos) << audit.output;

  // Stored times are China time: the tools print the same wherever the reader is.
  const std::string china = ToolOutputsUnder(whole, "Asia/Shanghai");
  EXPECT_NE(china.find("rb2405,20240308,2024-03-07T21:00:00+08:00"), std::string::npos) << china.substr(0, 2000);
  for (const char* zone : {"UTC", "America/New_York"}) {
    const std::string other = ToolOutputsUnder(whole, zone);
    EXPECT_TRUE(other == china) << zone << " differs from Asia/Shanghai";
  }
}

}  // namespace
