#ifndef QUOTELOOM_TESTS_SUPPORT_CHILD_PROCESS_H
#define QUOTELOOM_TESTS_SUPPORT_CHILD_PROCESS_H

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/file_text.h"

extern char** environ;

// A program started by a test, its output in a file (standard error too, unless `errorPath` names
// a file of its own). Killed when the object goes, so no test leaves a process behind. Test thread only.
class ChildProcess {
 public:
  ChildProcess(const std::vector<std::string>& argv, const std::string& outputPath,
               const std::vector<std::string>& extraEnv = {}, const std::string& errorPath = {})
      : outputPath_(outputPath) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, outputPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (errorPath.empty()) {
      posix_spawn_file_actions_adddup2(&actions, 1, 2);
    } else {
      posix_spawn_file_actions_addopen(&actions, 2, errorPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    }
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    std::vector<std::string> envStrings;
    for (char** e = environ; *e != nullptr; ++e) envStrings.emplace_back(*e);
    for (const auto& e : extraEnv) envStrings.push_back(e);
    std::vector<char*> env;
    for (auto& e : envStrings) env.push_back(e.data());
    env.push_back(nullptr);
    if (posix_spawn(&pid_, args[0], &actions, nullptr, args.data(), env.data()) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
  }
  ~ChildProcess() {
    if (pid_ > 0 && !exited_) {
      ::kill(pid_, SIGKILL);
      Wait(std::chrono::seconds(10));
    }
  }
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  bool started() const { return pid_ > 0; }
  pid_t pid() const { return pid_; }
  void Signal(int signal) {
    if (pid_ > 0 && !exited_) ::kill(pid_, signal);
  }

  // True when the process ended within `limit`; its status is then in status().
  bool Wait(std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!exited_) {
      const pid_t r = ::waitpid(pid_, &status_, WNOHANG);
      if (r == pid_) {
        exited_ = true;
        break;
      }
      if (std::chrono::steady_clock::now() > deadline) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
  }
  bool Running() {
    if (exited_) return false;
    if (::waitpid(pid_, &status_, WNOHANG) == pid_) exited_ = true;
    return !exited_;
  }
  int status() const { return status_; }

  std::string Output() const { return ReadText(outputPath_); }

 private:
  std::string outputPath_;
  pid_t pid_ = -1;
  int status_ = 0;
  bool exited_ = false;
};

// Polls `condition` every 50 ms until it holds or `limit` passes.
inline bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return true;
}

// Waits for the front simulator's first line "listening HOST:PORT" and returns HOST:PORT; empty when
// the program ends or `limit` passes first.
inline std::string WaitForListeningAddress(ChildProcess& simulator, std::chrono::milliseconds limit) {
  std::string address;
  WaitUntil(
      [&] {
        std::smatch m;
        const std::string out = simulator.Output();
        if (std::regex_search(out, m, std::regex("listening (\\S+)"))) address = m[1];
        return !address.empty() || !simulator.Running();
      },
      limit);
  return address;
}

#endif
