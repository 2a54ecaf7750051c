// quoteloomd packs a finished day it finds in its folder, applies the retention and says so in its
// log and its metrics, with no front to collect from.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <regex>

#include "storage/journal_writer.h"
#include "tests/support/child_process.h"
#include "tests/support/http_get.h"
#include "tests/support/metrics_text.h"
#include "tests/support/tick_fixtures.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

// Yesterday's files of a collector, untouched for two days.
void WriteFinishedDay(const fs::path& dir, const char* day) {
  JournalWriter journal(JournalSync::kNone, dir.string());
  for (int i = 0; i < 5; ++i) {
    TickRecord tick = ExampleRb2405Record();
    tick.Volume = 100 + i;
    ASSERT_TRUE(journal.Append(day, tick, 1709888400000000000LL + i * 500000000LL, {}));
  }
  journal.Close();
  fs::create_directories(dir / "Data" / day);
  fs::create_directories(dir / "DataTimeStream");
  std::ofstream(dir / "Data" / day / "rb2405.csv") << "a stored line\n";
  std::ofstream(dir / "DataTimeStream" / (std::string(day) + ".csv")) << "a stored line\n";
  const auto old = fs::file_time_type::clock::now() - 48h;
  for (const fs::path& file : {dir / "Journal" / (std::string(day) + ".qtj"), dir / "Data" / day / "rb2405.csv",
                               dir / "DataTimeStream" / (std::string(day) + ".csv")}) {
    fs::last_write_time(file, old);
  }
}

// The day of WriteFinishedDay packed, its journal and CSV files gone under a retention of none.
void ExpectPackedAndDeleted(const fs::path& dir) {
  EXPECT_TRUE(fs::is_regular_file(dir / "History/20240308.qth"));
  EXPECT_FALSE(fs::exists(dir / "Journal/20240308.qtj"));
  EXPECT_FALSE(fs::exists(dir / "Data/20240308"));
  EXPECT_FALSE(fs::exists(dir / "DataTimeStream/20240308.csv"));
}

TEST(DayCloseE2eTest, QuoteloomdPacksAFinishedDayAndDeletesItsFilesUnderTheRetention) {
  char pattern[] = "/tmp/quoteloom-day-close-e2e-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  const fs::path dir = pattern;
  std::ofstream(dir / "setting.ini") << "[AccountInfo]\r\nbrokeid=9999\r\nusername=u\r\npassword=p\r\nservernum=1\r\n"
                                        "address1=tcp://127.0.0.1:1\r\n[Retention]\r\njournal_days=0\r\ncsv_days=0\r\n";
  WriteFinishedDay(dir, "20240308");
  {
    ChildProcess daemon({QUOTELOOMD, "--workdir", dir.string(), "--replay", "off", "--metrics", "127.0.0.1:0"},
                        (dir / "quoteloomd.out").string());
    ASSERT_TRUE(daemon.started());
    const bool done = WaitUntil(
        [&] { return daemon.Output().find("past the CSV files' retention") != std::string::npos || !daemon.Running(); },
        30s);
    const std::string out = daemon.Output();
    EXPECT_TRUE(done) << out;
    EXPECT_NE(out.find("keeping journals of no packed day, CSV files of no packed day"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("packed day 20240308: 5 records (0 damaged)"), std::string::npos) << out;
    EXPECT_NE(out.find("deleted ./Journal/20240308.qtj"), std::string::npos) << out;
    EXPECT_NE(out.find("kept ./History/20240308.qth"), std::string::npos) << out;

    std::smatch m;
    ASSERT_TRUE(std::regex_search(out, m, std::regex("metrics on http://127\\.0\\.0\\.1:(\\d+)/metrics"))) << out;
    const std::string text = HttpBody(HttpGet(static_cast<unsigned short>(std::stoi(m[1])), "/metrics"));
    EXPECT_EQ(MetricValue(text, "quoteloom_history_packed_days"), 1) << text;
    EXPECT_GT(MetricValue(text, "quoteloom_history_bytes"), 0) << text;
    EXPECT_EQ(MetricValue(text, "quoteloom_history_last_pack_verified"), 1) << text;
    EXPECT_EQ(MetricValue(text, "quoteloom_history_deleted_total{store=\"journal\"}"), 1) << text;
    EXPECT_GT(MetricValue(text, "quoteloom_workdir_free_bytes"), 0) << text;

    daemon.Signal(SIGTERM);
    EXPECT_TRUE(daemon.Wait(20s));
  }
  ExpectPackedAndDeleted(dir);
  fs::remove_all(dir);
}

#ifdef QUOTELOOM_DESKTOP
// The window packs finished days on its own thread as quoteloomd does, under the same retention.
TEST(DayCloseE2eTest, TheWindowPacksAFinishedDayAndDeletesItsFilesUnderTheRetention) {
  char pattern[] = "/tmp/quoteloom-day-close-desktop-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  const fs::path dir = pattern;
  const fs::path home = dir / "home";
  fs::create_directories(home / "config" / "Vantrelo Quoteloom");
  fs::create_directories(home / "run");
  fs::permissions(home / "run", fs::perms::owner_all);
  // No metrics port and no replay service: the test's window shares the machine with other programs.
  std::ofstream(home / "config" / "Vantrelo Quoteloom" / "Quoteloom.conf")
      << "[Settings]\nMetricsEndpoint=off\nMDServicestate=0\n";
  std::ofstream(dir / "setting.ini") << "[AccountInfo]\r\nbrokeid=9999\r\nusername=u\r\npassword=p\r\nservernum=1\r\n"
                                        "address1=tcp://127.0.0.1:1\r\n[Retention]\r\njournal_days=0\r\ncsv_days=0\r\n";
  WriteFinishedDay(dir, "20240308");
  {
    ChildProcess window({"/usr/bin/env", "-C", dir.string(), "QT_QPA_PLATFORM=offscreen", "HOME=" + home.string(),
                         "XDG_CONFIG_HOME=" + (home / "config").string(),
                         "XDG_RUNTIME_DIR=" + (home / "run").string(), QUOTELOOM_DESKTOP},
                        (dir / "quoteloom.out").string());
    ASSERT_TRUE(window.started());
    const bool done = WaitUntil(
        [&] {
          return (fs::exists(dir / "History/20240308.qth") && !fs::exists(dir / "Data/20240308")) || !window.Running();
        },
        30s);
    EXPECT_TRUE(done) << window.Output();
    EXPECT_TRUE(window.Running()) << window.Output();
    window.Signal(SIGTERM);
    EXPECT_TRUE(window.Wait(20s));
  }
  ExpectPackedAndDeleted(dir);
  fs::remove_all(dir);
}
#endif

}  // namespace
