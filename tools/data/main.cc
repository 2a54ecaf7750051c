// quoteloom-data: works on what the collector stored in its working folder: makes the replay
// service's files of it (replayable), checks it for holes and bad values (audit), builds bars,
// exports exact ticks and packs finished days (pack).
#include <fcntl.h>
#include <malloc.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "cluster/cluster_settings.h"
#include "cluster/history_fetcher.h"
#include "cluster/nats_link.h"
#include "core/clock.h"
#include "core/command_line.h"
#include "core/contract_code.h"
#include "core/open_regular_file.h"
#include "objectstore/object_layout.h"
#include "sessions/civil_date.h"
#include "sessions/market_calendar.h"
#include "sessions/tick_classifier.h"
#include "sessions/session_clock.h"
#include "sessions/trading_day_rule.h"
#include "storage/storage_paths.h"
#include "storage/day_packer.h"
#include "tools/data/day_audit.h"
#include "tools/data/day_bars.h"
#include "tools/data/day_close_command.h"
#include "tools/data/day_files.h"
#include "tools/data/progress_line.h"
#include "tools/data/replayable_day.h"
#include "tools/data/replayable_writer.h"
#include "tools/data/tick_export.h"

namespace fs = std::filesystem;

namespace {

constexpr int kExitFindings = kExitFailure;
constexpr int kExitFiles = 3;

struct DaySelection {
  std::vector<std::string> days;
  std::string from;
  std::string to;
  int last = 0;
};

void AddDayOptions(CLI::App* command, DaySelection* selection) {
  CLI::Option* days = command->add_option("DAY", selection->days, "trading days, yyyymmdd");
  CLI::Option* from =
      command->add_option("--from", selection->from, "first day of a range (days without a folder are skipped)");
  CLI::Option* to = command->add_option("--to", selection->to, "last day of the range");
  command->add_option("--last", selection->last,
                      "the N latest trading days of the calendar, ending at the latest day folder up to the current "
                      "trading day (for timers)")
      ->check(CLI::Range(1, 10000))
      ->excludes(days)
      ->excludes(from)
      ->excludes(to);
}

int CurrentTradingDay() {
  char today[kTradingDaySize];
  ComputeTradingDay(TheSystemClock().Now(), today);
  return std::atoi(today);
}

bool Days(const DaySelection& selection, const fs::path& workdir, const MarketCalendar& calendar,
          const CommandLine& commandLine, std::vector<int>* days) {
  std::string error;
  if (selection.last > 0) {
    const std::vector<int> latest = LatestDays(workdir, 1, CurrentTradingDay());
    if (latest.empty()) {
      error = "no day folder under " + (workdir / "Data").string();
    } else {
      *days = LatestTradingDays(calendar, selection.last, latest.front(), &error);
    }
  } else {
    *days = ExpandDays(selection.days, selection.from, selection.to, workdir, &error);
  }
  if (days->empty()) {
    commandLine.UsageError(error);
    return false;
  }
  return true;
}

int RunReplayable(const fs::path& workdir, const std::vector<int>& days, const ReplayableWriter::Selection& selection) {
  int status = 0;
  ProgressLine progress("replayable", days.size());
  for (std::size_t i = 0; i < days.size(); ++i) {
    const ReplayableDay r = WriteReplayableDay(workdir, days[i], 2, selection);
    if (!r.error.empty()) {
      progress.Message("quoteloom-data: " + r.error);
      status = kExitFiles;
      continue;
    }
    for (const std::string& message : r.messages) progress.Message("quoteloom-data: " + message);
    if (r.failed > 0) status = kExitFiles;
    progress.ClearLine();
    std::printf("%d: %llu written, %llu up to date, %llu failed, %llu lines, %llu stale or test left out\n", days[i],
                static_cast<unsigned long long>(r.written), static_cast<unsigned long long>(r.up_to_date),
                static_cast<unsigned long long>(r.failed), static_cast<unsigned long long>(r.lines),
                static_cast<unsigned long long>(r.not_market));
    std::fflush(stdout);
    progress.DayDone(i, days[i], std::to_string(r.written) + " written, " + std::to_string(r.up_to_date) + " up to date");
  }
  return status;
}

// Every tick outside the hours is rarely the market's doing: usually the clock is not on China time.
std::string OutsideHoursWarning(int day) {
  return "quoteloom-data: " + std::to_string(day) +
         ": every tick lies outside the trading hours; is this machine's clock on China time (TZ=Asia/Shanghai)?";
}

// How far a day can be judged now: all of it once it is over, up to now while it is collected.
std::int64_t JudgeUntil(int day) {
  const ClockReading now = TheSystemClock().Now();
  const int current = CurrentTradingDay();
  if (day < current) return -1;
  if (day > current) return 0;
  return static_cast<std::int64_t>(SessionSecond(now.hour * 3600 + now.minute * 60 + now.second)) * 1000;
}

int RunAudit(const fs::path& workdir, const std::vector<int>& days, AuditOptions options, bool json) {
  std::vector<DayAudit> audits;
  int status = 0;
  ProgressLine progress("audit", days.size());
  for (std::size_t i = 0; i < days.size(); ++i) {
    options.judge_until_ms = JudgeUntil(days[i]);
    DayAudit audit = AuditDay(workdir, days[i], options);
    if (audit.Ticks() > 0 && audit.Test() == audit.Ticks()) progress.Message(OutsideHoursWarning(days[i]));
    if (!audit.error.empty()) {
      status = kExitFiles;
    } else if (status == 0 && (audit.Holes() > 0 || audit.Invalid() > 0)) {
      status = kExitFindings;
    }
    if (!json) {
      progress.ClearLine();
      std::fputs(AuditText(audit).c_str(), stdout);
      std::fflush(stdout);
    }
    progress.DayDone(i, days[i], std::to_string(audit.lines) + " lines");
    audits.push_back(std::move(audit));
  }
  if (json) std::fputs(AuditJson(audits).c_str(), stdout);
  return status;
}

// An output folder named on the command line, made with its parents when it does not exist.
bool MakeFolder(const std::string& folder) {
  std::error_code ec;
  fs::create_directories(folder, ec);
  if (ec || !fs::is_directory(folder, ec)) {
    std::fprintf(stderr, "quoteloom-data: %s: %s\n", folder.c_str(),
                 ec ? ec.message().c_str() : "not a folder");
    return false;
  }
  return true;
}

bool WriteWhole(const fs::path& path, const std::string& text, std::string* error) {
  const fs::path temporary = path.parent_path() / ("." + path.filename().string() + ".tmp." + std::to_string(::getpid()));
  if (!WriteRegularFile(temporary.c_str(), text, false, error)) {
    ::unlink(temporary.c_str());
    return false;
  }
  if (std::rename(temporary.c_str(), path.c_str()) != 0) {
    *error = path.string() + ": cannot rename into place";
    ::unlink(temporary.c_str());
    return false;
  }
  return true;
}

int RunBars(const fs::path& workdir, const std::vector<int>& days, const std::string& periodName,
            const std::string& outDir, int tolerance) {
  const int period = *ParseBarPeriod(periodName);
  int status = 0;
  ProgressLine progress("bars", days.size());
  if (outDir.empty()) std::printf("%s\n", kBarCsvHeader);
  for (std::size_t i = 0; i < days.size(); ++i) {
    DayBars bars = BuildDayBars(workdir, days[i], period, tolerance);
    if (!bars.error.empty()) {
      progress.Message("quoteloom-data: " + bars.error);
      status = kExitFiles;
      continue;
    }
    for (const std::string& warning : bars.warnings) progress.Message("quoteloom-data: " + warning);
    if (bars.lines > 0 && bars.test == bars.lines) progress.Message(OutsideHoursWarning(days[i]));
    if (outDir.empty()) {
      progress.ClearLine();
      std::fwrite(bars.csv.data(), 1, bars.csv.size(), stdout);
      std::fflush(stdout);
    } else {
      std::string error;
      const fs::path path = fs::path(outDir) / (std::to_string(days[i]) + "-" + periodName + ".csv");
      if (!WriteWhole(path, kBarCsvHeader + std::string("\n") + bars.csv, &error)) {
        progress.Message("quoteloom-data: " + error);
        status = kExitFiles;
      }
    }
    progress.DayDone(i, days[i], std::to_string(bars.contracts) + " contracts, " + std::to_string(bars.bars) + " bars");
  }
  return status;
}

int RunExport(const fs::path& workdir, const std::vector<int>& days, TickExportOptions options) {
  options.workdir = workdir;
  int status = 0;
  ProgressLine progress("export", days.size());
  for (std::size_t i = 0; i < days.size(); ++i) {
    const TickExportResult r = ExportDay(options, days[i], [&](std::uint64_t rows) {
      progress.Message("quoteloom-data: export " + std::to_string(days[i]) + ": " + std::to_string(rows) + " rows");
    });
    if (!r.error.empty()) {
      progress.Message("quoteloom-data: " + r.error);
      status = kExitFiles;
      continue;
    }
    if (r.badRecords > 0) {
      progress.Message("quoteloom-data: " + std::to_string(days[i]) + ": " + std::to_string(r.badRecords) +
                       " damaged journal records left out");
    }
    if (r.unnamed > 0) {
      progress.Message("quoteloom-data: " + std::to_string(days[i]) + ": " + std::to_string(r.unnamed) +
                       " records of contract codes that cannot name a file left out");
      status = kExitFiles;
    }
    progress.ClearLine();
    std::printf("%d: %llu rows in %llu files, %llu stale or test left out\n", days[i],
                static_cast<unsigned long long>(r.rows), static_cast<unsigned long long>(r.files),
                static_cast<unsigned long long>(r.notMarket));
    std::fflush(stdout);
    progress.DayDone(i, days[i], std::to_string(r.rows) + " rows");
  }
  return status;
}

int RunPack(const fs::path& workdir, const std::vector<int>& days) {
  int status = 0;
  ProgressLine progress("pack", days.size());
  for (std::size_t i = 0; i < days.size(); ++i) {
    const auto start = std::chrono::steady_clock::now();
    PackReport report;
    std::string error;
    if (!PackJournalDay(workdir, std::to_string(days[i]), &report, &error)) {
      progress.Message("quoteloom-data: " + error);
      status = kExitFiles;
      continue;
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (report.damaged > 0) {
      progress.Message("quoteloom-data: " + std::to_string(days[i]) + ": " + std::to_string(report.damaged) +
                       " damaged journal records kept as they are");
    }
    progress.ClearLine();
    const double ticks = static_cast<double>(report.records);
    std::printf("%d: %llu ticks, %llu of %llu bytes (%.1f bytes/tick), %.1f s\n", days[i],
                static_cast<unsigned long long>(report.records), static_cast<unsigned long long>(report.packed_bytes),
                static_cast<unsigned long long>(report.journal_bytes), ticks > 0 ? report.packed_bytes / ticks : 0.0,
                seconds);
    std::fflush(stdout);
    progress.DayDone(i, days[i], std::to_string(report.records) + " ticks packed");
  }
  return status;
}

// A yyyymmdd that is a real calendar date.
bool IsDayText(const std::string& day) {
  if (day.size() != 8 || day.find_first_not_of("0123456789") != std::string::npos) return false;
  return IsCalendarDate(std::stoi(day));
}

int RunFetch(const ClusterSettings& settings, const std::string& bucket, const std::vector<std::string>& days,
             const std::string& outDir) {
  NatsLink link(settings);
  bool reachable = false;
  std::string error;
  if (!link.Open(&reachable, &error) || !reachable) {
    std::fprintf(stderr, "quoteloom-data: %s\n", error.c_str());
    return kExitFiles;
  }
  HistoryFetcher fetcher(link.js(), bucket, outDir);
  int status = 0;
  ProgressLine progress("fetch", days.size());
  for (std::size_t i = 0; i < days.size(); ++i) {
    std::uint64_t bytes = 0;
    if (fetcher.Fetch(days[i], &bytes, &error) != HistoryFetcher::Result::kFetched) {
      progress.Message("quoteloom-data: " + error);
      status = kExitFiles;
      continue;
    }
    progress.ClearLine();
    std::printf("%s: %llu bytes into %s, digest checked\n", days[i].c_str(), static_cast<unsigned long long>(bytes),
                PackedDayPath(outDir, days[i]).c_str());
    std::fflush(stdout);
    progress.DayDone(i, std::stoi(days[i]), std::to_string(bytes) + " bytes");
  }
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  // Freed memory stays with the program for its next buffer: the commands free and take again
  // blocks of megabytes, and memory handed back to the kernel costs a page fault a page to take again.
  mallopt(M_MMAP_THRESHOLD, 256 << 20);
  mallopt(M_TRIM_THRESHOLD, 512 << 20);
  CommandLine commandLine("quoteloom-data",
                          "Replay files, a completeness audit, bars and exact exports from the collector's tick files.");
  commandLine.SetFooter(
      {.failure = "audit found holes or invalid data", .more = "3 files could not be read or written"});
  CLI::App& app = commandLine.app();
  // At most one; none is reported after parsing, so that an unknown option is the reason given first.
  app.require_subcommand(0, 1);
  std::string workdir = ".";
  app.add_option("--workdir", workdir, "the collector's working folder (default: the current folder)")
      ->check(CLI::ExistingDirectory);
  std::string calendarPath;
  app.add_option("--calendar", calendarPath, "holiday calendar FILE (default: the one shipped with the programs)");
  int tolerance = kDefaultToleranceSeconds;
  app.add_option("--tolerance", tolerance,
                 "seconds between a tick's update time and its arrival within which it counts as a session tick, "
                 "not a stale snapshot (default 300)")
      ->check(CLI::Range(1, 86400));
  app.fallthrough();

  DaySelection replayableDays, auditDays, barDays;
  CLI::App* replayable = app.add_subcommand(
      "replayable",
      "write Data/<day>/Tick/<contract>.csv, the replay service's files, from the day's journal or its per-contract files");
  AddDayOptions(replayable, &replayableDays);
  ReplayableWriter::Selection selection;
  replayable->add_flag("--raw", selection.raw, "every stored line, stale snapshots and test data included");

  CLI::App* audit = app.add_subcommand("audit", "check each contract of the days for holes, duplicates and bad values");
  AddDayOptions(audit, &auditDays);
  bool json = false;
  AuditOptions options;
  audit->add_flag("--json", json, "one JSON document instead of text");
  audit->add_option("--gap", options.gap_seconds, "seconds of silence inside a session that make a hole (default 30)")
      ->check(CLI::Range(1, 86400));
  audit->add_option("--active-median", options.active_median_ms,
                    "a contract is checked for gaps when the median interval between its ticks is at most this "
                    "many milliseconds (default 1000)")
      ->check(CLI::Range(1, 86400000));

  CLI::App* bars = app.add_subcommand("bars", "OHLCV bars per contract over its sessions, as CSV");
  AddDayOptions(bars, &barDays);
  std::string period = "1m";
  std::string outDir;
  bars->add_option("--period", period, "1m, 5m, 15m, 1h or 1d (default 1m)")
      ->check(CLI::IsMember({"1m", "5m", "15m", "1h", "1d"}));
  bars->add_option("--out", outDir,
                   "write <day>-<period>.csv files into this folder (made when missing) instead of standard output");

  CLI::App* exporter = app.add_subcommand(
      "export", "the exact session ticks of the days' journals as CSV for research (docs/research.md)");
  DaySelection exportDays;
  AddDayOptions(exporter, &exportDays);
  TickExportOptions exportOptions;
  std::vector<std::string> exportContracts;
  std::string exportOut = ".";
  exporter->add_option("--contracts", exportContracts, "only these contracts (comma-separated)")
      ->delimiter(',')
      ->check(CLI::Validator(
          [](std::string& code) {
            return IsContractCode(code) ? std::string() : "'" + code + "' is not a contract code";
          },
          ""));
  exporter->add_option("--out", exportOut, "folder for the CSV files, made when missing (default: the current folder)");
  exporter->add_flag("--by-contract", exportOptions.byContract, "one file per day and contract: <day>-<contract>.csv");
  exporter->add_flag("--raw", exportOptions.raw,
                     "every tick, stale snapshots and test data included, with a last column \"kind\": session, stale "
                     "or test");

  CLI::App* pack = app.add_subcommand(
      "pack", "pack each day's journal into History/<day>.qth, checked against the journal before it is kept");
  DaySelection packDays;
  AddDayOptions(pack, &packDays);
  DayCloseCommand dayClose;
  CLI::App* closeDays = AddDayCloseCommand(app, &dayClose);

  CLI::App* fetch = app.add_subcommand(
      "fetch", "get packed days from the cluster's history bucket into <out>/History/<day>.qth, digest checked");
  std::vector<std::string> fetchDays;
  fetch->add_option("DAY", fetchDays, "trading days, yyyymmdd")->required();
  ClusterSettings fetchSettings;
  fetch->add_option("--servers", fetchSettings.servers, "NATS servers, URL[,URL...] (nats://host:port or tls://host:port)")
      ->delimiter(',')
      ->required();
  std::string bucket = "quoteloom-history";
  fetch->add_option("--bucket", bucket, "the object store bucket of the packed days (default quoteloom-history)");
  std::string fetchOut;
  fetch->add_option("--out", fetchOut, "folder whose History/ gets the days, made when missing (default: --workdir)");
  fetch->add_option("--user", fetchSettings.user, "user name (with --password)");
  fetch->add_option("--password", fetchSettings.password, "password of --user");
  fetch->add_option("--token", fetchSettings.token, "authentication token");
  fetch->add_option("--creds", fetchSettings.credentialsFile, "NATS credentials file (JWT and NKey seed)");
  fetch->add_option("--tls-ca", fetchSettings.tlsCaFile, "CA certificates (PEM) to verify the servers; implies TLS");
  fetch->add_flag("--tls", fetchSettings.tls, "connect with TLS");

  if (const std::optional<int> exitCode = commandLine.Handle(argc, argv)) return *exitCode;
  if (app.get_subcommands().empty()) {
    return commandLine.UsageError("a subcommand is required: replayable, audit, bars, export, pack, close-days or fetch");
  }
  if (fetch->parsed()) {
    for (const std::string& day : fetchDays) {
      if (!IsDayText(day)) return commandLine.UsageError("DAY: \"" + day + "\" is not a calendar date yyyymmdd");
    }
    if (!IsBucketName(bucket)) return commandLine.UsageError("--bucket: letters, digits, '-' and '_' only, at most 64");
    std::string error;
    if (!ValidateClusterSettings(fetchSettings, &error)) return commandLine.UsageError(error);
    if (fetchOut.empty()) fetchOut = workdir;
    if (!MakeFolder(fetchOut)) return kExitFiles;
    const int status = RunFetch(fetchSettings, bucket, fetchDays, fetchOut);
    nats_CloseAndWait(2000);
    return status;
  }
  if (exporter->count("--contracts") > 0 && exportContracts.empty()) {
    return commandLine.UsageError("--contracts: no contract code given");
  }

  std::optional<MarketCalendar> calendar = MarketCalendar::Shipped();
  if (!calendarPath.empty()) {
    std::string error;
    calendar = MarketCalendar::Load(calendarPath, &error);
    if (!calendar) return commandLine.UsageError(error);
  }
  const fs::path root(workdir);
  if (closeDays->parsed()) return RunDayCloseCommand(root, dayClose);
  std::vector<int> days;
  if (replayable->parsed()) {
    if (!Days(replayableDays, root, *calendar, commandLine, &days)) return kExitUsage;
    selection.tolerance_seconds = tolerance;
    return RunReplayable(root, days, selection);
  }
  if (audit->parsed()) {
    if (!Days(auditDays, root, *calendar, commandLine, &days)) return kExitUsage;
    options.tolerance_seconds = tolerance;
    options.calendar = &*calendar;
    return RunAudit(root, days, options, json);
  }
  if (pack->parsed()) {
    if (!Days(packDays, root, *calendar, commandLine, &days)) return kExitUsage;
    return RunPack(root, days);
  }
  if (exporter->parsed()) {
    if (!Days(exportDays, root, *calendar, commandLine, &days)) return kExitUsage;
    if (!MakeFolder(exportOut)) return kExitFiles;
    exportOptions.outDir = exportOut;
    exportOptions.toleranceSeconds = tolerance;
    exportOptions.contracts.insert(exportContracts.begin(), exportContracts.end());
    return RunExport(root, days, exportOptions);
  }
  if (!Days(barDays, root, *calendar, commandLine, &days)) return kExitUsage;
  if (!outDir.empty() && !MakeFolder(outDir)) return kExitFiles;
  return RunBars(root, days, period, outDir, tolerance);
}
