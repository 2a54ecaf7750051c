#ifndef QUOTELOOM_PLOTMIRE_TICK_FILE_FOLLOWER_H
#define QUOTELOOM_PLOTMIRE_TICK_FILE_FOLLOWER_H

#include <QString>

#include <cstdint>
#include <string>
#include <vector>

#include "plotmire/chart_tick.h"

// Reads a tick file that another process keeps appending to: each Poll() reads only the bytes
// added since the last one and keeps an unfinished last line for the next. Only a regular file is
// read; a named pipe or device under the name is refused without waiting. Used on one thread.
class TickFileFollower {
 public:
  enum class Status {
    kMissing,     // no such file (yet); the next read starts from the beginning
    kUnreadable,  // cannot be opened or read, or is no regular file (see error_text)
    kRead,        // read; ticks holds the new complete lines
    kRestarted,   // the file shrank or another file took its name: read again from its start
  };

  struct PollResult {
    Status status = Status::kMissing;
    std::vector<ChartTick> ticks;
  };

  explicit TickFileFollower(QString path);

  PollResult Poll();

  const QString& path() const { return path_; }
  int64_t size() const { return offset_; }
  int64_t lines() const { return lines_; }
  int64_t malformed_lines() const { return malformed_; }
  // 1-based line number and reason of the first malformed line; 0 when there is none.
  int64_t first_malformed_line() const { return first_malformed_line_; }
  const std::string& first_malformed_reason() const { return first_malformed_reason_; }
  QString error_text() const { return error_text_; }

 private:
  Status Read(int fd, std::vector<ChartTick>* out);
  Status Refuse(const QString& reason);
  void Forget();
  void Reset();
  void TakeLines(const char* data, int64_t size, std::vector<ChartTick>* out);
  void TakeLine(std::string_view line, std::vector<ChartTick>* out, const char* known_fault = nullptr);

  const QString path_;
  // The file read so far, by device and inode: a replacement under the same name is noticed.
  bool known_ = false;
  uint64_t device_ = 0;
  uint64_t inode_ = 0;
  int64_t offset_ = 0;
  std::string partial_;
  bool partial_overlong_ = false;
  int64_t lines_ = 0;
  int64_t malformed_ = 0;
  int64_t first_malformed_line_ = 0;
  std::string first_malformed_reason_;
  QString error_text_;
};

#endif
