#ifndef QUOTELOOM_CLUSTER_TIME_STREAM_FOLLOWER_H
#define QUOTELOOM_CLUSTER_TIME_STREAM_FOLLOWER_H

#include <chrono>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "cluster/stored_tick_line.h"

#include <cstddef>

// Where a follower stands in the time-stream files: the day's file, the byte after the last line
// handled, and the identity of the file (so a file replaced under it is noticed). Value type.
struct FollowPosition {
  std::string day;  // yyyymmdd; empty: not started
  std::uint64_t offset = 0;
  std::uint64_t device = 0;  // 0: not yet seen
  std::uint64_t inode = 0;
  // The last bytes before `offset` (up to kTailSize), so a file rewritten in place is noticed too.
  std::string tail;
  static constexpr std::size_t kTailSize = 256;
  // Inside a line longer than any tick line: what follows up to its end is skipped, also after a restart.
  bool insideLongLine = false;
  bool operator==(const FollowPosition&) const = default;
};

// Reads the whole lines that the collector appends to DataTimeStream/<day>.csv of one working
// folder, moving on to the next day's file once the collector has, and never handing out a partial
// line. A file replaced or shortened under it is read again from its start (the ids make that
// safe downstream). The publisher thread only.
class TimeStreamFollower {
 public:
  struct Batch {
    FollowPosition start;
    FollowPosition end;  // after the lines and any malformed bytes skipped with them
    std::string bytes;   // the lines point into it; do not move the batch
    std::vector<StoredTickLine> lines;
  };
  struct Counters {
    std::uint64_t malformedLines = 0;  // skipped, never handed out
    std::uint64_t filesReplaced = 0;
    std::uint64_t filesTruncated = 0;
    std::uint64_t daysFinished = 0;
    std::uint64_t filesRefused = 0;    // not a regular file (a pipe, a device, a link): never read
    std::uint64_t daysResumed = 0;     // returns to an earlier day that grew after it was left
  };

  explicit TimeStreamFollower(std::string workdir);

  // Starts at `from`; with an empty day, at `firstDay` or the first stored day after it (an empty
  // `firstDay`: the newest stored day), from its beginning.
  void Start(const FollowPosition& from, const std::string& firstDay);
  // Goes back to `position` (lines read after it were not acknowledged).
  void Rewind(const FollowPosition& position);

  // Reads at most about `maxBytes` of new lines. True when the read position moved (the batch may
  // then hold no line: malformed bytes skipped or a change of day); false when nothing is new.
  bool Next(std::size_t maxBytes, Batch* out);

  const FollowPosition& position() const { return position_; }
  // Bytes appended to earlier days after they were left, not yet read (they are read next).
  std::uint64_t FinishedDaysBacklog() const;
  const Counters& counters() const { return counters_; }
  // The last malformed line's fault, for the log.
  const std::string& lastFault() const { return lastFault_; }

 private:
  // True when the file still holds the remembered bytes just before the read position.
  bool TailMatches(int fd) const;
  std::string DayPath(const std::string& day) const;
  std::vector<std::string> StoredDays();
  std::string DayAfter(const std::string& day);
  // Keeps where a day was left; the oldest beyond kMaxFinishedDays are forgotten.
  void Remember(const FollowPosition& position);
  std::uint64_t GrownBytes(const FollowPosition& position) const;
  // Goes back to the earliest left day whose file has grown since, remembering the current one.
  void ReturnToAGrownDay();
  // Hands out the whole lines of `bytes` and moves the read position over them; returns the bytes used.
  std::size_t Consume(const std::string& bytes, Batch* out);

  const std::string workdir_;
  FollowPosition position_;
  std::string firstDay_;
  static constexpr std::size_t kMaxFinishedDays = 7;
  std::map<std::string, FollowPosition> finished_;  // days left for a later one, where they were left
  std::string refusedDay_;  // the day whose file was last refused, so it is counted once  // inside a line longer than any tick line, up to its end
  Counters counters_;
  std::string lastFault_;
  std::vector<std::string> days_;
  std::chrono::steady_clock::time_point daysListedAt_{};
};

#endif
