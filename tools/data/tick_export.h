#ifndef QUOTELOOM_TOOLS_DATA_TICK_EXPORT_H
#define QUOTELOOM_TOOLS_DATA_TICK_EXPORT_H

#include <cstdint>
#include <filesystem>
#include <functional>
#include <set>
#include <string>

#include "storage/journal_format.h"

// The research export: the exact ticks of a day's journal as CSV with a header line, timestamps in
// ISO 8601 at +08:00, numbers in the shortest text that reads back to the same double, and empty
// cells where the exchange gave no value. docs/quoteloom-data.md has the columns. One thread.

// The header line (without its line end).
const char* TickExportHeader();

// One CSV row of `entry` filed under trading day `day` (yyyymmdd), with "\n".
void AppendTickExportRow(int day, const JournalEntry& entry, std::string* out);

// `value` as the shortest text that reads back to the same double; the largest double gives "".
void AppendExactNumber(double value, std::string* out);

struct TickExportOptions {
  std::filesystem::path workdir;
  std::filesystem::path outDir;
  std::set<std::string> contracts;  // empty: every contract
  bool byContract = false;          // <day>-<contract>.csv instead of <day>.csv
};

struct TickExportResult {
  std::uint64_t rows = 0;
  std::uint64_t files = 0;
  std::uint64_t badRecords = 0;  // skipped: checksum did not match
  std::string error;             // set when the day could not be exported (no journal, refused, unwritable)
};

// Exports Journal/<day>.qtj of the working folder; files appear whole (written aside, then renamed).
// `progress` (may be empty) is called now and then with the rows so far.
TickExportResult ExportDay(const TickExportOptions& options, int day,
                           const std::function<void(std::uint64_t rows)>& progress);

#endif
