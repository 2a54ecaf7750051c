// A setting.ini the collector cannot use: quoteloomd refuses to start on any value it cannot use,
// naming the setting, its section and its value; the runtime under the desktop program, which
// starts without a usable front, says why on the CTP log tab.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>

#include "collector/collector_runtime.h"
#include "tests/support/child_process.h"
#include "tests/support/log_watch.h"
#include "tests/support/process_output.h"

namespace fs = std::filesystem;

namespace {

using namespace std::chrono_literals;

TEST(CollectorBadSettingsTest, TheReasonGoesToTheCtpLogTab) {
  const std::filesystem::path ini =
      std::filesystem::temp_directory_path() / ("quoteloom-bad-setting-" + std::to_string(::getpid()) + ".ini");
  std::ofstream(ini) << "[AccountInfo]\r\nservernum=1\r\naddress1=tcp://999.1.1.1:99999\r\n";
  LogWatch watch;
  CollectorRuntime::Options options;
  options.startReplayService = false;
  const std::string path = ini.string();
  options.settingIniPath = path.c_str();
  {
    CollectorRuntime runtime(options);
    runtime.Start();
    EXPECT_TRUE(WaitUntil(
        [&] {
          for (const auto& line : watch.NewLines(LogTab::CtpLog)) {
            if (line == "setting.ini无法使用：[AccountInfo] address1=tcp://999.1.1.1:99999 in setting.ini is not a "
                        "front address such as tcp://HOST:PORT (port 1 to 65535)") {
              return true;
            }
          }
          return false;
        },
        10s));
    runtime.Shutdown();
  }
  std::filesystem::remove(ini);
}

// Each of these ran silently (or on with a note) and is now refused before anything is written.
TEST(CollectorBadSettingsTest, QuoteloomdEndsAtStartOnEveryValueItCannotUse) {
  char pattern[] = "/tmp/quoteloom-bad-settings-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  const fs::path dir = pattern;
  const std::string fronts = "[AccountInfo]\r\nbrokeid=9999\r\nusername=u\r\npassword=p\r\nservernum=1\r\n"
                             "address1=tcp://127.0.0.1:1\r\n";
  const std::string time = " in setting.ini is not a time of day HHMM from 0000 to 2359";
  const struct {
    std::string lines;
    std::string says;
  } cases[] = {
      {"stopsavetimebegin1=2561", "[AccountInfo] stopsavetimebegin1=2561" + time},
      {"stopsavetimeend1=-5", "[AccountInfo] stopsavetimeend1=-5" + time},
      {"stopsavetimebegin2=9999", "[AccountInfo] stopsavetimebegin2=9999" + time},
      {"stopsavetimeend2=abc", "[AccountInfo] stopsavetimeend2=abc" + time},
      {"stopsavetimebegin1=300\r\nstopsavetimeend1=860", "[AccountInfo] stopsavetimeend1=860" + time},
      {"environment=prod", "[AccountInfo] environment=prod in setting.ini is not production or evaluation"},
      {"[Journal]\r\nsync=sometimes", "[Journal] sync=sometimes in setting.ini is not none, second or every"},
      {"[Journal]\r\nenabled=2", "[Journal] enabled=2 in setting.ini is not 0 or 1"},
      {"[Retention]\r\njournal_days=x",
       "[Retention] journal_days=x in setting.ini is not a number of days from 0 to 100000"},
      {"[Retention]\r\njournal_days=3\r\ncsv_days=-1",
       "[Retention] csv_days=-1 in setting.ini is not a number of days from 0 to 100000"},
  };
  for (const auto& c : cases) {
    std::ofstream(dir / "setting.ini", std::ios::trunc) << fronts << c.lines << "\r\n";
    const ProgramRun run = RunProgram({QUOTELOOMD, "--workdir", dir.string(), "--replay", "off", "--metrics", "off"},
                                      dir / "quoteloomd.out", 10s);
    EXPECT_EQ(run.exitCode, 2) << c.lines << "\n" << run.output;
    EXPECT_NE(run.output.find("quoteloomd: " + c.says + " (in " + dir.string() + ")"), std::string::npos)
        << c.lines << "\n" << run.output;
  }
  EXPECT_FALSE(fs::exists(dir / "Journal"));
  EXPECT_FALSE(fs::exists(dir / "DataTimeStream"));
  fs::remove_all(dir);
}

}  // namespace
