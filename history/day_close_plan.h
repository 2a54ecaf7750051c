#ifndef QUOTELOOM_HISTORY_DAY_CLOSE_PLAN_H
#define QUOTELOOM_HISTORY_DAY_CLOSE_PLAN_H

#include <cstdint>
#include <string>
#include <vector>

#include "core/retention_settings.h"

// What a working folder holds of one trading day. File times are Unix seconds as the filesystem
// gives them; 0 when the file is absent.
struct StoredDay {
  std::string day;                   // yyyymmdd
  std::int64_t journalModified = 0;  // Journal/<day>.qtj
  std::uint64_t journalSize = 0;
  std::int64_t streamModified = 0;   // DataTimeStream/<day>.csv, appended with every tick
  std::uint64_t streamSize = 0;
  bool contractFolder = false;       // Data/<day>/
  std::int64_t packModified = 0;     // History/<day>.qth, packed and verified when present
  // When the journal or the time-stream file last changed, on the clock of DayCloseMoment::now
  // (ChangeWatch sets it).
  std::int64_t lastChange = 0;

  bool journal() const { return journalModified != 0; }
  bool csv() const { return streamModified != 0 || contractFolder; }
  bool packed() const { return packModified != 0; }
};

// When the plan is made: the trading day the clock is in, and how long a day's files must be
// unchanged before the day counts as finished.
struct DayCloseMoment {
  std::int64_t now = 0;      // Unix seconds
  int currentDay = 0;        // yyyymmdd
  int settleSeconds = 600;
};

// What one pass of the day-close job does, each list oldest day first.
struct DayClosePlan {
  std::vector<std::string> pack;            // finished days with a journal and no pack
  // Finished days whose journal changed after they were packed: packing again could replace a
  // whole day with late ticks alone (once its journal was deleted), so they are left to the operator.
  std::vector<std::string> stale;
  std::vector<std::string> deleteJournals;  // packed days past the journals' retention
  std::vector<std::string> deleteCsv;       // packed days past the CSV files' retention
};

// A day is finished when it lies before the current trading day and neither its journal nor its
// time-stream file changed for the settle time (lastChange). A pack counts only when it is newer than its
// journal (else the day is stale). Only a finished day with such a pack may lose files: the retention keeps the files of
// the most recent `journalDays` / `csvDays` of those days, and everything when unset. Pure.
DayClosePlan PlanDayClose(const std::vector<StoredDay>& days, const DayCloseMoment& moment,
                          const RetentionSettings& retention);

// Finished in the sense above. Pure.
bool DayIsFinished(const StoredDay& day, const DayCloseMoment& moment);

#endif
