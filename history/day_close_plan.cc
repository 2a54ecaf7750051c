#include "history/day_close_plan.h"

#include <algorithm>
#include <cstdlib>

namespace {

bool PackIsCurrent(const StoredDay& day) {
  return day.packed() && (!day.journal() || day.packModified >= day.journalModified);
}

// The days past the `keep` most recent of `packed` (newest first), oldest first.
template <typename Has>
std::vector<std::string> PastRetention(const std::vector<const StoredDay*>& packed, const std::optional<int>& keep,
                                       Has has) {
  std::vector<std::string> out;
  if (!keep.has_value()) return out;
  for (std::size_t i = static_cast<std::size_t>(*keep); i < packed.size(); ++i) {
    if (has(*packed[i])) out.push_back(packed[i]->day);
  }
  std::reverse(out.begin(), out.end());
  return out;
}

}  // namespace

bool DayIsFinished(const StoredDay& day, const DayCloseMoment& moment) {
  if (day.day.size() != 8 || std::atoi(day.day.c_str()) >= moment.currentDay) return false;
  return moment.now - day.lastChange >= moment.settleSeconds;
}

DayClosePlan PlanDayClose(const std::vector<StoredDay>& days, const DayCloseMoment& moment,
                          const RetentionSettings& retention) {
  std::vector<const StoredDay*> sorted;
  for (const StoredDay& day : days) sorted.push_back(&day);
  std::sort(sorted.begin(), sorted.end(), [](const StoredDay* a, const StoredDay* b) { return a->day > b->day; });
  DayClosePlan plan;
  std::vector<const StoredDay*> packed;  // newest first
  for (const StoredDay* day : sorted) {
    if (!DayIsFinished(*day, moment)) continue;
    if (PackIsCurrent(*day)) {
      packed.push_back(day);
    } else if (day->packed()) {
      plan.stale.insert(plan.stale.begin(), day->day);
    } else if (day->journal()) {
      plan.pack.insert(plan.pack.begin(), day->day);
    }
  }
  plan.deleteJournals = PastRetention(packed, retention.journalDays, [](const StoredDay& d) { return d.journal(); });
  plan.deleteCsv = PastRetention(packed, retention.csvDays, [](const StoredDay& d) { return d.csv(); });
  return plan;
}
