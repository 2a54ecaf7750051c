// The load bench started with its output on a pipe: when the reader goes away, or the bench is
// interrupted, its simulator and collector end with it instead of running on for minutes.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#ifdef COLLECTOR_LOAD_BENCH

extern char** environ;

namespace fs = std::filesystem;
using Steady = std::chrono::steady_clock;

namespace {

// The processes this test process adopted or started and that have not been waited for.
std::vector<pid_t> Children() {
  std::vector<pid_t> pids;
  for (const auto& task : fs::directory_iterator("/proc/self/task")) {
    std::ifstream in(task.path() / "children");
    for (pid_t pid; in >> pid;) pids.push_back(pid);
  }
  return pids;
}

// Reaps whatever ended; true once no child is left within `limit`.
bool AllChildrenGone(std::chrono::seconds limit) {
  const auto deadline = Steady::now() + limit;
  for (;;) {
    while (::waitpid(-1, nullptr, WNOHANG) > 0) {
    }
    if (Children().empty()) return true;
    if (Steady::now() > deadline) return false;
    ::usleep(100 * 1000);
  }
}

// Reads the bench's output until its load table starts (the simulator and quoteloomd run then).
bool WaitForLoad(int fd, std::chrono::seconds limit, std::string* seen) {
  const auto deadline = Steady::now() + limit;
  while (seen->find("t [s]") == std::string::npos) {
    if (Steady::now() > deadline) return false;
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 200) <= 0) continue;
    char buffer[4096];
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n <= 0) return false;
    seen->append(buffer, static_cast<std::size_t>(n));
  }
  return true;
}

TEST(LoadBenchTest, ItsChildrenEndWhenTheOutputPipeClosesOrItIsInterrupted) {
  // Orphans of the bench come to this process, where they can be counted and, at worst, killed.
  ASSERT_EQ(::prctl(PR_SET_CHILD_SUBREAPER, 1), 0);
  ASSERT_TRUE(AllChildrenGone(std::chrono::seconds(5)));
  const fs::path dir = fs::temp_directory_path() / ("quoteloom-bench-children-" + std::to_string(::getpid()));
  struct Case {
    const char* what;
    int signal;  // sent to the bench; 0: the reader closes the pipe instead
    int ends;    // the signal the bench then dies of
  };
  for (const Case& c : {Case{"pipe closed", 0, SIGPIPE}, Case{"interrupted", SIGINT, SIGINT}}) {
    SCOPED_TRACE(c.what);
    fs::create_directories(dir);
    int pipeFds[2];
    ASSERT_EQ(::pipe2(pipeFds, O_CLOEXEC), 0);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
    posix_spawn_file_actions_addopen(&actions, 2, (dir / "err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::vector<std::string> env = {"TMPDIR=" + dir.string()};
    for (char** e = environ; *e != nullptr; ++e) {
      if (std::string(*e).rfind("TMPDIR=", 0) != 0) env.emplace_back(*e);
    }
    std::vector<char*> envp;
    for (std::string& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    std::vector<std::string> args = {COLLECTOR_LOAD_BENCH, "--rate", "300", "--seconds", "60", "--market-seconds",
                                     "0", "--metrics", "off"};
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t bench = -1;
    ASSERT_EQ(posix_spawn(&bench, argv[0], &actions, nullptr, argv.data(), envp.data()), 0);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipeFds[1]);

    std::string seen;
    const bool loading = WaitForLoad(pipeFds[0], std::chrono::seconds(90), &seen);
    EXPECT_TRUE(loading) << seen;
    if (c.signal != 0) ::kill(bench, c.signal);
    ::close(pipeFds[0]);
    int status = 0;
    const auto deadline = Steady::now() + std::chrono::seconds(30);
    while (::waitpid(bench, &status, WNOHANG) == 0 && Steady::now() < deadline) ::usleep(100 * 1000);
    if (loading) {
      EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == c.ends) << "status " << status;
    }
    EXPECT_TRUE(AllChildrenGone(std::chrono::seconds(15))) << Children().size() << " processes left running";
    for (const pid_t pid : Children()) ::kill(pid, SIGKILL);
    AllChildrenGone(std::chrono::seconds(10));
    fs::remove_all(dir);
  }
}

}  // namespace

#endif
