#ifndef QUOTELOOM_PLOTMIRE_TICK_FILE_FOLLOWER_H
#define QUOTELOOM_PLOTMIRE_TICK_FILE_FOLLOWER_H

#include <QString>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "plotmire/chart_tick.h"
#include "sessions/tick_classifier.h"

// Reads a tick file that another process keeps appending to: each Poll() reads at most a bounded
// step of the bytes added since the last one (a big file takes several polls) and keeps an
// unfinished last line for the next. What it holds is bounded too: a line longer than any tick
// line is skipped, and once it has taken its limit of ticks it reads no further until the file
// shrinks or is replaced. Only a regular file is read; a named pipe or device under the name is refused
// without waiting. Used on one thread.
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

  struct Limits {
    // Far above a busy contract's day (a few hundred thousand ticks); about 330 MB in the window.
    int64_t max_ticks = 1'000'000;
    // Bytes one Poll() reads at most, so that a big file does not hold up the window.
    int64_t bytes_per_poll = 4 << 20;
  };

  // No tick line comes near this; a longer line is counted as malformed rather than buffered.
  static constexpr size_t kMaxLineLength = 64 << 10;

  explicit TickFileFollower(QString path) : TickFileFollower(std::move(path), Limits()) {}
  TickFileFollower(QString path, Limits limits);

  PollResult Poll();
  // The same, adding the new ticks to the end of *ticks (a big file's steps gather in one vector).
  Status Poll(std::vector<ChartTick>* ticks);

  const QString& path() const { return path_; }
  const Limits& limits() const { return limits_; }
  // Bytes read so far, and bytes the file held beyond them at the last poll.
  int64_t size() const { return offset_; }
  int64_t unread() const { return full_ ? 0 : file_size_ - offset_; }
  // Whether a tick line beyond max_ticks was found: the rest of the file is not read until the
  // file shrinks or is replaced.
  bool full() const { return full_; }
  int64_t ticks_taken() const { return ticks_taken_; }
  // Bytes of an unfinished line held for the next poll; never more than kMaxLineLength.
  size_t held_line_bytes() const { return partial_.size(); }
  int64_t lines() const { return lines_; }
  int64_t malformed_lines() const { return malformed_; }
  // Stale snapshots and test data read and left out: the chart draws session ticks only.
  int64_t not_market_lines() const { return not_market_; }
  // 1-based line number and reason of the first malformed line; 0 when there is none.
  int64_t first_malformed_line() const { return first_malformed_line_; }
  const std::string& first_malformed_reason() const { return first_malformed_reason_; }
  QString error_text() const { return error_text_; }

 private:
  Status Read(int fd, std::vector<ChartTick>* out);
  Status Refuse(const QString& reason);
  void Forget();
  void Reset();
  int64_t TakeLines(const char* data, int64_t size, std::vector<ChartTick>* out);
  void TakeLine(std::string_view line, std::vector<ChartTick>* out, const char* known_fault = nullptr);

  bool IsMarket(const ChartTick& tick, std::string_view line);

  const QString path_;
  const Limits limits_;
  const int trading_day_;                      // from the day folder of the path; 0 when it has none
  std::optional<TickClassifier> classifier_;   // made for the contract of the first tick
  int64_t not_market_ = 0;
  // The file read so far, by device and inode: a replacement under the same name is noticed.
  bool known_ = false;
  uint64_t device_ = 0;
  uint64_t inode_ = 0;
  int64_t offset_ = 0;
  int64_t file_size_ = 0;
  std::vector<char> block_;
  std::string partial_;
  bool partial_overlong_ = false;
  bool full_ = false;
  int64_t ticks_taken_ = 0;
  int64_t lines_ = 0;
  int64_t malformed_ = 0;
  int64_t first_malformed_line_ = 0;
  std::string first_malformed_reason_;
  QString error_text_;
};

#endif
