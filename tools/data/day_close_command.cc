#include "tools/data/day_close_command.h"

#include <CLI/CLI.hpp>

#include <cstdio>
#include <ctime>

#include "core/clock.h"
#include "core/process_lock.h"
#include "history/day_close_job.h"
#include "sessions/trading_day_rule.h"

namespace fs = std::filesystem;

namespace {

constexpr int kExitSetting = 2;
constexpr int kExitFiles = 3;

void Say(const std::string& line) {
  std::printf("quoteloom-data: %s\n", line.c_str());
  std::fflush(stdout);
}

}  // namespace

CLI::App* AddDayCloseCommand(CLI::App& app, DayCloseCommand* command) {
  CLI::App* closeDays = app.add_subcommand(
      "close-days",
      "pack each finished day of a folder no collector or archive writes into History/<day>.qth and apply the "
      "retention (for timers)");
  closeDays
      ->add_option("--journal-days", command->retention.journalDays,
                   "keep the journals of this many of the most recent packed days (default: [Retention] journal_days "
                   "of the folder's setting.ini, else every day's)")
      ->check(CLI::Range(0, kMaxRetentionDays));
  closeDays
      ->add_option("--csv-days", command->retention.csvDays,
                   "keep the CSV files of this many of the most recent packed days (default: [Retention] csv_days of "
                   "the folder's setting.ini, else every day's)")
      ->check(CLI::Range(0, kMaxRetentionDays));
  closeDays
      ->add_option("--settle-minutes", command->settleMinutes,
                   "a day before the current trading day counts as finished once its files are unchanged this long "
                   "(default 10)")
      ->check(CLI::Range(0, 7 * 24 * 60));
  return closeDays;
}

int RunDayCloseCommand(const fs::path& workdir, const DayCloseCommand& command) {
  ProcessLock folderLock;
  const std::string held = folderLock.TakeWorkFolder(workdir.string(), "quoteloom-data");
  if (!held.empty()) {
    // A collector or archive at work in the folder closes its own days: nothing is left to do here.
    Say(held + "; it packs its own days, so nothing is done here");
    return 0;
  }
  RetentionSettings retention = command.retention;
  const fs::path ini = workdir / "setting.ini";
  std::error_code ec;
  if (fs::is_regular_file(ini, ec)) {
    std::string problem;
    const RetentionSettings fromFile = ReadRetentionSettings(ini.c_str(), &problem);
    if (!problem.empty()) {
      Say(problem + " (in " + workdir.string() + ")");
      return kExitSetting;
    }
    if (!retention.journalDays) retention.journalDays = fromFile.journalDays;
    if (!retention.csvDays) retention.csvDays = fromFile.csvDays;
  }
  Say("packing the finished days of " + workdir.string() + "; keeping " + RetentionText(retention));
  DayCloseJob job(workdir, retention, PackJournalDay, Say, nullptr);
  const DayCloseMoment moment{static_cast<std::int64_t>(std::time(nullptr)), TradingDayOf(TheSystemClock().Now()),
                              command.settleMinutes * 60};
  const DayCloseJob::Result r = job.RunOnce(moment);
  Say(std::to_string(r.packed) + " days packed, " + std::to_string(r.packFailures) + " failed; journals of " +
      std::to_string(r.journalsDeleted) + " days and CSV files of " + std::to_string(r.csvDeleted) +
      " days deleted, " + std::to_string(r.deleteFailures) + " deletions failed");
  return r.packFailures + r.deleteFailures > 0 ? kExitFiles : 0;
}
