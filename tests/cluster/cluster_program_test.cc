// The command-line convention of quoteloom-publish and quoteloom-archive, as a user meets it:
// --help and --version on standard output with exit 0, every bad command line refused at start
// with exit 2 and the reason on standard error, --opt=value accepted.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "core/build_version.h"
#include "storage/journal_writer.h"
#include "tests/support/child_process.h"
#include "tests/support/tick_fixtures.h"

namespace fs = std::filesystem;

namespace {

struct ProgramResult {
  int code = -1;
  std::string out;
  std::string err;
};

std::string ReadAll(const fs::path& path) {
  std::ifstream in(path);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// Runs the program through the shell with a time limit, standard output and error kept apart.
ProgramResult RunProgram(const std::string& program, const std::string& args) {
  char pattern[] = "/tmp/quoteloom-cli-XXXXXX";
  const fs::path dir = mkdtemp(pattern);
  const std::string command = "timeout 20 " + program + " " + args + " >" + (dir / "out").string() + " 2>" +
                              (dir / "err").string() + " </dev/null";
  const int status = std::system(command.c_str());
  ProgramResult run;
  run.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  run.out = ReadAll(dir / "out");
  run.err = ReadAll(dir / "err");
  fs::remove_all(dir);
  return run;
}

const char* const kPrograms[] = {QUOTELOOM_PUBLISH, QUOTELOOM_ARCHIVE};

TEST(ClusterProgramTest, HelpAndVersionGoToStandardOutputWithExitZero) {
  for (const char* program : kPrograms) {
    ProgramResult help = RunProgram(program, "--help");
    EXPECT_EQ(help.code, 0) << program;
    EXPECT_NE(help.out.find("--servers"), std::string::npos) << program;
    EXPECT_EQ(help.err, "") << program;
    ProgramResult version = RunProgram(program, "--version");
    EXPECT_EQ(version.code, 0) << program;
    EXPECT_NE(version.out.find(QuoteloomVersion()), std::string::npos) << program << ": " << version.out;
  }
}

TEST(ClusterProgramTest, EveryBadCommandLineEndsAtStartWithExitTwoAndTheReason) {
  struct Case {
    const char* args;
    const char* reason;
  } cases[] = {
      {"--bogus", "--bogus"},
      {"--servers", "--servers"},  // no value
      {"--servers notaurl", "notaurl"},
      {"--servers nats://127.0.0.1", "nats://127.0.0.1"},
      {"--duplicate-window 1e300", "--duplicate-window"},
      {"--duplicate-window=-5", "--duplicate-window"},
      {"--retention-hours=1e300", "--retention-hours"},
      {"--replicas=9", "--replicas"},
      {"--servers=nats://127.0.0.1:1 --stream=A.B", "--stream"},
  };
  for (const char* program : kPrograms) {
    for (const Case& c : cases) {
      const ProgramResult run = RunProgram(program, c.args);
      EXPECT_EQ(run.code, 2) << program << " " << c.args << ": " << run.err;
      EXPECT_NE(run.err.find(c.reason), std::string::npos) << program << " " << c.args << ": " << run.err;
      EXPECT_EQ(run.out, "") << program << " " << c.args;
    }
  }
  for (const char* args : {"--journal-days=-1", "--csv-days x", "--journal-days=100001"}) {
    const ProgramResult run = RunProgram(QUOTELOOM_ARCHIVE, args);
    EXPECT_EQ(run.code, 2) << args << ": " << run.err;
    EXPECT_NE(run.err.find(std::string(args).substr(0, std::string(args).find_first_of(" ="))), std::string::npos)
        << args << ": " << run.err;
  }
  for (const char* args : {"--workdir=/nonexistent/quoteloom", "--from-day 20241340", "--from-day=2024030", "--max-pending=0", "--exit-when-idle=1e300"}) {
    const ProgramResult run = RunProgram(QUOTELOOM_PUBLISH, args);
    EXPECT_EQ(run.code, 2) << args << ": " << run.err;
    EXPECT_NE(run.err.find(std::string(args).substr(0, std::string(args).find_first_of(" ="))), std::string::npos)
        << args << ": " << run.err;
  }
  for (const char* args : {"--bucket=a.b", "--bucket=", "--bucket-days=-1", "--history-seconds=0"}) {
    const ProgramResult run = RunProgram(QUOTELOOM_ARCHIVE, args);
    EXPECT_EQ(run.code, 2) << args << ": " << run.err;
    EXPECT_NE(run.err.find(std::string(args).substr(0, std::string(args).find('='))), std::string::npos)
        << args << ": " << run.err;
  }
}

// The archive writes into its folder: a file in its place, or a folder it cannot write into, ends it at
// start with the folder named, instead of failing and redelivering every message for ever.
TEST(ClusterProgramTest, TheArchiveRefusesAFolderItCannotWriteInto) {
  char pattern[] = "/tmp/quoteloom-archive-folder-XXXXXX";
  const fs::path dir = mkdtemp(pattern);
  std::ofstream(dir / "file") << "x";
  fs::create_directory(dir / "readonly");
  fs::permissions(dir / "readonly", fs::perms::owner_read | fs::perms::owner_exec);
  std::vector<std::string> folders = {(dir / "file").string(), (dir / "file" / "below").string()};
  if (::geteuid() != 0) folders.push_back((dir / "readonly").string());  // root may write anyway
  for (const std::string& folder : folders) {
    const ProgramResult run = RunProgram(QUOTELOOM_ARCHIVE, "--servers nats://127.0.0.1:1 --workdir=" + folder);
    EXPECT_EQ(run.code, 1) << folder << ": " << run.err;
    EXPECT_NE(run.err.find(folder), std::string::npos) << run.err;
  }
  fs::permissions(dir / "readonly", fs::perms::owner_all);
  fs::remove_all(dir);
}

// The archive packs the finished days of its folder and applies its retention once the folder is
// its own, whether or not the cluster answers.
TEST(ClusterProgramTest, TheArchivePacksItsFinishedDaysUnderItsRetention) {
  char pattern[] = "/tmp/quoteloom-archive-days-XXXXXX";
  const fs::path dir = mkdtemp(pattern);
  {
    JournalWriter journal(JournalSync::kNone, dir.string());
    for (int i = 0; i < 4; ++i) ASSERT_TRUE(journal.Append("20240308", ExampleRb2405Record(), 1709888400000000000LL + i, {}));
  }
  fs::last_write_time(dir / "Journal/20240308.qtj", fs::file_time_type::clock::now() - std::chrono::hours(48));
  {
    ChildProcess archive({QUOTELOOM_ARCHIVE, "--servers", "nats://127.0.0.1:1", "--metrics", "off", "--workdir",
                          dir.string(), "--journal-days", "0"},
                         (dir / "archive.out").string());
    ASSERT_TRUE(archive.started());
    const bool done = WaitUntil([&] { return archive.Output().find("retention") != std::string::npos; },
                                std::chrono::seconds(30));
    const std::string out = archive.Output();
    EXPECT_TRUE(done) << out;
    EXPECT_NE(out.find("quoteloom-archive: packing finished days into History/; keeping journals of no packed day, "
                       "CSV files of every day"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("quoteloom-archive: packed day 20240308: 4 records (0 damaged)"), std::string::npos) << out;
    EXPECT_NE(out.find("quoteloom-archive: deleted " + (dir / "Journal/20240308.qtj").string()), std::string::npos)
        << out;
    archive.Signal(SIGTERM);
    EXPECT_TRUE(archive.Wait(std::chrono::seconds(20)));
  }
  EXPECT_TRUE(fs::is_regular_file(dir / "History/20240308.qth"));
  EXPECT_FALSE(fs::exists(dir / "Journal/20240308.qtj"));
  fs::remove_all(dir);
}

}  // namespace
