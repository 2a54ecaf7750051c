#ifndef QUOTELOOM_TOOLS_DATA_REPLAYABLE_WRITER_H
#define QUOTELOOM_TOOLS_DATA_REPLAYABLE_WRITER_H

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "sessions/tick_classifier.h"

// Writes the replay service's stored tick file Data/<day>/Tick/<contract>.csv from the collector's
// Data/<day>/<contract>.csv: a header line, then each whole line of the source in the replay
// service's field order. Written to a temporary name and renamed, so the replay service never
// reads half a file. One thread per file.
// Which lines go into a replayable file: only session ticks (sessions/tick_classifier.h), or every
// line when raw.
struct ReplayableSelection {
  bool raw = false;
  int tolerance_seconds = kDefaultToleranceSeconds;
};

class ReplayableWriter {
 public:
  // The header line of every file written (without its CR LF).
  static constexpr std::string_view kHeader =
      "TradingDay,ActionDay,InstrumentID,UpdateTime,UpdateMillisec,LastPrice,Volume,HighestPrice,LowestPrice,"
      "OpenPrice,ClosePrice,AveragePrice,AskPrice1,AskVolume1,BidPrice1,BidVolume1,UpperLimitPrice,"
      "LowerLimitPrice,OpenInterest,Turnover,PreClosePrice,PreOpenInterest,PreSettlementPrice,WriteStamp";

  using Selection = ReplayableSelection;

  enum class Outcome { kWritten, kUpToDate, kFailed };
  struct Result {
    Outcome outcome = Outcome::kFailed;
    std::uint64_t lines = 0;      // tick lines written
    std::uint64_t malformed = 0;  // source lines without 24 fields, left out
    std::uint64_t not_market = 0; // stale snapshots and test data, left out unless raw
    bool partial_tail = false;    // the source ended inside a line still being appended
    std::string error;
  };

  // `stableAgeSeconds`: a source unchanged for at least this long counts as finished; only then is
  // the written file stamped with the source's modification time, which is what "up to date" means.
  static Result Write(const std::filesystem::path& workdir, int day, const std::string& contract,
                      int stableAgeSeconds = 2, const Selection& selection = Selection());

  static std::filesystem::path TargetPath(const std::filesystem::path& workdir, int day, const std::string& contract);
  // The folder Data/<day>/Tick relative to the working folder; every program opens it below the
  // working folder without following a link.
  static std::string TickFolder(int day);
};

#endif
