#ifndef QUOTELOOM_HISTORY_DAY_CLOSE_JOB_H
#define QUOTELOOM_HISTORY_DAY_CLOSE_JOB_H

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <set>
#include <string>

#include "core/retention_settings.h"
#include "history/change_watch.h"
#include "history/day_close_plan.h"
#include "storage/day_packer.h"

class HistoryStatus;

// One pass of the day-close work over a working folder: packs each finished day (the packer
// verifies before the pack takes its name), then, from a fresh look at the folder, deletes the
// journals and CSV files the retention lets go, logging each pack and deletion. Used by one
// thread at a time (the day-close thread, or a command).
class DayCloseJob {
 public:
  // PackJournalDay, or a stand-in for it.
  using PackDay = std::function<bool(const std::filesystem::path& workdir, const std::string& day, PackReport* report,
                                     std::string* error, const std::function<bool()>& stop)>;
  using Log = std::function<void(const std::string&)>;

  struct Result {
    int packed = 0;
    int packFailures = 0;
    int journalsDeleted = 0;
    int csvDeleted = 0;
    int deleteFailures = 0;
  };

  // `status` may be null.
  DayCloseJob(std::filesystem::path workdir, RetentionSettings retention, PackDay pack, Log log,
              HistoryStatus* status);

  // A day whose pack failed is tried again after this long (on the moment's clock), not every pass.
  static constexpr std::int64_t kRetrySeconds = 3600;

  // `stop` (may be null) is asked between days, so a pass ends at the next day once it says true.
  Result RunOnce(const DayCloseMoment& moment, const std::function<bool()>& stop = nullptr);

 private:
  void Pack(const std::string& day, std::int64_t now, const std::function<bool()>& stop, Result* result);
  // False when History/<day>.qth is not a regular file any more, so the day keeps its files.
  bool StillPacked(const std::string& day, std::string* kept) const;
  void DeleteJournal(const std::string& day, Result* result);
  void DeleteCsv(const std::string& day, Result* result);
  // Whether the pack holds as many ticks of each contract as the day's per-contract files hold
  // lines, and as many records as its time-stream file holds lines: a tick that reached the CSV
  // files but not the journal (a journal failure) lives only there. `why` says what is missing.
  bool PackHoldsCsvTicks(const std::string& day, std::string* why) const;
  void Rescan();

  const std::filesystem::path workdir_;
  const RetentionSettings retention_;
  const PackDay pack_;
  const Log log_;
  HistoryStatus* const status_;
  ChangeWatch changes_;
  std::map<std::string, std::int64_t> failedAt_;  // day -> when its last pack failed
  std::set<std::string> warnedCsv_;               // days whose CSV files were kept, said once
  std::set<std::string> staleSaid_;               // stale days already logged
};

// "1.5 GB", "41.0 MB", "812 B": a size for a log line. Pure.
std::string SizeText(std::uint64_t bytes);

#endif
