// The desktop program runs on with a setting.ini that names no usable front, and says why on the
// CTP log tab (quoteloomd refuses to start on the same file).
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>

#include "collector/collector_runtime.h"
#include "tests/support/child_process.h"
#include "tests/support/log_watch.h"

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
            if (line == "setting.ini无法使用：address1=tcp://999.1.1.1:99999 in setting.ini is not a front address "
                        "such as tcp://HOST:PORT (port 1 to 65535)") {
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

}  // namespace
