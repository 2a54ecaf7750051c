#include "core/setting_ini.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include "core/ini_file.h"
#include "core/journal_settings.h"
#include "core/retention_settings.h"

namespace {

class SettingIniTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() /
           ("quoteloom-ini-" + std::to_string(::getpid()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::create_directories(dir_);
    path_ = (dir_ / "setting.ini").string();
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  void Write(const std::string& text) { std::ofstream(path_) << text; }

  std::filesystem::path dir_;
  std::string path_;
  AccountSettings account_;
  StopSaveWindows windows_;
};

TEST_F(SettingIniTest, ReadsAccountWindowsAndAddresses) {
  Write("[AccountInfo]\r\nbrokeid=9999\r\nusername=123456\r\npassword=secret\r\nservernum=2\r\n"
        "address1=tcp://180.168.146.187:10131\r\naddress2=tcp://180.168.146.187:10211\r\n"
        "stopsavetimebegin1=300\r\nstopsavetimeend1=840\r\nstopsavetimebegin2=1530\r\nstopsavetimeend2=2040\r\n");
  ReadSettingIni(path_.c_str(), &account_, &windows_);
  EXPECT_STREQ(account_.BrokerID, "9999");
  EXPECT_STREQ(account_.UserID, "123456");
  EXPECT_STREQ(account_.Password, "secret");
  EXPECT_EQ(account_.ServerNum, 2);
  EXPECT_STREQ(account_.Addresses[0], "tcp://180.168.146.187:10131");
  EXPECT_STREQ(account_.Addresses[1], "tcp://180.168.146.187:10211");
  EXPECT_EQ(windows_.begin1(), 300 / 10000.0);
  EXPECT_EQ(windows_.end1(), 840 / 10000.0);
  EXPECT_EQ(windows_.begin2(), 1530 / 10000.0);
  EXPECT_EQ(windows_.end2(), 2040 / 10000.0);
}

TEST_F(SettingIniTest, TheEnvironmentIsProductionUnlessEvaluationIsNamed) {
  const struct {
    const char* line;
    MdEnvironment environment;
  } cases[] = {
      {"", MdEnvironment::kProduction},
      {"environment=\r\n", MdEnvironment::kProduction},
      {"environment=production\r\n", MdEnvironment::kProduction},
      {"Environment=Evaluation\r\n", MdEnvironment::kEvaluation},
      {"environment=test\r\n", MdEnvironment::kUnknown},
  };
  for (const auto& c : cases) {
    Write(std::string("[AccountInfo]\r\nbrokeid=9999\r\n") + c.line);
    AccountSettings account;
    ReadSettingIni(path_.c_str(), &account, &windows_);
    EXPECT_EQ(EnvironmentOf(account), c.environment) << c.line;
  }
}

TEST_F(SettingIniTest, AddressSlotsFollowServernum) {
  std::string many = "[AccountInfo]\nservernum=15\n";
  for (int i = 1; i <= 15; ++i) many += "address" + std::to_string(i) + "=tcp://h:" + std::to_string(i) + "\n";
  struct Case {
    std::string text;
    std::vector<std::string> slots;  // expected 12 slots
  } cases[] = {
      {"[AccountInfo]\nservernum=2\naddress2=tcp://b:2\n", {"", "tcp://b:2", "", "", "", "", "", "", "", "", "", ""}},
      {many, {"tcp://h:1", "tcp://h:2", "tcp://h:3", "tcp://h:4", "tcp://h:5", "tcp://h:6", "tcp://h:7",
              "tcp://h:8", "tcp://h:9", "tcp://h:10", "tcp://h:11", "tcp://h:12"}},
      {"[AccountInfo]\naddress1=tcp://a:1\n", std::vector<std::string>(12, "")},
  };
  for (const Case& c : cases) {
    Write(c.text);
    AccountSettings account;
    ReadSettingIni(path_.c_str(), &account, &windows_);
    for (int i = 0; i < 12; ++i) EXPECT_EQ(account.Addresses[i], c.slots[i]) << c.text << " slot " << i;
  }
}

TEST_F(SettingIniTest, MissingFileOrKeysGiveEmptyTextAndZero) {
  EXPECT_EQ(windows_.begin1(), 0.03);  // built-in windows until the file is read
  EXPECT_EQ(windows_.end2(), 0.204);
  ReadSettingIni((dir_ / "absent.ini").string().c_str(), &account_, &windows_);
  EXPECT_STREQ(account_.BrokerID, "");
  EXPECT_EQ(account_.ServerNum, 0);
  EXPECT_EQ(windows_.begin1(), 0.0);
  EXPECT_EQ(windows_.end2(), 0.0);
  EXPECT_FALSE(windows_.Contains(StopSaveWindows::ClockValue(5, 0)));
}

TEST_F(SettingIniTest, LongValuesAreCutToTheirBuffers) {
  Write("[AccountInfo]\npassword=" + std::string(41, 'p') + "\nbrokeid=" + std::string(15, 'b') +
        "\nusername=" + std::string(20, 'u') + "\n");
  ReadSettingIni(path_.c_str(), &account_, &windows_);
  EXPECT_EQ(std::string(account_.Password), std::string(40, 'p'));
  EXPECT_EQ(std::string(account_.BrokerID), std::string(10, 'b'));
  EXPECT_EQ(std::string(account_.UserID), std::string(12, 'u'));
}

TEST_F(SettingIniTest, PrivateProfileRules) {
  Write("; comment\n[accountINFO]\n  BrokeID =  \"8888\"  \nservernum=3x\nstopsavetimebegin1=abc\n"
        "stopsavetimeend1= 0900 ;not a comment\nbrokeid=ignored duplicate\npassword='quoted'\n");
  CIniFile ini(path_.c_str());
  char text[41];
  ini.ReadString("AccountInfo", "brokeid", "", text, sizeof(text));
  EXPECT_STREQ(text, "8888");
  ini.ReadString("AccountInfo", "password", "", text, sizeof(text));
  EXPECT_STREQ(text, "quoted");
  EXPECT_EQ(ini.ReadInt("AccountInfo", "servernum", 7), 3);
  EXPECT_EQ(ini.ReadInt("AccountInfo", "stopsavetimebegin1", 7), 0);
  EXPECT_EQ(ini.ReadInt("AccountInfo", "stopsavetimeend1", 7), 900);
  EXPECT_EQ(ini.ReadInt("AccountInfo", "missing", 7), 7);
  EXPECT_EQ(ini.ReadInt("Other", "servernum", 7), 7);
}

TEST_F(SettingIniTest, FrontSettingsProblemNamesTheSettingThatLeavesNoUsableFront) {
  struct Case {
    std::string fronts;  // the lines after the account
    const char* problem;  // empty: the settings are usable
  };
  const Case cases[] = {
      {"servernum=1\r\naddress1=tcp://180.168.146.187:10131", ""},
      {"servernum=3\r\naddress2=tcp://md.example-broker.com:41213", ""},
      {"servernum=12\r\naddress12=ssl://[::1]:7", ""},
      {"servernum=2\r\naddress1=tcp://127.0.0.1:65535", ""},
      {"", "no servernum in [AccountInfo]"},
      {"servernum=0\r\naddress1=tcp://127.0.0.1:1", "servernum=0 in setting.ini is not a number of fronts from 1 to 12"},
      {"servernum=-5\r\naddress1=tcp://127.0.0.1:1", "servernum=-5 in"},
      {"servernum=999\r\naddress1=tcp://127.0.0.1:1", "servernum=999 in"},
      {"servernum=13\r\naddress1=tcp://127.0.0.1:1", "servernum=13 in"},
      {"servernum=99999999999999999999\r\naddress1=tcp://127.0.0.1:1", "servernum=99999999999999999999 in"},
      {"servernum=two\r\naddress1=tcp://127.0.0.1:1", "servernum=two in"},
      {"servernum=2", "names no front: servernum=2 but address1 to address2 are empty"},
      {"servernum=1\r\naddress2=tcp://127.0.0.1:1", "servernum=1 but address1 is empty"},
      {"servernum=1\r\naddress1=tcp://127.0.0.1", "address1=tcp://127.0.0.1 in setting.ini is not a front address"},
      {"servernum=1\r\naddress1=tcp://999.1.1.1:99999", "address1=tcp://999.1.1.1:99999 in"},
      {"servernum=1\r\naddress1=tcp://999.1.1.1:10131", "address1=tcp://999.1.1.1:10131 in"},
      {"servernum=1\r\naddress1=tcp://127.0.0.1:0", "address1=tcp://127.0.0.1:0 in"},
      {"servernum=1\r\naddress1=127.0.0.1:10131", "address1=127.0.0.1:10131 in"},
      {"servernum=1\r\naddress1=tcp://:10131", "address1=tcp://:10131 in"},
      {"servernum=1\r\naddress1=tcp://a b:10131", "address1=tcp://a b:10131 in"},
      // A good address after a bad one still stops the start: the bad one is a typo to fix.
      {"servernum=2\r\naddress1=tcp://x:1x\r\naddress2=tcp://127.0.0.1:1", "address1=tcp://x:1x in"},
      {"servernum=1\r\naddress1=tcp://" + std::string(60, 'a') + ":1", "is longer than 49 characters"},
  };
  for (const Case& c : cases) {
    Write("[AccountInfo]\r\nbrokeid=9999\r\nusername=u\r\npassword=p\r\n" + c.fronts + "\r\n");
    const std::string problem = FrontSettingsProblem(path_.c_str());
    if (*c.problem == '\0') {
      EXPECT_EQ(problem, "") << c.fronts;
    } else {
      EXPECT_NE(problem.find(c.problem), std::string::npos) << c.fronts << " -> " << problem;
    }
  }

  Write("[AccountInfo]\r\nservernum=1\r\naddress1=tcp://127.0.0.1:1\r\n" + std::string("\0\x01\x02", 3));
  EXPECT_EQ(FrontSettingsProblem(path_.c_str()), "setting.ini is not a text file (it holds NUL bytes)");
  EXPECT_EQ(FrontSettingsProblem((dir_ / "missing.ini").c_str()), "setting.ini cannot be read: No such file or directory");
  // A named pipe in its place is refused at once, never waited on.
  const std::string pipe = (dir_ / "pipe.ini").string();
  ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
  EXPECT_EQ(FrontSettingsProblem(pipe.c_str()), "setting.ini cannot be read: not a regular file");
  // Bytes that are not text are shown escaped, never copied into the message.
  Write("[AccountInfo]\r\nservernum=\x1b[2J\r\n");
  EXPECT_EQ(FrontSettingsProblem(path_.c_str()),
            "[AccountInfo] servernum=\\x1B[2J in setting.ini is not a number of fronts from 1 to 12");
}

TEST(SettingIniTimeTest, ATimeOfDayIsHhmmFromMidnightTo2359) {
  for (const char* time : {"0", "00", "0000", "300", "0300", "840", "959", "1530", "2040", "2359"}) {
    EXPECT_TRUE(IsTimeOfDay(time)) << time;
  }
  for (const char* text : {"", "2561", "-5", "9999", "abc", "2400", "060", "1260", "23590", "00300", "+300",
                           "3:00", "3 00", "0x10", "1e3"}) {
    EXPECT_FALSE(IsTimeOfDay(text)) << text;
  }
}

// Every value the collector reads besides the fronts: a time, a word or a flag that it cannot use
// is named with its section and its value; missing and empty keys take their defaults.
TEST_F(SettingIniTest, SettingValuesProblemNamesTheSectionTheKeyAndTheValue) {
  const std::string time = " is not a time of day HHMM from 0000 to 2359";
  const struct {
    std::string lines;
    std::string problem;
  } cases[] = {
      {"", ""},
      {"stopsavetimebegin1=300\r\nstopsavetimeend1=0840\r\nstopsavetimebegin2=1530\r\nstopsavetimeend2=2359", ""},
      {"stopsavetimebegin1=\r\nenvironment=\r\n[Journal]\r\nenabled=\r\nsync=", ""},
      {"environment=Evaluation\r\n[journal]\r\nENABLED=0\r\nsync=EVERY", ""},
      {"stopsavetimebegin1=2561", "[AccountInfo] stopsavetimebegin1=2561 in setting.ini" + time},
      {"stopsavetimeend1=-5", "[AccountInfo] stopsavetimeend1=-5 in setting.ini" + time},
      {"stopsavetimebegin2=9999", "[AccountInfo] stopsavetimebegin2=9999 in setting.ini" + time},
      {"STOPSAVETIMEEND2=abc", "[AccountInfo] stopsavetimeend2=abc in setting.ini" + time},
      {"stopsavetimeend2=12:00", "[AccountInfo] stopsavetimeend2=12:00 in setting.ini" + time},
      {"environment=test", "[AccountInfo] environment=test in setting.ini is not production or evaluation"},
      {"environment=prod\x7f", "[AccountInfo] environment=prod\\x7F in setting.ini is not production or evaluation"},
      {"[Journal]\r\nsync=sometimes", "[Journal] sync=sometimes in setting.ini is not none, second or every"},
      {"[Journal]\r\nenabled=2", "[Journal] enabled=2 in setting.ini is not 0 or 1"},
      {"[Journal]\r\nenabled=yes\r\nsync=never", "[Journal] enabled=yes in setting.ini is not 0 or 1"},
      {"[Journal]\r\nenabled=" + std::string(70, '1'),
       "[Journal] enabled=" + std::string(40, '1') + "... in setting.ini is not 0 or 1"},
  };
  for (const auto& c : cases) {
    Write("[AccountInfo]\r\nservernum=1\r\naddress1=tcp://127.0.0.1:1\r\n" + c.lines + "\r\n");
    EXPECT_EQ(SettingValuesProblem(path_.c_str()), c.problem) << c.lines;
    // The check the programs run at start takes the fronts first, then these values.
    EXPECT_EQ(SettingIniProblem(path_.c_str()), c.problem) << c.lines;
  }
  EXPECT_EQ(SettingValuesProblem((dir_ / "missing.ini").c_str()), "");
  Write("[AccountInfo]\r\nservernum=0\r\nstopsavetimebegin1=2561\r\n");
  EXPECT_NE(SettingIniProblem(path_.c_str()).find("servernum=0"), std::string::npos);
}

TEST_F(SettingIniTest, JournalSettingsKeepTheirDefaultsForValuesTheyCannotUse) {
  const struct {
    const char* lines;
    bool enabled;
    JournalSync sync;
    bool problem;
  } cases[] = {
      {"", true, JournalSync::kSecond, false},
      {"enabled=0\r\nsync=none", false, JournalSync::kNone, false},
      {"enabled=1\r\nsync=Every", true, JournalSync::kEvery, false},
      {"sync=second", true, JournalSync::kSecond, false},
      {"enabled=2\r\nsync=every", true, JournalSync::kEvery, true},
      {"enabled=0\r\nsync=sometimes", false, JournalSync::kSecond, true},
  };
  for (const auto& c : cases) {
    Write(std::string("[Journal]\r\n") + c.lines + "\r\n");
    std::string problem;
    const JournalSettings settings = ReadJournalSettings(path_.c_str(), &problem);
    EXPECT_EQ(settings.enabled, c.enabled) << c.lines;
    EXPECT_EQ(settings.sync, c.sync) << c.lines;
    EXPECT_EQ(!problem.empty(), c.problem) << c.lines << ": " << problem;
  }
}

TEST_F(SettingIniTest, RetentionKeepsEverythingUnlessGivenAWholeNumberOfDays) {
  const struct {
    const char* lines;
    std::optional<int> journalDays, csvDays;
    const char* problem;
  } cases[] = {
      {"", std::nullopt, std::nullopt, ""},
      {"journal_days=\r\ncsv_days=", std::nullopt, std::nullopt, ""},
      {"journal_days=0\r\ncsv_days=007", 0, 7, ""},
      {"journal_days=100000", 100000, std::nullopt, ""},
      {"journal_days=100001", std::nullopt, std::nullopt, "journal_days=100001"},
      {"journal_days=1.5\r\ncsv_days=2", std::nullopt, 2, "journal_days=1.5"},
      {"journal_days=3\r\ncsv_days=4x", 3, std::nullopt, "csv_days=4x"},
      {"csv_days=9999999999999", std::nullopt, std::nullopt, "csv_days=9999999999999"},
      {"journal_days=-1\r\ncsv_days=x", std::nullopt, std::nullopt, "journal_days=-1"},
  };
  for (const auto& c : cases) {
    Write(std::string("[Retention]\r\n") + c.lines + "\r\n");
    std::string problem;
    const RetentionSettings settings = ReadRetentionSettings(path_.c_str(), &problem);
    EXPECT_EQ(settings.journalDays, c.journalDays) << c.lines;
    EXPECT_EQ(settings.csvDays, c.csvDays) << c.lines;
    if (c.problem[0] == '\0') {
      EXPECT_EQ(problem, "") << c.lines;
    } else {
      EXPECT_NE(problem.find(std::string("[Retention] ") + c.problem + " in setting.ini is not a number of days"),
                std::string::npos)
          << c.lines << ": " << problem;
    }
    EXPECT_EQ(SettingValuesProblem(path_.c_str()), problem) << c.lines;
  }
  RetentionSettings settings;
  settings.journalDays = 1;
  settings.csvDays = 30;
  EXPECT_EQ(RetentionText(settings), "journals of the last packed day, CSV files of the last 30 packed days");
  EXPECT_EQ(RetentionText(RetentionSettings()), "journals of every day, CSV files of every day");
}

TEST(StopSaveWindowsTest, BoundsAreStrictAndUseTheMultipliedClock) {
  StopSaveWindows w;
  w.Set(300 / 10000.0, 840 / 10000.0, 1530 / 10000.0, 2040 / 10000.0);
  struct Case {
    int hour, minute;
    bool inside;
  } cases[] = {{3, 0, true}, {2, 59, false}, {8, 39, true}, {8, 40, false}, {15, 30, false},
               {15, 31, true}, {20, 39, true}, {20, 40, false}, {12, 0, false}};
  for (const Case& c : cases)
    EXPECT_EQ(w.Contains(StopSaveWindows::ClockValue(c.hour, c.minute)), c.inside) << c.hour << ":" << c.minute;

  w.Set(2300 / 10000.0, 200 / 10000.0, 0, 0);  // across midnight: never applies
  EXPECT_FALSE(w.Contains(StopSaveWindows::ClockValue(23, 30)));
  EXPECT_FALSE(w.Contains(StopSaveWindows::ClockValue(1, 0)));
}

}  // namespace
