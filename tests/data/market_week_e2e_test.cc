// One quoteloomd left alone from a Friday 20:29 to the Monday 11:40 after it, against a front that
// trades the exchanges' calendar, on a fast fake clock (libfaketime). What it stored is checked per
// trading day against the front's own record of what it sent.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <stdlib.h>

#include <chrono>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/child_process.h"
#include "tests/support/file_text.h"
#include "tests/support/front_simulator.h"
#include "tests/support/process_output.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

// 63 fake hours in about two and a half real minutes.
constexpr int kSpeed = 1500;
constexpr int kStartDate = 20240308;                     // a Friday
constexpr int kStartSeconds = 20 * 3600 + 29 * 60;       // 20:29, a minute before the front opens
constexpr int kFakeSpan = 2 * 86400 + 15 * 3600 + 11 * 60;  // to Monday 11:40
constexpr const char* kDay = "20240311";
constexpr const char* kFakeTimeLibrary = "/usr/lib/x86_64-linux-gnu/faketime/libfaketimeMT.so.1";
// The two programs' fake clocks start apart by the time between their starts times the speed; the
// data tools are given room for that. Stale snapshots here are hours old, so none slips through.
constexpr const char* kTolerance = "1800";
const std::vector<std::string> kContracts = {"rb2405", "au2406", "m2405", "CF405", "IF2403"};

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

// libfaketime's start time for a clock that shows `fakeSeconds` after the start now.
std::string FakeStart(double fakeSeconds) {
  std::tm t{};
  t.tm_year = kStartDate / 10000 - 1900;
  t.tm_mon = kStartDate / 100 % 100 - 1;
  t.tm_mday = kStartDate % 100;
  t.tm_sec = kStartSeconds + static_cast<int>(fakeSeconds);
  const std::time_t when = ::timegm(&t);
  std::tm out{};
  ::gmtime_r(&when, &out);
  char text[64];
  std::strftime(text, sizeof text, "@%Y-%m-%d %H:%M:%S", &out);
  return text;
}

std::string FormatPrice(const std::string& text) {
  char out[64];
  std::snprintf(out, sizeof out, "%.2f", std::stod(text));
  return out;
}

// A truth record: kind, sent, InstrumentID, TradingDay, ActionDay, UpdateTime, UpdateMillisec,
// LastPrice, Volume, Turnover, OpenInterest, UpperLimitPrice, LowerLimitPrice.
struct TruthRecord {
  std::vector<std::string> f;
  const std::string& kind() const { return f[0]; }
  const std::string& contract() const { return f[2]; }
  // As the collector's per-contract file would hold it, with the sending time as the write stamp.
  std::string CollectedLine() const {
    const std::string last = FormatPrice(f[7]);
    const std::vector<std::string> fields = {
        f[1], f[2], f[3], f[4], f[5], f[6], last, f[8], last, last, last, "0.00", "0.00", last, "1", last, "1",
        FormatPrice(f[11]), FormatPrice(f[12]), FormatPrice(f[10]), FormatPrice(f[9]), last, "0.00", last};
    std::string line;
    for (const std::string& field : fields) line += (line.empty() ? "" : ",") + field;
    return line + "\r\n";
  }
};

class MarketWeekTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    const char* asan = std::getenv("ASAN_OPTIONS");
    const std::string options = std::string(asan != nullptr ? asan : "") + ":verify_asan_link_order=0:detect_leaks=0";
    setenv("ASAN_OPTIONS", options.c_str(), 1);
  }
  void SetUp() override {
    char pattern[] = "/tmp/quoteloom-week-XXXXXX";
    dir_ = mkdtemp(pattern);
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::vector<std::string> Environment(const std::string& start) const {
    return {"LD_PRELOAD=" + std::string(kFakeTimeLibrary), "FAKETIME=" + start + " x" + std::to_string(kSpeed),
            "TZ=Asia/Shanghai", "QUOTELOOM_CTP_HEARTBEAT_TIMEOUT_MS=3600000",
            "QUOTELOOM_CTP_CONNECT_TIMEOUT_MS=600000", "QUOTELOOM_CTP_RECONNECT_MS=60000"};
  }

  ProgramRun Data(const fs::path& workdir, std::vector<std::string> args) const {
    std::vector<std::string> argv = {QUOTELOOM_DATA, "--workdir", workdir.string(), "--tolerance", kTolerance};
    argv.insert(argv.end(), args.begin(), args.end());
    return RunProgram(argv, dir_ / "data.out", 60s);
  }

  fs::path dir_;
};

TEST_F(MarketWeekTest, AnUnattendedWeekendStoresTheMarketAndTheToolsSeeOnlyIt) {
  ASSERT_TRUE(fs::exists(kFakeTimeLibrary)) << "scripts/install-deps installs faketime";
  std::ofstream(dir_ / "contracts.txt") << [] {
    std::string text;
    for (const std::string& c : kContracts) text += c + "\n";
    return text;
  }();
  fs::create_directories(dir_ / "xdg");
  // Test data at 02:50 on Saturday morning, inside a night service window stretched to 03:00.
  const auto started = std::chrono::steady_clock::now();
  std::unique_ptr<ChildProcess> simulator;
  const std::string address = StartFrontSimulator(
      &simulator, QUOTELOOM_FRONTSIM,
      {"--market-hours", "--contracts", (dir_ / "contracts.txt").string(), "--contract-rate", "0.1", "--truth",
       (dir_ / "truth").string(), "--service-hours", "20:30-03:00,08:30-15:30", "--test-window", "02:50-03:00"},
      (dir_ / "frontsim.out").string(), {}, Environment(FakeStart(0)), 20s);
  ASSERT_FALSE(address.empty()) << ReadText(dir_ / "frontsim.out");
  // The truth is kept in the collector's CSV format, so the tools read the CSV files on both sides.
  std::ofstream(dir_ / "setting.ini") << SettingIniText(OneFront(address)) << "[Journal]\r\nenabled=0\r\n";
  std::vector<std::string> env = Environment(FakeStart(
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count() * kSpeed));
  env.push_back("XDG_CONFIG_HOME=" + (dir_ / "xdg").string());
  auto collector = std::make_unique<ChildProcess>(
      std::vector<std::string>{QUOTELOOMD, "--workdir", dir_.string(), "--status-seconds", "3600", "--replay", "off",
                               "--metrics", "off"},
      (dir_ / "quoteloomd.out").string(), env);
  ASSERT_TRUE(collector->started());

  const auto end = started + std::chrono::milliseconds(static_cast<long long>(kFakeSpan) * 1000 / kSpeed);
  while (std::chrono::steady_clock::now() < end) {
    ASSERT_TRUE(collector->Running()) << ReadText(dir_ / "quoteloomd.out").substr(0, 4000);
    std::this_thread::sleep_for(200ms);
  }
  // The front closes first; once the collector has seen that, it has read all that was sent.
  const auto disconnects = [&] {
    const std::string out = ReadText(dir_ / "quoteloomd.out");
    std::size_t n = 0;
    for (std::size_t at = out.find("行情连接断开"); at != std::string::npos; at = out.find("行情连接断开", at + 1)) ++n;
    return n;
  };
  const std::size_t before = disconnects();
  simulator->Signal(SIGTERM);
  ASSERT_TRUE(simulator->Wait(10s));
  ASSERT_TRUE(WaitUntil([&] { return disconnects() > before; }, 20s)) << "the collector did not see the front close";
  collector->Signal(SIGTERM);
  ASSERT_TRUE(collector->Wait(30s)) << "quoteloomd did not stop";
  const std::string collectorOut = ReadText(dir_ / "quoteloomd.out");
  const std::string simulatorOut = ReadText(dir_ / "frontsim.out");

  // The front opened and closed on the calendar: Friday night, Monday morning, nothing between.
  std::string fronts;
  for (const std::string& line : Lines(simulatorOut)) {
    if (line.rfind("front ", 0) == 0) fronts += line.substr(6) + " ";
  }
  EXPECT_EQ(fronts, "closed open closed open ") << simulatorOut;
  ASSERT_TRUE(fs::is_directory(dir_ / "Data" / kDay)) << collectorOut.substr(0, 4000);
  for (const fs::directory_entry& entry : fs::directory_iterator(dir_ / "Data")) {
    EXPECT_EQ(entry.path().filename(), kDay) << "every tick belongs to Monday";
  }

  std::map<std::string, std::vector<TruthRecord>> truth;
  std::map<std::string, std::map<std::string, int>> kinds;
  for (const std::string& line : Lines(ReadText(dir_ / "truth" / (std::string(kDay) + ".csv")))) {
    TruthRecord record{Split(line, ',')};
    if (record.kind() == "kind") continue;
    ASSERT_EQ(record.f.size(), 13u) << line;
    ++kinds[record.contract()][record.kind()];
    truth[record.contract()].push_back(std::move(record));
  }
  ASSERT_EQ(truth.size(), kContracts.size());

  // Stored exactly what was sent, in order, with the exchanges' own field habits.
  fs::create_directories(dir_ / "truthdir" / "Data" / kDay);
  for (const std::string& contract : kContracts) {
    const std::vector<std::string> stored = Lines(ReadText(dir_ / "Data" / kDay / (contract + ".csv")));
    const std::vector<TruthRecord>& sent = truth[contract];
    ASSERT_EQ(stored.size(), sent.size()) << contract;
    std::ofstream synthetic(dir_ / "truthdir" / "Data" / kDay / (contract + ".csv"), std::ios::binary);
    for (std::size_t i = 0; i < sent.size(); ++i) {
      const std::vector<std::string> got = Split(stored[i], ',');
      ASSERT_EQ(got.size(), 24u) << stored[i];
      // TradingDay, ActionDay, UpdateTime, UpdateMillisec, Volume
      EXPECT_EQ(got[2] + got[3] + got[4] + "." + got[5] + " " + got[7],
                sent[i].f[3] + sent[i].f[4] + sent[i].f[5] + "." + sent[i].f[6] + " " + sent[i].f[8])
          << contract << " line " << i + 1;
      if (sent[i].kind() == "session") synthetic << sent[i].CollectedLine();
    }
    EXPECT_GT(kinds[contract]["session"], 10) << contract;
    EXPECT_GE(kinds[contract]["stale"], 2) << contract << ": Friday's close at 20:30 and the night's at 08:30";
    EXPECT_EQ(kinds[contract]["test"], 3) << contract << ": the counter's test data at 02:50";
  }
  for (const std::string& line : Lines(ReadText(dir_ / "Data" / kDay / "CF405.csv"))) {
    const std::vector<std::string> f = Split(line, ',');
    if (f[4] >= "21:00:00" && f[4] <= "23:00:00") {
      EXPECT_EQ(f[2] + " " + f[5], "20240308 0") << "CZCE's night: the calendar date as trading day, no milliseconds";
    }
  }
  for (const std::string& line : Lines(ReadText(dir_ / "Data" / kDay / "m2405.csv"))) {
    const std::vector<std::string> f = Split(line, ',');
    if (f[4] >= "21:00:01" && f[4] <= "23:00:00") EXPECT_EQ(f[3], kDay) << "DCE's night: the trading day as ActionDay";
  }

  // The audit passes and counts exactly the stale and test records the front sent.
  const ProgramRun audit = Data(dir_, {"audit", kDay, "--json"});
  EXPECT_EQ(audit.exitCode, 0) << audit.output;
  const nlohmann::json report = nlohmann::json::parse(audit.output.substr(audit.output.find('{')), nullptr, false);
  ASSERT_FALSE(report.is_discarded()) << audit.output;
  for (const auto& c : report["days"][0]["contracts"]) {
    const std::string contract = c["contract"];
    EXPECT_EQ(c["stale_snapshots"].get<int>(), kinds[contract]["stale"]) << contract;
    EXPECT_EQ(c["test_data"].get<int>(), kinds[contract]["test"]) << contract;
    EXPECT_EQ(c["invalid_times"].get<int>(), 0) << contract;
  }

  // Bars of the stored files equal bars of the front's session ticks alone.
  const ProgramRun bars = Data(dir_, {"bars", kDay, "--period", "1m"});
  const ProgramRun truthBars = Data(dir_ / "truthdir", {"bars", kDay, "--period", "1m"});
  ASSERT_EQ(bars.exitCode, 0) << bars.output;
  ASSERT_EQ(truthBars.exitCode, 0) << truthBars.output;
  EXPECT_GT(Lines(bars.output).size(), 100u);
  EXPECT_EQ(bars.output, truthBars.output);

  // The replay service's files hold the session ticks only.
  const ProgramRun replayable = Data(dir_, {"replayable", kDay});
  ASSERT_EQ(replayable.exitCode, 0) << replayable.output;
  for (const std::string& contract : kContracts) {
    const std::vector<std::string> lines = Lines(ReadText(dir_ / "Data" / kDay / "Tick" / (contract + ".csv")));
    EXPECT_EQ(static_cast<int>(lines.size()) - 1, kinds[contract]["session"]) << contract;
  }

  // Unattended: logged in again for each session on its own.
  int logins = 0;
  for (std::size_t at = collectorOut.find("行情登录成功"); at != std::string::npos;
       at = collectorOut.find("行情登录成功", at + 1)) {
    ++logins;
  }
  EXPECT_EQ(logins, 2) << "Friday night and Monday morning";
}

}  // namespace
