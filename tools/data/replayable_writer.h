#ifndef QUOTELOOM_TOOLS_DATA_REPLAYABLE_WRITER_H
#define QUOTELOOM_TOOLS_DATA_REPLAYABLE_WRITER_H

#include <ctime>

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "sessions/tick_classifier.h"
#include "tools/data/replayable_day.h"
#include "tools/data/tick_source.h"

// Writes the replay service's stored tick files Data/<day>/Tick/<contract>.csv of one trading day
// from its ticks, in one pass in stored order: a header line, then each tick in the replay
// service's field order. Memory stays bounded whatever the day's size: each contract's lines go out
// to a temporary file in blocks, renamed into place at the end, so the replay service never reads
// half a file. A file carries the modification time of its contract's store once that store is
// finished (unchanged for the stable age, nothing half written), which is what "up to date" means;
// a store still growing makes the file again on the next run. One thread.
class ReplayableWriter {
 public:
  // The header line of every file written (without its CR LF).
  static constexpr std::string_view kHeader =
      "TradingDay,ActionDay,InstrumentID,UpdateTime,UpdateMillisec,LastPrice,Volume,HighestPrice,LowestPrice,"
      "OpenPrice,ClosePrice,AveragePrice,AskPrice1,AskVolume1,BidPrice1,BidVolume1,UpperLimitPrice,"
      "LowerLimitPrice,OpenInterest,Turnover,PreClosePrice,PreOpenInterest,PreSettlementPrice,WriteStamp";
  // A contract's lines go to its file once they reach this many bytes, and all contracts' once
  // their sum does.
  static constexpr std::size_t kFlushBytes = 256 * 1024;
  static constexpr std::size_t kBufferBudget = 32 * 1024 * 1024;
  // Room past kFlushBytes in a busy contract's buffer for the line that reaches it.
  static constexpr std::size_t kLineRoom = 4096;
  // Distinct contracts a day may name; ticks of further ones are left out and reported.
  static constexpr std::size_t kMaxContracts = 20000;

  using Selection = ReplayableSelection;

  enum class Outcome { kWritten, kUpToDate, kFailed };
  // What Write did for one contract.
  struct Result {
    Outcome outcome = Outcome::kFailed;
    std::uint64_t lines = 0;       // tick lines written
    std::uint64_t malformed = 0;   // source lines without 24 fields, left out
    std::uint64_t not_market = 0;  // stale snapshots and test data, left out unless raw
    bool partial_tail = false;     // the source ended inside a line still being appended
    std::string error;
  };

  ReplayableWriter(const std::filesystem::path& workdir, int day, int stableAgeSeconds, const Selection& selection);
  ReplayableWriter(const ReplayableWriter&) = delete;
  ReplayableWriter& operator=(const ReplayableWriter&) = delete;
  ~ReplayableWriter();

  // Smaller blocks, so tests see the flushes with a few ticks. Call before Run.
  void SetLimitsForTesting(std::size_t flushBytes, std::size_t bufferBudget) {
    flushBytes_ = flushBytes;
    bufferBudget_ = bufferBudget;
  }

  // Does the day's work from `source`. `contracts` are those with a per-contract file: one the
  // source lacks (its ticks failed to reach the journal) is copied from that file instead
  // (reported), so no stored tick is lost.
  ReplayableDay Run(TickSource& source, const std::vector<std::string>& contracts);

  // One contract's file from its per-contract file. `stableAgeSeconds`: a source unchanged for at
  // least this long counts as finished.
  static Result Write(const std::filesystem::path& workdir, int day, const std::string& contract,
                      int stableAgeSeconds = 2, const Selection& selection = Selection());

  static std::filesystem::path TargetPath(const std::filesystem::path& workdir, int day, const std::string& contract);
  // The folder Data/<day>/Tick relative to the working folder.
  static std::string TickFolder(int day);

 private:
  struct Output;

  bool AllUpToDate(const TickSource& source, const std::vector<std::string>& contracts) const;
  bool TargetIsUpToDate(const std::string& contract, const timespec& modified) const;
  Output* OutputFor(TickSource& source, std::string_view contract);
  void Add(TickSource& source, Output* output, const SourceTick& tick);
  bool Flush(Output* output, const timespec* stamp);
  void FlushAll();
  void Drained(Output* output, bool last);
  void Finish(const TickSource& source);
  void CopyMissing(const std::vector<std::string>& contracts);
  void Discard();

  const std::filesystem::path workdir_;
  const int day_;
  const int stableAgeSeconds_;
  const Selection selection_;

  std::size_t flushBytes_ = kFlushBytes;
  std::size_t bufferBudget_ = kBufferBudget;

  std::map<std::string, Output, std::less<>> outputs_;  // by contract, in name order
  // The same in an open-addressed table by a short hash of the code, for a journal's ticks, whose
  // contracts take turns: at most half full, a power of two long.
  struct CodeSlot {
    std::string_view code;  // the key in outputs_
    Output* output = nullptr;  // null: a free slot
  };
  std::vector<CodeSlot> slots_;
  int slotBits_ = 0;
  void AddSlot(std::string_view code, Output* output);
  int folderFd_ = -1;  // the Tick folder, opened by Run
  std::size_t buffered_ = 0;
  std::size_t kept_ = 0;  // memory of the buffers kept between blocks
  std::uint64_t unnamed_ = 0;  // codes that cannot name a file, or beyond kMaxContracts
  ReplayableDay result_;
};

#endif
