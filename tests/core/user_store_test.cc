#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "core/conf_file_user_store.h"

namespace {

namespace fs = std::filesystem;

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// Points XDG_CONFIG_HOME at a fresh folder, so no test touches the real home directory.
class UserStoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    config_ = fs::temp_directory_path() /
              ("quoteloom-xdg-" + std::to_string(::getpid()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(config_);
    fs::create_directories(config_);
    setenv("XDG_CONFIG_HOME", config_.c_str(), 1);
  }
  void TearDown() override { fs::remove_all(config_); }

  fs::path config_;
};

TEST_F(UserStoreTest, DefaultPathIsTheQSettingsFile) {
  EXPECT_EQ(ConfFileUserStore::DefaultPath(), (config_ / "Vantrelo Quoteloom" / "Quoteloom.conf").string());
}

TEST_F(UserStoreTest, WritesAndReadsValuesWithoutCaseAndKeepsOtherSections) {
  ConfFileUserStore store;
  fs::create_directories(fs::path(store.path()).parent_path());
  std::ofstream(store.path()) << "[General]\nApplicationLook=210\n\n[Settings]\nAutoRunstate=0\n\n[Workspace]\nx=1\n";

  EXPECT_EQ(store.Read("AutoRunState"), "0");
  EXPECT_EQ(store.Read("MDServicestate"), "");
  ASSERT_TRUE(store.Write("AutoRunState", "1"));
  ASSERT_TRUE(store.Write("MDServicestate", "0"));
  EXPECT_EQ(store.Read("autorunstate"), "1");
  EXPECT_EQ(store.Read("MDServicestate"), "0");
  EXPECT_EQ(ReadFile(store.path()),
            "[General]\nApplicationLook=210\n\n[Settings]\nAutoRunState=1\nMDServicestate=0\n\n[Workspace]\nx=1\n");
}

TEST_F(UserStoreTest, CreatesTheFileOnFirstWrite) {
  ConfFileUserStore store;
  ASSERT_TRUE(store.Write("collecttimestremstr", "0"));
  EXPECT_EQ(ReadFile(store.path()), "[Settings]\ncollecttimestremstr=0\n");
}

}  // namespace
