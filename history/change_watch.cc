#include "history/change_watch.h"

#include <algorithm>

void ChangeWatch::Stamp(std::vector<StoredDay>* days, std::int64_t now) {
  std::map<std::string, Seen> next;
  for (StoredDay& day : *days) {
    const auto it = seen_.find(day.day);
    if (it == seen_.end()) {
      day.lastChange = std::min(std::max(day.journalModified, day.streamModified), now);
    } else {
      day.lastChange = it->second == day ? it->second.lastChange : now;
    }
    next[day.day] = Seen{day.journalModified, day.streamModified, day.journalSize, day.streamSize, day.lastChange};
  }
  seen_ = std::move(next);  // days no longer present are forgotten
}
