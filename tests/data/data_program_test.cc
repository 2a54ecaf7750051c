// quoteloom-data as a script runs it: exit status, JSON, output files and progress lines.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <vector>

#include "core/process_lock.h"
#include "tests/data/data_fixture.h"
#include "tests/support/process_output.h"

namespace {

using namespace std::chrono_literals;

ProgramRun Data(const DataFolder& folder, std::vector<std::string> args) {
  std::vector<std::string> argv = {QUOTELOOM_DATA, "--workdir", folder.path().string()};
  argv.insert(argv.end(), args.begin(), args.end());
  ProgramRun run = RunProgram(argv, folder.path() / "out.txt", 30s);
  EXPECT_TRUE(run.ended);
  return run;
}

class DataProgramTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_.Append(20240307, "rb2405",
                   TickRun("rb2405", Clock(21, 0), Clock(23, 0), 1, 1, 20240307) +
                       TickRun("rb2405", Clock(9, 0), Clock(15, 0), 1, 10000, 20240307));
    // The next day rb2405 is silent from 21:30 to 21:40.
    folder_.Append(20240308, "rb2405",
                   TickRun("rb2405", Clock(21, 0), Clock(21, 30)) + TickRun("rb2405", Clock(21, 40), Clock(23, 0)) +
                       TickRun("rb2405", Clock(9, 0), Clock(15, 0), 1, 10000));
  }
  DataFolder folder_;
};

TEST_F(DataProgramTest, AuditExitsZeroOnACleanDayOneOnAHoleAndThreeOnAMissingDay) {
  ProgramRun r = Data(folder_, {"audit", "20240307"});
  EXPECT_EQ(r.exitCode, 0) << r.output;
  EXPECT_NE(r.output.find("20240307 summary: 1 contracts, 28802 ticks, 0 holes"), std::string::npos) << r.output;

  r = Data(folder_, {"audit", "--from", "20240301", "--to", "20240310", "--json"});
  EXPECT_EQ(r.exitCode, 1) << r.output;
  const auto json = nlohmann::json::parse(r.output.substr(r.output.find('{')), nullptr, false);
  ASSERT_FALSE(json.is_discarded()) << r.output;
  ASSERT_EQ(json["days"].size(), 2u);
  EXPECT_EQ(json["holes"], 1);
  EXPECT_EQ(json["days"][1]["contracts"][0]["gaps"][0]["from"], "21:30:00.000");
  EXPECT_NE(r.output.find("audit: 1/2 days, 20240307"), std::string::npos) << "progress lines when not on a terminal";

  EXPECT_EQ(Data(folder_, {"audit", "20240309"}).exitCode, 3);

  r = Data(folder_, {"audit", "--last", "1"});  // the timer's command: the latest day folder
  EXPECT_EQ(r.exitCode, 1) << r.output;
  EXPECT_NE(r.output.find("20240308 summary"), std::string::npos) << r.output;
  EXPECT_EQ(r.output.find("20240307 summary"), std::string::npos) << r.output;
}

TEST_F(DataProgramTest, BadCommandLinesExitTwoWithAReason) {
  const std::vector<std::vector<std::string>> bad = {
      {"audit", "2024030"}, {"audit", "20240230"}, {"bars", "20240307", "--period", "2m"},
      {"audit", "--from", "20240310", "--to", "20240301"}, {"audit", "--from", "19000101", "--to", "99991231"},
      {"audit", "--last", "2", "20240307"}, {"frobnicate"}, {},
      {"close-days", "--journal-days", "-1"}, {"close-days", "--csv-days", "x"},
  };
  for (const auto& args : bad) {
    const ProgramRun r = Data(folder_, args);
    EXPECT_EQ(r.exitCode, 2) << (args.empty() ? "" : args[0]) << r.output;
    EXPECT_FALSE(r.output.empty());
  }
  EXPECT_EQ(Data(folder_, {"--help"}).exitCode, 0);
}

TEST_F(DataProgramTest, BarsGoToStandardOutputOrOneFilePerDay) {
  ProgramRun r = Data(folder_, {"bars", "20240307", "--period", "1h"});
  ASSERT_EQ(r.exitCode, 0) << r.output;
  std::istringstream lines(r.output);
  std::string header, first;
  std::getline(lines, header);
  std::getline(lines, first);
  EXPECT_EQ(header, "contract,trading_day,start,end,open,high,low,close,volume,turnover,open_interest,ticks");
  EXPECT_EQ(first.rfind("rb2405,20240307,2024-03-06T21:00:00+08:00,2024-03-06T22:00:00+08:00,3725,", 0), 0u) << first;

  std::filesystem::create_directories(folder_.path() / "bars");
  r = Data(folder_, {"bars", "--from", "20240307", "--to", "20240308", "--period", "5m", "--out",
                     (folder_.path() / "bars").string()});
  ASSERT_EQ(r.exitCode, 0) << r.output;
  EXPECT_TRUE(std::filesystem::exists(folder_.path() / "bars" / "20240307-5m.csv"));
  EXPECT_TRUE(std::filesystem::exists(folder_.path() / "bars" / "20240308-5m.csv"));
}

// --out folders are made when missing; the export keeps the market's ticks unless --raw, which names
// each tick's kind. A 15:00 snapshot that arrived at 21:00 is stale.
TEST_F(DataProgramTest, OutFoldersAreMadeAndTheExportKeepsSessionTicksUnlessRaw) {
  Tick stale{.time = "15:00:00", .stamp = "20240307210000"};
  Tick first{.time = "21:00:01", .volume = 2};
  Tick second{.time = "21:00:02", .volume = 3};
  ASSERT_TRUE(AppendJournal(folder_, "20240308", {stale, first, second}));
  const std::filesystem::path bars = folder_.path() / "made" / "bars";
  ASSERT_EQ(Data(folder_, {"bars", "20240308", "--out", bars.string()}).exitCode, 0);
  EXPECT_TRUE(std::filesystem::exists(bars / "20240308-1m.csv"));

  const std::filesystem::path ticks = folder_.path() / "made" / "ticks";
  ProgramRun r = Data(folder_, {"export", "20240308", "--out", ticks.string()});
  ASSERT_EQ(r.exitCode, 0) << r.output;
  EXPECT_NE(r.output.find("20240308: 2 rows in 1 files, 1 stale or test left out"), std::string::npos) << r.output;
  r = Data(folder_, {"export", "20240308", "--out", ticks.string(), "--raw"});
  ASSERT_EQ(r.exitCode, 0) << r.output;
  std::ifstream in(ticks / "20240308.csv");
  std::string header, line, kinds;
  std::getline(in, header);
  EXPECT_EQ(header.substr(header.rfind(',') + 1), "kind");
  while (std::getline(in, line)) kinds += line.substr(line.rfind(',') + 1) + " ";
  EXPECT_EQ(kinds, "stale session session ");
}

TEST_F(DataProgramTest, ReplayableReportsWhatItWroteForEachDay) {
  // The fixture ticks on through the 10:15 break and noon: those 8098 seconds are test data.
  ProgramRun r = Data(folder_, {"replayable", "20240307"});
  ASSERT_EQ(r.exitCode, 0) << r.output;
  EXPECT_NE(r.output.find("20240307: 1 written, 0 up to date, 0 failed, 20704 lines, 8098 stale or test left out"), std::string::npos) << r.output;

  // A file in the journal's place that is no journal stops the day, whatever the per-contract files hold.
  std::filesystem::create_directories(folder_.path() / "Journal");
  std::ofstream(folder_.path() / "Journal" / "20240308.qtj") << "20240308210000,rb2405\r\n";
  r = Data(folder_, {"replayable", "20240307", "20240308"});
  EXPECT_EQ(r.exitCode, 3) << r.output;
  EXPECT_NE(r.output.find("20240308.qtj: not a tick journal (bad magic)"), std::string::npos) << r.output;
  // Written again, or up to date when the first run finished two seconds after the files (a slow build).
  EXPECT_TRUE(r.output.find("20240307: 1 written, 0 up to date, 0 failed") != std::string::npos ||
              r.output.find("20240307: 0 written, 1 up to date, 0 failed") != std::string::npos)
      << "the other day is still done" << r.output;
  EXPECT_EQ(r.output.find("20240308: "), std::string::npos) << r.output;
}

}  // namespace

namespace {

TEST_F(DataProgramTest, RawReplayableKeepsEveryLineAndAClockOffChinaTimeIsNamed) {
  ProgramRun r = Data(folder_, {"replayable", "20240307", "--raw"});
  EXPECT_NE(r.output.find("20240307: 1 written, 0 up to date, 0 failed, 28802 lines, 0 stale or test left out"),
            std::string::npos) << r.output;
  // A collector on UTC stores the morning session at 01:00-07:00: nothing lies in the hours.
  folder_.Append(20240305, "rb2405", TickRun("rb2405", Clock(1, 0), Clock(7, 0), 1, 1, 20240305));
  for (const char* command : {"audit", "bars"}) {
    r = Data(folder_, {command, "20240305"});
    EXPECT_NE(r.output.find("20240305: every tick lies outside the trading hours; is this machine's clock on China time"),
              std::string::npos) << command << r.output;
  }
  r = Data(folder_, {"audit", "20240307"});
  EXPECT_EQ(r.output.find("outside the trading hours;"), std::string::npos) << r.output;
}

TEST_F(DataProgramTest, CloseDaysPacksFinishedDaysAndKeepsOnlyWhatTheRetentionSays) {
  for (int day : {20240307, 20240308}) {
    std::vector<Tick> ticks(3);
    for (int i = 0; i < 3; ++i) {
      ticks[i].day = day;
      ticks[i].volume = i + 1;
    }
    ASSERT_TRUE(AppendJournal(folder_, std::to_string(day).c_str(), ticks));
    // The day's per-contract file holds the journal's ticks, as a collector writes both.
    std::string lines;
    for (const Tick& tick : ticks) lines += tick.Line();
    std::ofstream(folder_.File(day, "rb2405"), std::ios::binary | std::ios::trunc) << lines;
  }
  const std::filesystem::path dir = folder_.path();
  std::ofstream(dir / "setting.ini") << "[Retention]\r\njournal_days=x\r\n";
  ProgramRun r = Data(folder_, {"close-days", "--settle-minutes", "0"});
  EXPECT_EQ(r.exitCode, 2) << r.output;
  EXPECT_NE(r.output.find("[Retention] journal_days=x in setting.ini is not a number of days"), std::string::npos)
      << r.output;
  EXPECT_FALSE(std::filesystem::exists(dir / "History"));

  // A collector at work in the folder packs its own days.
  {
    ProcessLock collector;
    ASSERT_EQ(collector.TakeWorkFolder(dir.string(), "quoteloomd"), "");
    r = Data(folder_, {"close-days", "--settle-minutes", "0"});
    EXPECT_EQ(r.exitCode, 0) << r.output;
    EXPECT_NE(r.output.find("it packs its own days, so nothing is done here"), std::string::npos) << r.output;
    EXPECT_FALSE(std::filesystem::exists(dir / "History"));
  }

  // The folder's setting keeps one journal; the option keeps no CSV files.
  std::ofstream(dir / "setting.ini") << "[Retention]\r\njournal_days=1\r\ncsv_days=5\r\n";
  r = Data(folder_, {"close-days", "--settle-minutes", "0", "--csv-days", "0"});
  EXPECT_EQ(r.exitCode, 0) << r.output;
  EXPECT_NE(r.output.find("keeping journals of the last packed day, CSV files of no packed day"),
            std::string::npos)
      << r.output;
  for (const char* day : {"20240307", "20240308"}) {
    EXPECT_NE(r.output.find(std::string("packed day ") + day + ": 3 records (0 damaged)"), std::string::npos)
        << r.output;
    EXPECT_TRUE(std::filesystem::is_regular_file(dir / "History" / (std::string(day) + ".qth"))) << day;
    EXPECT_FALSE(std::filesystem::exists(dir / "Data" / day)) << day;
  }
  EXPECT_FALSE(std::filesystem::exists(dir / "Journal/20240307.qtj"));
  EXPECT_TRUE(std::filesystem::exists(dir / "Journal/20240308.qtj"));
  EXPECT_NE(r.output.find("deleted " + (dir / "Journal/20240307.qtj").string()), std::string::npos) << r.output;
  EXPECT_NE(r.output.find("2 days packed, 0 failed; journals of 1 days and CSV files of 2 days deleted"),
            std::string::npos)
      << r.output;

  // Nothing is left to do the next time.
  r = Data(folder_, {"close-days", "--settle-minutes", "0", "--csv-days", "0"});
  EXPECT_EQ(r.exitCode, 0) << r.output;
  EXPECT_NE(r.output.find("0 days packed, 0 failed; journals of 0 days and CSV files of 0 days deleted"),
            std::string::npos)
      << r.output;
}

}  // namespace

namespace {

std::string FileText(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// What audit, bars, export and replayable make of the day, each output keyed by what made it; the
// store's path in messages reads "STORE".
std::map<std::string, std::string> CommandOutputs(const DataFolder& folder, const std::string& store) {
  std::map<std::string, std::string> out;
  const auto keep = [&](const std::string& what, const ProgramRun& r) {
    std::string text = std::to_string(r.exitCode) + "\n" + r.output;
    for (std::size_t at; (at = text.find(store)) != std::string::npos;) text.replace(at, store.size(), "STORE");
    out[what] = text;
  };
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {"audit", "--json", "20240308"}, {"audit", "20240308"}, {"bars", "20240308"}, {"bars", "20240308", "--period", "5m"}}) {
    std::string what;
    for (const std::string& arg : args) what += arg + " ";
    keep(what, Data(folder, args));
  }
  const std::filesystem::path exported = folder.path() / "exported";
  keep("export", Data(folder, {"export", "20240308", "--raw", "--by-contract", "--out", exported.string()}));
  keep("replayable", Data(folder, {"replayable", "20240308"}));
  for (const auto& dir : {exported, folder.path() / "Data" / "20240308" / "Tick"}) {
    std::error_code ec;
    for (const auto& file : std::filesystem::directory_iterator(dir, ec)) {
      out[file.path().filename().string()] = FileText(file.path());
    }
    std::filesystem::remove_all(dir);
  }
  return out;
}

// A day kept only as its packed journal gives every command the output its journal gave.
TEST(DataProgramPackedTest, EveryCommandReadsAPackedDayAsItsJournal) {
  DataFolder folder;
  std::vector<Tick> ticks;
  ticks.push_back(Tick{.time = "15:00:00", .stamp = "20240307210000"});  // stale
  for (int i = 0; i < 1500; ++i) {
    if (i >= 600 && i < 700) continue;  // a hole
    const int second = Clock(21, 0) + i;
    ticks.push_back(Tick{.time = ClockText(second), .ms = (i % 2) * 500, .last = 3725.0 + i % 7, .volume = 1 + i,
                         .turnover = 37250.0 * (1 + i), .interest = 1000.0 + i % 13});
    if (i % 3 == 0) {
      ticks.push_back(Tick{.contract = "IF2403", .time = ClockText(second), .last = 3501.2 + (i % 5) * 0.2,
                           .volume = 1 + i / 3, .ask = 3501.4});
    }
  }
  ticks.push_back(ticks.back());  // sent twice
  ASSERT_TRUE(AppendJournal(folder, "20240308", ticks));
  const std::filesystem::path journal = folder.path() / "Journal" / "20240308.qtj";
  {
    std::fstream damage(journal, std::ios::in | std::ios::out | std::ios::binary);
    damage.seekp(static_cast<std::streamoff>(std::filesystem::file_size(journal) / 2));
    damage.put('\x7f');
  }
  const std::map<std::string, std::string> fromJournal = CommandOutputs(folder, journal.string());
  ASSERT_NE(fromJournal.at("export").find("1 damaged journal records left out"), std::string::npos)
      << fromJournal.at("export");

  const ProgramRun packed = Data(folder, {"pack", "20240308"});
  ASSERT_EQ(packed.exitCode, 0) << packed.output;
  EXPECT_NE(packed.output.find("20240308: " + std::to_string(ticks.size()) + " ticks"), std::string::npos)
      << packed.output;
  std::filesystem::remove(journal);
  const std::map<std::string, std::string> fromPacked =
      CommandOutputs(folder, (folder.path() / "History" / "20240308.qth").string());
  EXPECT_GT(fromJournal.size(), 7u);
  for (const auto& [what, output] : fromJournal) {
    ASSERT_EQ(fromPacked.count(what), 1u) << what;
    EXPECT_EQ(fromPacked.at(what), output) << what;
  }

  // A day with no journal is not packed; one with a damaged packed day is refused, not read as files.
  const ProgramRun missing = Data(folder, {"pack", "20240307"});
  EXPECT_EQ(missing.exitCode, 3) << missing.output;
  std::fstream(folder.path() / "History" / "20240308.qth", std::ios::in | std::ios::out | std::ios::binary).put('X');
  const ProgramRun refused = Data(folder, {"audit", "20240308"});
  EXPECT_EQ(refused.exitCode, 3) << refused.output;
  EXPECT_NE(refused.output.find("20240308.qth: not a packed day"), std::string::npos) << refused.output;
}

}  // namespace
