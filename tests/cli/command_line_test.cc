// Every program's command line as a new user meets it: --help and --version on standard output with
// exit 0 and no side effect, a bad command line ends with exit 2 and the reason on standard error in
// the two-line form, --opt=value works.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "core/build_version.h"
#include "tests/support/child_process.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

enum class Stream { kOut, kErr };

struct Row {
  const char* program;
  std::vector<std::string> args;
  int exitCode;
  Stream says;       // the stream that carries `text`; the other one stays empty
  std::string text;
};

const std::string kMissing = "/nonexistent-quoteloom-folder";
const std::string kVersion = QuoteloomVersion();

// Rows that end with exit 1 and "cannot use the working directory" got past the command line.
const std::string kPastTheCommandLine = "cannot use the working directory '" + kMissing + "'";

std::vector<Row> Rows() {
  const char* d = QUOTELOOMD;
  const char* r = QUOTELOOM_REPLAY_CLIENT;
  const char* q = QUOTELOOM_DATA;
  const char* f = QUOTELOOM_FRONTSIM;
  const char* p = QUOTELOOM_PUBLISH;
  const char* a = QUOTELOOM_ARCHIVE;
  const std::string w = "--workdir=" + kMissing;
  return {
      // The convention, program by program.
      {d, {"--help"}, 0, Stream::kOut, "--metrics"},
      {d, {"--version"}, 0, Stream::kOut, "quoteloomd " + kVersion + " (CTP market-data API "},
      {d, {"--bogus"}, 2, Stream::kErr, "--bogus"},
      {d, {"--replay-port"}, 2, Stream::kErr, "--replay-port"},
      {d, {"--replay-port=70000"}, 2, Stream::kErr, "a port from 0 to 65535, not '70000'"},
      {d, {w}, 1, Stream::kErr, kPastTheCommandLine},
      {r, {"--help"}, 0, Stream::kOut, "LASTDAY"},
      {r, {"--version"}, 0, Stream::kOut, "quoteloom-replay " + kVersion},
      {r, {"--bogus"}, 2, Stream::kErr, "--bogus"},
      {r, {"127.0.0.1", "rb2405", "20240301", "20240301", "--count"}, 2, Stream::kErr, "--count"},
      {r, {"--count=0", "127.0.0.1", "rb2405", "20240301", "20240301"}, 2, Stream::kErr, "not '0'"},
      {r, {"127.0.0.1", "rb2405"}, 2, Stream::kErr, "expected ADDRESS CONTRACT FIRSTDAY LASTDAY"},
      {q, {"--help"}, 0, Stream::kOut, "audit"},
      {q, {"--version"}, 0, Stream::kOut, "quoteloom-data " + kVersion},
      {q, {"--bogus"}, 2, Stream::kErr, "--bogus"},
      {q, {"--workdir"}, 2, Stream::kErr, "--workdir"},
      {q, {w, "audit", "20240301"}, 2, Stream::kErr, kMissing},
      {q, {}, 2, Stream::kErr, "subcommand"},
      {f, {"--help"}, 0, Stream::kOut, "--market-hours"},
      {f, {"--version"}, 0, Stream::kOut, "quoteloom-frontsim " + kVersion},
      {f, {"--bogus"}, 2, Stream::kErr, "unknown option --bogus"},
      {f, {"--total-rate"}, 2, Stream::kErr, "--total-rate"},
      {f, {"--total-rate=abc"}, 2, Stream::kErr, "bad value for --total-rate: abc"},
      {p, {"--help"}, 0, Stream::kOut, "--servers"},
      {p, {"--version"}, 0, Stream::kOut, "quoteloom-publish " + kVersion},
      {p, {"--bogus"}, 2, Stream::kErr, "--bogus"},
      {p, {"--workdir"}, 2, Stream::kErr, "--workdir"},
      {a, {"--help"}, 0, Stream::kOut, "--durable"},
      {a, {"--version"}, 0, Stream::kOut, "quoteloom-archive " + kVersion},
      {a, {"--bogus"}, 2, Stream::kErr, "--bogus"},
      {a, {"--days-in-memory=2"}, 2, Stream::kErr, "--days-in-memory"},
      // The cluster programs' settings are bounded before anything starts.
      {p, {"--workdir=/tmp", "--servers=notaurl"}, 2, Stream::kErr, "\"notaurl\" is not nats://HOST:PORT"},
      {p, {"--workdir=/tmp", "--servers", "nats://127.0.0.1"}, 2, Stream::kErr, "is not nats://HOST:PORT"},
      {p, {"--workdir=/tmp", "--duplicate-window", "1e300"}, 2, Stream::kErr, "--duplicate-window"},
      {p, {"--workdir=/tmp", "--from-day=20241340"}, 2, Stream::kErr, "\"20241340\" is not a date"},
      // quoteloomd's values.
      {d, {"--replay", "maybe"}, 2, Stream::kErr, "takes on or off, not 'maybe'"},
      {d, {"--replay=on", w}, 1, Stream::kErr, kPastTheCommandLine},
      {d, {"--replay-bind", "localhost"}, 2, Stream::kErr, "an IPv4 address such as 127.0.0.1, not 'localhost'"},
      {d, {"--replay-max-connections", "10001"}, 2, Stream::kErr, "a number of connections from 0 to 10000"},
      {d, {"--replay-max-per-address", "x"}, 2, Stream::kErr, "a number of connections from 0 to 10000"},
      {d, {"--replay-idle-seconds", "-1"}, 2, Stream::kErr, "a number of seconds from 0 to 86400"},
      {d, {"--status-seconds", "0"}, 2, Stream::kErr, "a number of seconds from 1 to 86400"},
      {d, {"--workdir="}, 2, Stream::kErr, "--workdir"},
      {d, {"--metrics=off", w}, 1, Stream::kErr, kPastTheCommandLine},
      {d, {"--metrics", "0.0.0.0:9470", w}, 1, Stream::kErr, kPastTheCommandLine},
      {d, {"--metrics=127.0.0.1:65535", w}, 1, Stream::kErr, kPastTheCommandLine},
      {d, {"--metrics=[::1]:65535"}, 2, Stream::kErr, "an IPv4 address such as 127.0.0.1:9470, or off, not '[::1]:65535'"},
      {d, {"--metrics=127.0.0.1"}, 2, Stream::kErr, "not '127.0.0.1'"},
      {d, {"--metrics=:9470"}, 2, Stream::kErr, "not ':9470'"},
      {d, {"--metrics=localhost:0"}, 2, Stream::kErr, "not 'localhost:0'"},
      {d, {"--metrics=localhost:65536"}, 2, Stream::kErr, "not 'localhost:65536'"},
      {d, {"--metrics=127.0.0.1:65536"}, 2, Stream::kErr, "a port from 0 to 65535, not '65536'"},
      {d, {"--metrics=localhost:94x"}, 2, Stream::kErr, "not 'localhost:94x'"},
      {d, {"--quiet-ticks=false", w}, 1, Stream::kErr, kPastTheCommandLine},
      {d, {"--no-quiet-ticks", w}, 1, Stream::kErr, kPastTheCommandLine},
      {d, {"--quiet-ticks=maybe"}, 2, Stream::kErr, "--quiet-ticks"},
      // Numbers the simulator cannot honour are refused before it starts.
      {f, {"--total-rate", "1e300"}, 2, Stream::kErr, "bad value for --total-rate: 1e300"},
      {f, {"--contract-rate=1001"}, 2, Stream::kErr, "bad value for --contract-rate"},
      {f, {"--duration=1e300"}, 2, Stream::kErr, "bad value for --duration"},
      {f, {"--replay-speed=inf"}, 2, Stream::kErr, "bad value for --replay-speed"},
      {f, {"--replay-delay=90000"}, 2, Stream::kErr, "bad value for --replay-delay"},
      {f, {"--hang-after-seconds=1e20"}, 2, Stream::kErr, "bad value for --hang-after-seconds"},
      {f, {"--trading-day=21000229"}, 2, Stream::kErr, "bad value for --trading-day"},
      // The replay client asks only for calendar days in order and for codes the collector stores.
      {r, {"127.0.0.1", "rb2405", "20241340", "20241340"}, 2, Stream::kErr, "FIRSTDAY: takes a day as yyyymmdd, not '20241340'"},
      {r, {"127.0.0.1", "rb2405", "20240301", "20230229"}, 2, Stream::kErr, "LASTDAY: takes a day"},
      {r, {"127.0.0.1", "rb2405", "20240305", "20240301"}, 2, Stream::kErr, "FIRSTDAY 20240305 is after LASTDAY 20240301"},
      {r, {"127.0.0.1", "rb,2405", "20240301", "20240301"}, 2, Stream::kErr, "CONTRACT: takes a contract code"},
      {r, {"127.0.0.1", "rb2405\r\n", "20240301", "20240301"}, 2, Stream::kErr, "CONTRACT: takes a contract code"},
      {r, {"127.0.0.1", "rb\x01" "2405", "20240301", "20240301"}, 2, Stream::kErr, "CONTRACT: takes a contract code"},
      // The publisher's name travels as a header: bounded and printable, never rewritten.
      {p, {"--collector-name", std::string(65, 'n')}, 2, Stream::kErr, "--collector-name: takes 1 to 64"},
      {p, {"--collector-name", "node\r\n1"}, 2, Stream::kErr, "--collector-name: takes 1 to 64"},
      {p, {"--collector-name="}, 2, Stream::kErr, "--collector-name"},
      {p, {"--collector-name", std::string(64, 'n'), w}, 2, Stream::kErr, "--workdir: " + kMissing},
      // An export of no contract at all is refused, not run.
      {q, {"--workdir=/tmp", "export", "20240301", "--contracts", ",,,"}, 2, Stream::kErr, "--contracts"},
      {q, {"--workdir=/tmp", "export", "20240301", "--contracts=rb/2405"}, 2, Stream::kErr, "'rb/2405' is not a contract code"},
  };
}

TEST(CommandLineTest, EveryProgramKeepsTheConvention) {
  const fs::path dir = fs::temp_directory_path() / ("quoteloom-cli-" + std::to_string(::getpid()));
  fs::create_directories(dir);
  for (const Row& row : Rows()) {
    std::vector<std::string> argv = {row.program};
    argv.insert(argv.end(), row.args.begin(), row.args.end());
    std::string shown = fs::path(row.program).filename().string();
    for (const auto& a : row.args) shown += " " + a;

    ChildProcess program(argv, (dir / "out").string(), {}, (dir / "err").string());
    ASSERT_TRUE(program.Wait(10s)) << shown;
    ASSERT_TRUE(WIFEXITED(program.status())) << shown;
    EXPECT_EQ(WEXITSTATUS(program.status()), row.exitCode) << shown;
    const std::string out = ReadText(dir / "out");
    const std::string err = ReadText(dir / "err");
    const std::string& said = row.says == Stream::kOut ? out : err;
    const std::string& quiet = row.says == Stream::kOut ? err : out;
    EXPECT_NE(said.find(row.text), std::string::npos) << shown << "\nstdout: " << out << "\nstderr: " << err;
    EXPECT_TRUE(quiet.empty()) << shown << "\nstdout: " << out << "\nstderr: " << err;
    if (row.exitCode == 2) {
      const std::string name = fs::path(row.program).filename().string();
      EXPECT_EQ(err.rfind(name + ": ", 0), 0u) << shown << "\nstderr: " << err;
      const std::string tryLine = "\nTry '" + name + " --help'\n";
      EXPECT_TRUE(err.size() > tryLine.size() && err.ends_with(tryLine)) << shown << "\nstderr: " << err;
    }
  }
  fs::remove_all(dir);
}

// Every program, the desktop and the chart program included, without a display and in an empty
// home and folder: --help and --version answer on standard output with exit 0 and leave the folder
// empty (no window, no Journal/, no Plotmire.exe, no autostart entry); an unknown option gives the
// two lines on standard error and exit 2.
TEST(CommandLineTest, EveryProgramAnswersHelpAndVersionWithoutSideEffects) {
  std::vector<std::string> programs = {QUOTELOOMD, QUOTELOOM_REPLAY_CLIENT, QUOTELOOM_DATA, QUOTELOOM_FRONTSIM,
                                       QUOTELOOM_PUBLISH, QUOTELOOM_ARCHIVE};
#ifdef QUOTELOOM_DESKTOP
  programs.push_back(QUOTELOOM_DESKTOP);
  programs.push_back(PLOTMIRE);
#endif
#ifdef COLLECTOR_LOAD_BENCH
  programs.push_back(COLLECTOR_LOAD_BENCH);
#endif
  const fs::path dir = fs::temp_directory_path() / ("quoteloom-cli-quiet-" + std::to_string(::getpid()));
  const fs::path home = dir / "home";
  for (const std::string& program : programs) {
    const std::string name = fs::path(program).filename().string();
    const std::regex versionLine(name + " " + std::regex_replace(kVersion, std::regex("\\."), "\\.") +
                                 "( \\([^\n]*\\))?\n");
    struct Case {
      std::string arg;
      int exitCode;
    };
    for (const Case& c : {Case{"--help", 0}, Case{"--version", 0}, Case{"--bogus", 2}}) {
      fs::remove_all(dir);
      fs::create_directories(home);
      const std::vector<std::string> argv = {
          "/usr/bin/env", "-i", "-C", home.string(), "PATH=/usr/bin:/bin", "HOME=" + home.string(),
          "XDG_CONFIG_HOME=" + (home / "config").string(), "XDG_RUNTIME_DIR=" + (home / "run").string(), program,
          c.arg};
      ChildProcess child(argv, (dir / "out").string(), {}, (dir / "err").string());
      ASSERT_TRUE(child.Wait(20s)) << name << " " << c.arg;
      const std::string out = ReadText(dir / "out");
      const std::string err = ReadText(dir / "err");
      const std::string shown = name + " " + c.arg + "\nstdout: " + out + "\nstderr: " + err;
      ASSERT_TRUE(WIFEXITED(child.status())) << shown;
      EXPECT_EQ(WEXITSTATUS(child.status()), c.exitCode) << shown;
      if (c.arg == "--help") {
        EXPECT_NE(out.find("Usage: " + name), std::string::npos) << shown;
        EXPECT_NE(out.find("--version"), std::string::npos) << shown;
        EXPECT_NE(out.find("Exit status: 0 "), std::string::npos) << shown;
        EXPECT_NE(out.find(", 2 bad command line"), std::string::npos) << shown;
      } else if (c.arg == "--version") {
        EXPECT_TRUE(std::regex_match(out, versionLine)) << shown;
      } else {
        EXPECT_EQ(err, name + ": unknown option --bogus\nTry '" + name + " --help'\n") << shown;
      }
      EXPECT_EQ(c.exitCode == 0 ? err : out, "") << shown;
      std::vector<std::string> left;
      for (const auto& entry : fs::recursive_directory_iterator(home)) left.push_back(entry.path().string());
      EXPECT_TRUE(left.empty()) << shown << "\nleft behind: " << (left.empty() ? "" : left.front());
    }
  }
  fs::remove_all(dir);
}

}  // namespace
