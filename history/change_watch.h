#ifndef QUOTELOOM_HISTORY_CHANGE_WATCH_H
#define QUOTELOOM_HISTORY_CHANGE_WATCH_H

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "history/day_close_plan.h"

// Remembers each day's journal and time-stream file (time and size) from one pass to the next, so
// that "unchanged for the settle time" is judged on the job's own clock even when file times come
// from another one (a clock set back or faked, a folder on another machine). One thread.
class ChangeWatch {
 public:
  // Sets each day's lastChange: at first sight the newer file time, or `now` when that lies in the
  // future; afterwards `now` whenever a file's time or size differs from the previous pass.
  void Stamp(std::vector<StoredDay>* days, std::int64_t now);

 private:
  struct Seen {
    std::int64_t journalModified, streamModified;
    std::uint64_t journalSize, streamSize;
    std::int64_t lastChange;
    bool operator==(const StoredDay& d) const {
      return journalModified == d.journalModified && streamModified == d.streamModified &&
             journalSize == d.journalSize && streamSize == d.streamSize;
    }
  };
  std::map<std::string, Seen> seen_;
};

#endif
