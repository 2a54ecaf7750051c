#ifndef QUOTELOOM_REPLAY_SERVICE_STORED_TICK_FILE_H
#define QUOTELOOM_REPLAY_SERVICE_STORED_TICK_FILE_H

#include <deque>
#include <optional>
#include <string>
#include <string_view>

#include "replay/protocol/replay_message.h"

// The stored tick files that a replay reads: Data/yyyymmdd/Tick/<contract>.csv, a header line and
// then one tick per line. Stateless, any thread; the caller holds the file lock around each pass.
// Whole-file passes for tools and tests; a replay reads in chunks with StoredTickReader.
class StoredTickFile {
 public:
  // Fields of a line beyond this many are not split off.
  static constexpr int kMaxFields = 80;

  // "<root>//<day>//Tick//<contract>.csv": the doubled separators of the logged path act as single ones.
  static std::string Path(std::string_view dataRoot, int day, std::string_view contract);

  // The number of lines holding at least one comma; nullopt when the file cannot be opened.
  static std::optional<int> CountCommaLines(const std::string& path);

  // Appends one tick message per line after the first; false when the file cannot be opened.
  static bool Load(const std::string& path, std::string_view contract, std::deque<ReplayMessage>* history);

  // One stored line (without its line break) as a tick message of `contract`.
  static ReplayMessage ParseLine(std::string_view line, std::string_view contract);
};

#endif
