#ifndef QUOTELOOM_TOOLS_DATA_TICK_EXPORT_H
#define QUOTELOOM_TOOLS_DATA_TICK_EXPORT_H

#include <cstdint>
#include <filesystem>
#include <functional>
#include <set>
#include <string>

#include "core/tick_record.h"
#include "sessions/tick_classifier.h"
#include "tools/data/tick_source.h"

// The research export: the exact ticks of a day's journal as CSV with a header line, timestamps in
// ISO 8601 at +08:00, numbers in the shortest text that reads back to the same double, and empty
// cells where the exchange gave no value. Only session ticks, by the rule bars and replayable apply
// (sessions/tick_classifier.h); raw keeps every tick and says in a last column which kind each is.
// docs/quoteloom-data.md has the columns. One thread.

// The header line (without its line end); raw adds the column "kind".
std::string TickExportHeader(bool raw = false);

// One CSV row of a tick filed under trading day `day` (yyyymmdd), without its line end.
void AppendTickExportRow(int day, const TickRecord& tick, std::int64_t writeTimeNs, std::uint64_t sequence,
                         std::string* out);

// `value` as the shortest text that reads back to the same double; the largest double gives "".
void AppendExactNumber(double value, std::string* out);

struct TickExportOptions {
  std::filesystem::path workdir;
  std::filesystem::path outDir;
  std::set<std::string> contracts;  // empty: every contract
  bool byContract = false;          // <day>-<contract>.csv instead of <day>.csv
  bool raw = false;                 // every tick, with its kind (session, stale, test)
  int toleranceSeconds = kDefaultToleranceSeconds;  // of the session-tick rule
};

struct TickExportResult {
  std::uint64_t rows = 0;
  std::uint64_t files = 0;
  std::uint64_t badRecords = 0;  // skipped: checksum did not match
  std::uint64_t notMarket = 0;   // stale snapshots and test data, left out unless raw
  std::uint64_t unnamed = 0;     // by contract: records of codes that cannot name a file, left out
  std::string error;             // set when the day could not be exported (no journal, refused, unwritable)
};

// Exports the day's ticks from `source`, a store of whole records; files appear whole (written aside,
// then renamed). `progress` (may be empty) is called now and then with the rows so far.
TickExportResult ExportDay(TickSource& source, const TickExportOptions& options, int day,
                           const std::function<void(std::uint64_t rows)>& progress);
// The same of Journal/<day>.qtj of the working folder.
TickExportResult ExportDay(const TickExportOptions& options, int day,
                           const std::function<void(std::uint64_t rows)>& progress);

#endif
