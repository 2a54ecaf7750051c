#ifndef QUOTELOOM_TOOLS_DATA_PROGRESS_LINE_H
#define QUOTELOOM_TOOLS_DATA_PROGRESS_LINE_H

#include <cstdio>
#include <string>

// Progress of a run over several days on standard error: one line rewritten in place when it is a
// terminal, a plain line per day otherwise (and nothing for a single day). One thread.
class ProgressLine {
 public:
  ProgressLine(std::string task, std::size_t days, std::FILE* stream = stderr);
  ~ProgressLine();

  // Day `index` (0-based) is done; `detail` says what it held.
  void DayDone(std::size_t index, int day, const std::string& detail);
  // A message that must not be overwritten by the progress line.
  void Message(const std::string& text);
  // Takes the progress line away before other output to the same terminal.
  void ClearLine();

 private:
  std::string task_;
  std::size_t days_;
  std::FILE* stream_;
  bool terminal_;
  bool line_shown_ = false;
};

#endif
