#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "core/conf_file_user_store.h"
#include "shell/autorun.h"
#include "shell/desktop_switches.h"

namespace {

namespace fs = std::filesystem;

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// Points XDG_CONFIG_HOME at a fresh folder, so no test touches the real home directory; the
// window tests in the same program find the variable as it was.
class DesktopSwitchesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const char* old = std::getenv("XDG_CONFIG_HOME")) saved_ = old;
    config_ = fs::temp_directory_path() /
              ("quoteloom-xdg-" + std::to_string(::getpid()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(config_);
    fs::create_directories(config_);
    setenv("XDG_CONFIG_HOME", config_.c_str(), 1);
  }
  void TearDown() override {
    fs::remove_all(config_);
    if (saved_) {
      setenv("XDG_CONFIG_HOME", saved_->c_str(), 1);
    } else {
      unsetenv("XDG_CONFIG_HOME");
    }
  }

  fs::path config_;
  std::optional<std::string> saved_;
};

TEST_F(DesktopSwitchesTest, AutostartFolderFollowsXdgConfigHome) {
  EXPECT_EQ(Autorun::DefaultAutostartDir(), (config_ / "autostart").string());
}

TEST_F(DesktopSwitchesTest, StartupReadingRules) {
  struct Case {
    std::vector<std::pair<std::string, std::string>> stored;
    std::string service, autorun;
    int timeStream, perContract;
    bool autorunSwitched;
  } cases[] = {
      {{}, "1", "1", 1, 0, true},
      {{{"MDServicestate", "0"}, {"AutoRunState", "0"}}, "0", "0", 1, 0, false},
      {{{"AutoRunState", "1"}, {"collecttimestremstr", "0"}, {"collectinstrumentstatestr", "1"}}, "1", "1", 0, 1, false},
      {{{"AutoRunState", "1"}, {"collecttimestremstr", "2"}, {"collectinstrumentstatestr", "0"}}, "1", "1", 0, 0, false},
  };
  for (const Case& c : cases) {
    fs::remove_all(config_);
    ConfFileUserStore store;
    for (const auto& [name, value] : c.stored) store.Write(name, value);
    bool switched = false;
    DesktopSwitches s = ReadDesktopSwitches(store, [&](DesktopSwitches& sw) {
      switched = true;
      sw.autorunState = "1";
    });
    EXPECT_EQ(s.replayServiceState, c.service);
    EXPECT_EQ(s.autorunState, c.autorun);
    EXPECT_EQ(s.timeStreamFlag, c.timeStream);
    EXPECT_EQ(s.perContractFlag, c.perContract);
    EXPECT_EQ(switched, c.autorunSwitched);
    if (c.stored.empty()) {
      EXPECT_EQ(store.Read("MDServicestate"), "");  // the default is not written back
    }
  }
}

TEST_F(DesktopSwitchesTest, AutorunWritesTheWholeExecutablePathAndRemovesIt) {
  ConfFileUserStore store;
  std::vector<std::string> messages;
  const std::string exe = "/opt/" + std::string(120, 'q') + "/My Apps/quoteloom";
  Autorun autorun(store, [&](const std::string& m) { messages.push_back(m); }, Autorun::DefaultAutostartDir(), exe);
  std::string state;

  autorun.SwitchOn(&state);
  EXPECT_EQ(state, "1");
  EXPECT_EQ(store.Read("AutoRunState"), "1");
  const std::string entry = ReadFile(autorun.EntryPath());
  EXPECT_NE(entry.find("Exec=\"" + exe + "\"\n"), std::string::npos) << entry;
  EXPECT_TRUE(messages.empty());

  autorun.SwitchOff(&state);
  EXPECT_EQ(state, "0");
  EXPECT_EQ(store.Read("AutoRunState"), "0");
  EXPECT_FALSE(fs::exists(autorun.EntryPath()));
  autorun.SwitchOff(&state);  // already off: no error, no message
  EXPECT_TRUE(messages.empty());
}

TEST_F(DesktopSwitchesTest, AutorunEscapesExecForTheDesktopEntryFormat) {
  EXPECT_NE(Autorun::EntryText("/a/b$c\"d%e\\f").find("Exec=\"/a/b\\\\$c\\\\\"d%%e\\\\\\\\f\"\n"), std::string::npos);
}

TEST_F(DesktopSwitchesTest, AutorunFailuresReachTheMessageFunction) {
  ConfFileUserStore store;
  std::vector<std::string> messages;
  auto collect = [&](const std::string& m) { messages.push_back(m); };
  std::string state;

  std::ofstream(config_ / "not-a-dir") << "x";
  Autorun blocked(store, collect, (config_ / "not-a-dir").string(), "/usr/bin/quoteloom");
  blocked.SwitchOn(&state);
  EXPECT_EQ(state, "1");
  EXPECT_EQ(store.Read("AutoRunState"), "1");  // already stored when the entry fails
  ASSERT_EQ(messages, std::vector<std::string>{"打开注册表项失败"});

  messages.clear();
  Autorun unwritable(store, collect, (config_ / "autostart").string(), "/usr/bin/quoteloom");
  fs::create_directories(unwritable.EntryPath());  // a directory where the entry should be
  unwritable.SwitchOn(&state);
  EXPECT_EQ(messages, std::vector<std::string>{"写注册表失败"});
}

}  // namespace
