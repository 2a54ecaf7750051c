// The tick journal as a user gets it: quoteloomd against the front simulator, then the journal read
// back and compared with what the simulator's own generator sent, and a kill -9 in the middle of appends.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <memory>
#include <string>
#include <vector>

#include "core/tick_record.h"
#include "platform/frontsim/listed_contract.h"
#include "platform/frontsim/tick_generator.h"
#include "storage/journal_reader.h"
#include "tests/support/child_process.h"
#include "tests/support/file_text.h"
#include "tests/support/front_simulator.h"
#include "tests/support/process_output.h"
#include "tests/support/simulator_summary.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

std::string QuoteloomdProgram() {
  const char* path = std::getenv("QUOTELOOM_E2E_QUOTELOOMD");
  return path != nullptr && *path != '\0' ? path : QUOTELOOMD;
}

class JournalEndToEndTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/quoteloom-journal-e2e-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    fs::create_directories(dir_ / "xdg");
  }
  void TearDown() override {
    collector_.reset();
    simulator_.reset();
    fs::remove_all(dir_);
  }

  std::string StartSimulator(std::vector<std::string> extra) {
    std::vector<std::string> options = {"--trading-day", "20240301", "--summary", (dir_ / "summary.json").string()};
    options.insert(options.end(), extra.begin(), extra.end());
    return StartFrontSimulator(&simulator_, QUOTELOOM_FRONTSIM, options, (dir_ / "frontsim.out").string());
  }

  void StartCollector(const std::string& address, const std::string& journalSection = "") {
    std::ofstream(dir_ / "setting.ini") << SettingIniText(OneFront(address)) << journalSection;
    collector_ = std::make_unique<ChildProcess>(
        std::vector<std::string>{QuoteloomdProgram(), "--workdir", dir_.string(), "--status-seconds", "1", "--replay",
                                 "off", "--metrics", "off"},
        (dir_ / "quoteloomd.out").string(), std::vector<std::string>{"XDG_CONFIG_HOME=" + (dir_ / "xdg").string()});
    ASSERT_TRUE(collector_->started());
  }

  long long Written() const { return LastNumberAfter(collector_->Output(), "ticks written"); }

  // Every journal of the folder, read whole; fails the test on a refused file.
  std::vector<JournalEntry> Journal(std::uint64_t* bad = nullptr) {
    std::vector<JournalEntry> all;
    if (!fs::exists(dir_ / "Journal")) return all;
    for (const auto& file : fs::directory_iterator(dir_ / "Journal")) {
      std::string error;
      std::uint64_t fileBad = 0;
      EXPECT_TRUE(ReadWholeJournal(file.path().string(), &all, &error, &fileBad)) << error;
      if (bad != nullptr) *bad += fileBad;
    }
    return all;
  }

  fs::path dir_;
  std::unique_ptr<ChildProcess> simulator_;
  std::unique_ptr<ChildProcess> collector_;
};

int Digits(const char* text, int from, int count) { return std::atoi(std::string(text + from, count).c_str()); }

// Every journaled tick is bit for bit the tick the simulator's generator made for that contract and
// moment: bond futures with half ticks, open interest and turnover in the millions included.
TEST_F(JournalEndToEndTest, TheJournalHoldsExactlyWhatTheFrontSent) {
  const std::string address = StartSimulator({"--duration", "4", "--contract-rate", "4"});
  ASSERT_FALSE(address.empty()) << simulator_->Output();
  StartCollector(address);
  ASSERT_TRUE(simulator_->Wait(40s));
  ASSERT_TRUE(WaitUntil([&] { return collector_->Output().find("行情连接断开[") != std::string::npos; }, 20s));
  collector_->Signal(SIGTERM);
  ASSERT_TRUE(collector_->Wait(60s));
  SimulatorSummary summary;
  ASSERT_TRUE(ParseSimulatorSummary(ReadText(dir_ / "summary.json"), &summary));
  ASSERT_GT(summary.total, 0u);

  std::uint64_t bad = 0;
  const std::vector<JournalEntry> journal = Journal(&bad);
  EXPECT_EQ(bad, 0u);
  ASSERT_EQ(journal.size(), summary.total);
  EXPECT_EQ(LastNumberAfter(collector_->Output(), "journal records"), static_cast<long long>(summary.total));

  const std::vector<ListedContract> listed = BuiltInListedContracts(20240301);
  std::map<std::string, std::size_t> index;
  for (std::size_t i = 0; i < listed.size(); ++i) index[listed[i].code] = i;
  TickGenerator generator(listed, 1, "20240301");
  std::size_t mismatches = 0, halfTicks = 0, overAMillion = 0;
  for (const JournalEntry& e : journal) {
    const auto it = index.find(e.tick.InstrumentID);
    ASSERT_NE(it, index.end()) << e.tick.InstrumentID;
    ClockReading at;
    at.year = Digits(e.tick.ActionDay, 0, 4);
    at.month = Digits(e.tick.ActionDay, 4, 2);
    at.day = Digits(e.tick.ActionDay, 6, 2);
    at.hour = Digits(e.tick.UpdateTime, 0, 2);
    at.minute = Digits(e.tick.UpdateTime, 3, 2);
    at.second = Digits(e.tick.UpdateTime, 6, 2);
    at.millisecond = e.tick.UpdateMillisec;
    FrontDepthMarketData sent;
    generator.Next(it->second, at, &sent);
    TickRecord expected;
    BuildTickRecord(&sent, &expected);
    if (std::memcmp(&expected, &e.tick, sizeof(TickRecord)) != 0) ++mismatches;
    const double halves = e.tick.LastPrice / 0.005;
    if (std::string(e.tick.InstrumentID).rfind("T", 0) == 0 && static_cast<long long>(halves + 0.5) % 2 == 1) {
      ++halfTicks;
    }
    if (e.tick.OpenInterest > 1e6 && e.tick.Turnover > 1e6) ++overAMillion;
  }
  EXPECT_EQ(mismatches, 0u);
  EXPECT_GT(halfTicks, 0u) << "no bond-futures tick at a half tick was sent";
  EXPECT_GT(overAMillion, 0u);

  // The research export of the same day (the collector's clock names it) reads back to the same doubles;
  // --raw, as the simulator here trades around the clock and most of its ticks lie outside the sessions.
  std::vector<fs::path> files(fs::directory_iterator(dir_ / "Journal"), fs::directory_iterator{});
  ASSERT_EQ(files.size(), 1u);
  const std::string day = files[0].stem().string();
  const ProgramRun run = RunProgram({QUOTELOOM_DATA, "--workdir", dir_.string(), "export", day, "--raw", "--out",
                                     dir_.string()},
                                    dir_ / "export.out", 60s);
  ASSERT_EQ(run.exitCode, 0) << run.output;
  std::ifstream csv(dir_ / (day + ".csv"));
  std::string line;
  ASSERT_TRUE(std::getline(csv, line));
  std::size_t row = 0, exportMismatches = 0;
  for (; std::getline(csv, line); ++row) {
    ASSERT_LT(row, journal.size());
    std::vector<std::string> cells;
    std::stringstream in(line);
    for (std::string cell; std::getline(in, cell, ',');) cells.push_back(cell);
    const TickRecord& t = journal[row].tick;
    // last_price, turnover, open_interest, average_price are columns 9 to 13 (volume between).
    const double values[] = {std::strtod(cells[8].c_str(), nullptr), std::strtod(cells[10].c_str(), nullptr),
                             std::strtod(cells[11].c_str(), nullptr), std::strtod(cells[12].c_str(), nullptr)};
    const double expected[] = {t.LastPrice, t.Turnover, t.OpenInterest, t.AveragePrice};
    if (std::memcmp(values, expected, sizeof values) != 0 || cells[3] != t.InstrumentID) ++exportMismatches;
  }
  EXPECT_EQ(row, journal.size());
  EXPECT_EQ(exportMismatches, 0u);
}

// kill -9 in the middle of appends, then a torn tail as a power loss leaves it, then a restart: every
// whole record reads back, nothing is misaligned, and the sequence goes on without a gap.
TEST_F(JournalEndToEndTest, KillNineThenRestartKeepsEveryWholeRecordAligned) {
  const std::string address = StartSimulator({"--total-rate", "8000", "--duration", "60"});
  ASSERT_FALSE(address.empty());
  StartCollector(address, "[Journal]\r\nsync=none\r\n");
  ASSERT_TRUE(WaitUntil([&] { return Written() >= 5000; }, 40s)) << collector_->Output();
  collector_->Signal(SIGKILL);
  ASSERT_TRUE(collector_->Wait(10s));

  std::uint64_t bad = 0;
  const std::size_t beforeRestart = Journal(&bad).size();
  EXPECT_GE(beforeRestart, 5000u);
  EXPECT_EQ(bad, 0u);
  const fs::path file = *fs::directory_iterator(dir_ / "Journal");
  {
    std::ofstream torn(file, std::ios::binary | std::ios::app);
    torn << std::string(kJournalRecordSize - 7, '\x11');
  }
  StartCollector(address, "[Journal]\r\nsync=second\r\n");
  ASSERT_TRUE(WaitUntil([&] { return Written() >= 1000; }, 40s)) << collector_->Output();
  collector_->Signal(SIGTERM);
  ASSERT_TRUE(collector_->Wait(60s));

  EXPECT_EQ((fs::file_size(file) - JournalHeaderSize()) % kJournalRecordSize, 0u);
  bad = 0;
  const std::vector<JournalEntry> all = Journal(&bad);
  EXPECT_EQ(bad, 0u);
  EXPECT_EQ(all.size(), beforeRestart + static_cast<std::size_t>(LastNumberAfter(collector_->Output(), "journal records")));
  for (std::size_t i = 0; i < all.size(); ++i) ASSERT_EQ(all[i].sequence, i + 1);
  EXPECT_NE(collector_->Output().find("已截去"), std::string::npos) << "the torn record was not cut";
}

}  // namespace
