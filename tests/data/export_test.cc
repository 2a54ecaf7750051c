#include <gtest/gtest.h>
#include <unistd.h>

#include <cfloat>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "storage/journal_writer.h"
#include "tests/support/tick_fixtures.h"
#include "tools/data/tick_export.h"

namespace fs = std::filesystem;

namespace {

std::vector<std::string> Split(const std::string& line) {
  std::vector<std::string> cells;
  std::stringstream in(line);
  for (std::string cell; std::getline(in, cell, ',');) cells.push_back(cell);
  if (!line.empty() && line.back() == ',') cells.push_back("");
  return cells;
}

std::vector<std::string> Lines(const fs::path& path) {
  std::ifstream in(path);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// A bond tick whose values six significant digits or two decimals would change.
TickRecord BondTick(const char* code, const char* time, int n) {
  TickRecord r = ExampleRb2405Record();
  std::snprintf(r.InstrumentID, sizeof r.InstrumentID, "%s", code);
  std::snprintf(r.UpdateTime, sizeof r.UpdateTime, "%s", time);
  r.LastPrice = 92.005 + 0.005 * (n - 1);
  r.Turnover = 4598765432.1 + n;
  r.OpenInterest = 1654321 + n;
  r.AveragePrice = 0.1 + 0.2;  // 0.30000000000000004
  r.AskPrice1 = DBL_MAX;
  r.ClosePrice = -1;
  r.Volume = 100 + n;
  return r;
}

class ExportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/quoteloom-export-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    previous_ = fs::current_path();
    fs::current_path(dir_);
    fs::create_directory("out");
  }
  void TearDown() override {
    fs::current_path(previous_);
    fs::remove_all(dir_);
  }
  // Raw unless asked: most ticks here are written at one moment, far from their update times.
  TickExportResult Export(int day, bool byContract = false, std::set<std::string> contracts = {}, bool raw = true) {
    TickExportOptions o;
    o.raw = raw;
    o.workdir = dir_;
    o.outDir = dir_ / "out";
    o.byContract = byContract;
    o.contracts = std::move(contracts);
    return ExportDay(o, day, nullptr);
  }

  fs::path dir_, previous_;
};

// Monday 2024-03-04: its night session is Friday evening, and after midnight it is Saturday.
TEST_F(ExportTest, ValuesReadBackExactlyAndTimesLieOnTheCalendar) {
  {
    JournalWriter writer(JournalSync::kNone);
    // 2024-03-01 13:05:07.123456789 UTC is 21:05:07.123456789 in China.
    const std::int64_t ns = 1709298307123456789;
    ASSERT_TRUE(writer.Append("20240304", BondTick("T2406", "21:05:07", 1), ns, {}));
    ASSERT_TRUE(writer.Append("20240304", BondTick("T2406", "00:30:00", 2), ns, {}));
    ASSERT_TRUE(writer.Append("20240304", BondTick("TF2406", "09:30:00", 3), ns, {}));
  }
  const TickExportResult r = Export(20240304);
  ASSERT_EQ(r.error, "");
  EXPECT_EQ(r.rows, 3u);
  const std::vector<std::string> lines = Lines(dir_ / "out" / "20240304.csv");
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[0], TickExportHeader(true));
  const std::vector<std::string> header = Split(lines[0]);
  auto cell = [&](int row, const std::string& column) {
    const auto at = std::find(header.begin(), header.end(), column) - header.begin();
    return Split(lines[row])[at];
  };
  for (int row = 1; row <= 3; ++row) {
    ASSERT_EQ(Split(lines[row]).size(), header.size()) << lines[row];
    const TickRecord t = BondTick("T", "", row);
    EXPECT_EQ(std::strtod(cell(row, "last_price").c_str(), nullptr), t.LastPrice) << cell(row, "last_price");
    EXPECT_EQ(std::strtod(cell(row, "turnover").c_str(), nullptr), t.Turnover);
    EXPECT_EQ(cell(row, "average_price"), "0.30000000000000004");
    EXPECT_EQ(cell(row, "ask_price1"), "");  // the exchange sent none
    EXPECT_EQ(cell(row, "close_price"), "");
    EXPECT_EQ(cell(row, "write_time"), "2024-03-01T21:05:07.123456789+08:00");
    EXPECT_EQ(cell(row, "sequence"), std::to_string(row));
    EXPECT_EQ(cell(row, "kind"), row < 3 ? "test" : "stale");  // bonds trade no night session
  }
  EXPECT_EQ(cell(1, "last_price"), "92.005");  // two decimals would store 92.00 or 92.01
  EXPECT_EQ(cell(1, "open_interest"), "1654322");
  EXPECT_EQ(cell(1, "exchange_time"), "2024-03-01T21:05:07.500+08:00");
  EXPECT_EQ(cell(2, "exchange_time"), "2024-03-02T00:30:00.500+08:00");
  EXPECT_EQ(cell(3, "exchange_time"), "2024-03-04T09:30:00.500+08:00");
  EXPECT_EQ(cell(3, "trading_day"), "2024-03-04");
}

// By default only the market's ticks: the broker's test data at 19:00 and a snapshot of the day
// before, pushed on subscription, are left out; raw keeps them and names their kind.
TEST_F(ExportTest, OnlySessionTicksUnlessRaw) {
  // 2024-03-01 21:00:00 in China (Friday evening, the night of Monday 2024-03-04).
  const std::int64_t evening = 1709298000LL * 1000000000;
  const auto at = [&](int seconds) { return evening + seconds * 1000000000LL; };
  {
    JournalWriter writer(JournalSync::kNone);
    ASSERT_TRUE(writer.Append("20240304", BondTick("T2406", "15:00:00", 1), at(-6 * 3600 + 30), {}));  // stale
    ASSERT_TRUE(writer.Append("20240304", BondTick("T2406", "19:00:00", 2), at(-2 * 3600), {}));       // test
    ASSERT_TRUE(writer.Append("20240304", BondTick("rb2405", "21:00:01", 3), at(1), {}));
    ASSERT_TRUE(writer.Append("20240304", BondTick("rb2405", "21:00:02", 4), at(2), {}));
    ASSERT_TRUE(writer.Append("20240304", BondTick("rb2405", "25:00:00", 5), at(3), {}));  // no clock time: test
  }
  TickExportResult r = Export(20240304, false, {}, false);
  ASSERT_EQ(r.error, "");
  EXPECT_EQ(r.rows, 2u);
  EXPECT_EQ(r.notMarket, 3u);
  std::vector<std::string> lines = Lines(dir_ / "out" / "20240304.csv");
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0], TickExportHeader());
  EXPECT_EQ(Split(lines[1])[6], "21:00:01");
  EXPECT_EQ(Split(lines[2])[6], "21:00:02");

  r = Export(20240304);
  EXPECT_EQ(r.rows, 5u);
  EXPECT_EQ(r.notMarket, 0u);
  lines = Lines(dir_ / "out" / "20240304.csv");
  ASSERT_EQ(lines.size(), 6u);
  std::string kinds;
  for (std::size_t i = 1; i < lines.size(); ++i) kinds += Split(lines[i]).back() + " ";
  EXPECT_EQ(kinds, "stale test session session test ");
}

TEST_F(ExportTest, ByContractWithAFilterAndRefusedJournals) {
  {
    JournalWriter writer(JournalSync::kNone);
    for (int i = 0; i < 5; ++i) ASSERT_TRUE(writer.Append("20240301", BondTick(i % 2 ? "T2406" : "TS2406", "10:00:00", i), 0, {}));
    ASSERT_TRUE(writer.Append("20240301", BondTick("rb2405", "10:00:00", 9), 0, {}));
  }
  TickExportResult r = Export(20240301, true, {"T2406", "TS2406"});
  ASSERT_EQ(r.error, "");
  EXPECT_EQ(r.files, 2u);
  EXPECT_EQ(Lines(dir_ / "out" / "20240301-T2406.csv").size(), 3u);
  EXPECT_EQ(Lines(dir_ / "out" / "20240301-TS2406.csv").size(), 4u);
  EXPECT_FALSE(fs::exists(dir_ / "out" / "20240301-rb2405.csv"));

  // Codes that cannot name a file (from a journal no collector wrote) are counted, not lost silently.
  {
    JournalWriter writer(JournalSync::kNone);
    for (const char* code : {"T2406", "../x", "a/b", ".", "T2406"}) {
      ASSERT_TRUE(writer.Append("20240307", BondTick(code, "10:00:00", 1), 0, {}));
    }
  }
  r = Export(20240307, true);
  ASSERT_EQ(r.error, "");
  EXPECT_EQ(r.rows, 2u);
  EXPECT_EQ(r.files, 1u);
  EXPECT_EQ(r.unnamed, 3u);

  r = Export(20240302);  // no journal
  EXPECT_NE(r.error.find("20240302.qtj"), std::string::npos) << r.error;
  std::ofstream("Journal/20240305.qtj") << "20240301090507,rb2405\r\n";
  r = Export(20240305);
  EXPECT_NE(r.error.find("bad magic"), std::string::npos) << r.error;
  EXPECT_FALSE(fs::exists(dir_ / "out" / "20240305.csv"));
  std::size_t leftovers = 0;
  for (const auto& f : fs::directory_iterator(dir_ / "out")) leftovers += f.path().filename().string()[0] == '.';
  EXPECT_EQ(leftovers, 0u);
}

}  // namespace
