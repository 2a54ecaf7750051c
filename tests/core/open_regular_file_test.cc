#include "core/open_regular_file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

// A working folder and a folder outside it that no call may reach, both in a fresh /tmp folder.
class OpenRegularFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/quoteloom-open-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    base_ = pattern;
    work_ = base_ / "work";
    outside_ = base_ / "outside";
    fs::create_directories(work_);
    fs::create_directories(outside_);
  }
  void TearDown() override { fs::remove_all(base_); }

  std::vector<std::string> Outside() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::recursive_directory_iterator(outside_)) names.push_back(entry.path().string());
    return names;
  }

  fs::path base_, work_, outside_;
};

TEST_F(OpenRegularFileTest, NothingBelowTheWorkingFolderIsReachedThroughALink) {
  struct Case {
    const char* name;
    std::function<void(const fs::path& work, const fs::path& outside)> plant;
    const char* path;
    int error;
  };
  const Case cases[] = {
      {"Data a link", [](auto& w, auto& o) { fs::create_directory_symlink(o, w / "Data"); },
       "Data/20240301/rb2405.csv", ELOOP},
      {"the day a link", [](auto& w, auto& o) {
         fs::create_directories(w / "Data");
         fs::create_directory_symlink(o, w / "Data/20240301");
       }, "Data/20240301/rb2405.csv", ELOOP},
      {"Tick a link", [](auto& w, auto& o) {
         fs::create_directories(w / "Data/20240301");
         fs::create_directory_symlink(o, w / "Data/20240301/Tick");
       }, "Data/20240301/Tick/rb2405.csv", ELOOP},
      {"a dangling link", [](auto& w, auto& o) { fs::create_directory_symlink(o / "made", w / "Journal"); },
       "Journal/20240301.qtj", ELOOP},
      {"the file a link", [](auto& w, auto& o) {
         fs::create_directories(w / "DataTimeStream");
         fs::create_symlink(o / "stolen.csv", w / "DataTimeStream/20240301.csv");
       }, "DataTimeStream/20240301.csv", ELOOP},
      {"a file as a folder", [](auto& w, auto&) { std::ofstream(w / "Data") << "x"; }, "Data/20240301/rb2405.csv",
       ENOTDIR},
      {"up and out", [](auto&, auto&) {}, "../outside/x.csv", EINVAL},
      {"absolute", [](auto&, auto&) {}, "/tmp/x.csv", EINVAL},
  };
  for (const Case& c : cases) {
    fs::remove_all(work_);
    fs::create_directories(work_);
    c.plant(work_, outside_);
    const std::string path = c.path;
    const std::string folder = path.substr(0, path.rfind('/'));
    int error = 0;
    EXPECT_EQ(OpenRegularFileBelow(work_.string(), path, O_WRONLY | O_CREAT | O_APPEND, 0644, &error), -1) << c.name;
    EXPECT_EQ(error, c.error) << c.name;
    const int root = OpenWorkingFolder(work_.string(), &error);
    ASSERT_GE(root, 0);
    // The folders on the way, made where missing: refused alike, unless only the file is a link.
    error = 0;
    const int opened = OpenFolderBelow(root, folder, true, &error);
    if (folder == "DataTimeStream") {
      EXPECT_GE(opened, 0) << c.name;
      ::close(opened);
    } else {
      EXPECT_EQ(opened, -1) << c.name;
      EXPECT_EQ(error, c.error) << c.name;
    }
    CloseWorkingFolder(root);
    const std::vector<std::string> outside = Outside();
    EXPECT_TRUE(outside.empty()) << c.name << ": " << outside[0];
  }
}

TEST_F(OpenRegularFileTest, MissingFoldersAreMadeOnTheWayAndTheWorkingFolderMayBeALink) {
  const fs::path linked = base_ / "linked-work";
  fs::create_directory_symlink(work_, linked);
  int error = 0;
  const int root = OpenWorkingFolder(linked.string(), &error);
  ASSERT_GE(root, 0) << error;
  const int folder = OpenFolderBelow(root, "Data/20240301/Tick", true, &error);
  ASSERT_GE(folder, 0) << error;
  ::close(folder);
  CloseWorkingFolder(root);
  EXPECT_TRUE(fs::is_directory(work_ / "Data/20240301/Tick"));

  const int fd = OpenRegularFileBelow(linked.string(), "Data/20240301/Tick/rb2405.csv",
                                      O_WRONLY | O_CREAT | O_APPEND, 0644, &error);
  ASSERT_GE(fd, 0) << error;
  EXPECT_EQ(::write(fd, "x\n", 2), 2);
  ::close(fd);
  EXPECT_EQ(fs::file_size(work_ / "Data/20240301/Tick/rb2405.csv"), 2u);

  // Without create a missing folder is only reported.
  EXPECT_EQ(OpenRegularFileBelow(work_.string(), "Journal/20240301.qtj", O_WRONLY | O_CREAT, 0644, &error), -1);
  EXPECT_EQ(error, ENOENT);
  EXPECT_FALSE(fs::exists(work_ / "Journal"));
}

TEST_F(OpenRegularFileTest, ReadsWholeRegularFilesOnlyAndWithinTheirBound) {
  std::string ignored;
  ASSERT_TRUE(WriteRegularFile((work_ / "a.txt").c_str(), "line\n", false, &ignored)) << ignored;
  fs::create_symlink(work_ / "a.txt", work_ / "link.txt");
  ASSERT_EQ(::mkfifo((work_ / "pipe").c_str(), 0644), 0);
  struct Case {
    const char* name;
    std::size_t bound;
    const char* error;  // a part of the error; null when it reads
  } cases[] = {
      {"a.txt", 5, nullptr},
      {"a.txt", 4, "larger than 4 bytes"},
      {"link.txt", 100, "symbolic links"},
      {"pipe", 100, "not a regular file"},
      {"missing", 100, "No such file"},
  };
  for (const Case& c : cases) {
    std::string text = "old";
    std::string error;
    const bool read = ReadRegularFile((work_ / c.name).c_str(), c.bound, &text, &error);
    EXPECT_EQ(read, c.error == nullptr) << c.name << " " << c.bound;
    if (c.error == nullptr) {
      EXPECT_EQ(text, "line\n");
    } else {
      EXPECT_NE(error.find(c.error), std::string::npos) << error;
      EXPECT_EQ(error.rfind((work_ / c.name).string(), 0), 0u) << error;
    }
  }
}

}  // namespace
