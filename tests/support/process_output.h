#ifndef QUOTELOOM_TESTS_SUPPORT_PROCESS_OUTPUT_H
#define QUOTELOOM_TESTS_SUPPORT_PROCESS_OUTPUT_H

#include <sys/wait.h>

#include <chrono>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "tests/support/child_process.h"

// The last number printed after `label` and one space in a program's output ("ticks written 12"),
// or -1 when there is none. `label` is a regular expression.
inline long long LastNumberAfter(const std::string& output, const std::string& label) {
  const std::regex number(label + " (\\d+)");
  long long value = -1;
  for (auto it = std::sregex_iterator(output.begin(), output.end(), number); it != std::sregex_iterator(); ++it) {
    value = std::stoll((*it)[1]);
  }
  return value;
}

// How often `text` occurs in `output`.
inline int CountOf(const std::string& output, const std::string& text) {
  int n = 0;
  for (std::size_t at = output.find(text); at != std::string::npos; at = output.find(text, at + 1)) ++n;
  return n;
}

// How a program run to its end went: whether it ended within the limit, its exit code (-1 when it
// did not end or was killed) and everything it printed.
struct ProgramRun {
  bool ended = false;
  int exitCode = -1;
  std::string output;
};

// Runs `argv` (with `extraEnv` added to the environment) with its output in `outputPath` and waits
// at most `limit` for it to end.
inline ProgramRun RunProgram(const std::vector<std::string>& argv, const std::filesystem::path& outputPath,
                             std::chrono::milliseconds limit, const std::vector<std::string>& extraEnv = {}) {
  ChildProcess program(argv, outputPath.string(), extraEnv);
  ProgramRun run;
  run.ended = program.Wait(limit);
  if (run.ended && WIFEXITED(program.status())) run.exitCode = WEXITSTATUS(program.status());
  run.output = program.Output();
  return run;
}

#endif
