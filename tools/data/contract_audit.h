#ifndef QUOTELOOM_TOOLS_DATA_CONTRACT_AUDIT_H
#define QUOTELOOM_TOOLS_DATA_CONTRACT_AUDIT_H

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "sessions/market_calendar.h"
#include "sessions/product_hours.h"
#include "sessions/tick_classifier.h"
#include "tools/data/chunked_array.h"
#include "tools/data/collected_line.h"
#include "tools/data/huge_page_arena.h"
#include "tools/data/tick_source.h"

// The audit of one contract's file of one trading day. Lines go in one by one (Add), then Finish
// judges the gaps once the day's other contracts are known. Times are session milliseconds:
// session seconds (sessions/session_clock.h) times 1000 plus the tick's milliseconds. One thread.

struct AuditOptions {
  int gap_seconds = 30;             // a longer silence inside a session of an active contract is a hole
  int active_median_ms = 1000;      // active: the median interval between its ticks is at most this
  int min_intervals = 20;           // and it has at least this many intervals
  std::int64_t judge_until_ms = -1; // session milliseconds of "now" on the day being collected; -1: all
  int tolerance_seconds = kDefaultToleranceSeconds;  // of the session-tick rule (sessions/tick_classifier.h)
  const MarketCalendar* calendar = &MarketCalendar::Shipped();
  bool classify = true;             // false: every tick taken as a session tick (to measure the rule's cost)
};

struct AuditGap {
  std::int64_t from_ms = 0;  // the last tick before (or the session's open)
  std::int64_t to_ms = 0;    // the first tick after (or the session's close)
  std::int64_t trading_ms = 0;
  std::string where;         // "inside", "session start", "session end", "whole session"
};

struct AuditExample {
  std::uint64_t line = 0;    // 1-based line number in the file
  std::string problem;
  std::string text;          // the field that shows it
};

struct ContractAudit {
  static constexpr std::size_t kMaxExamples = 10;
  static constexpr std::size_t kMaxGaps = 200;

  std::string contract;
  std::string product;
  bool hours_known = false;
  std::uint64_t ticks = 0;
  std::int64_t first_ms = -1;   // earliest and latest valid time
  std::int64_t last_ms = -1;
  bool active = false;
  std::int64_t median_interval_ms = -1;
  std::vector<AuditGap> gaps;
  std::uint64_t gaps_not_listed = 0;
  std::uint64_t duplicates = 0;
  std::uint64_t invalid_times = 0;
  std::uint64_t out_of_order = 0;
  std::uint64_t last_outside_limits = 0;
  std::uint64_t last_max_double = 0;
  std::uint64_t malformed = 0;
  std::uint64_t outside_sessions = 0;  // valid ticks outside the product's hours: a note, not an error
  // Records the front sent that are not the market (notes, never findings): old snapshots pushed on
  // subscription, and test data outside the hours or with no valid time.
  std::uint64_t stale_snapshots = 0;
  std::uint64_t test_data = 0;
  std::vector<AuditExample> examples;

  std::uint64_t Holes() const { return gaps.size() + gaps_not_listed; }
  std::uint64_t Invalid() const {
    return invalid_times + out_of_order + last_outside_limits + last_max_double + malformed;
  }
};

class ContractAuditor {
 public:
  // `day` is the trading day the file belongs to, for the session-tick rule. Its tables of ticks
  // take memory from `arena` (its own when null), which outlives it.
  ContractAuditor(std::string contract, const AuditOptions& options, int day = 0, HugePageArena* arena = nullptr);

  void AddMalformed(std::uint64_t lineNumber);
  // The tick `source` handed out last (not malformed); its "line" is tick.number.
  void Add(TickSource& source, const SourceTick& tick);

  // After the last line: works out whether the contract is active and lets go of what only the
  // reading needed.
  void EndOfFile();

  // Whether the contract had a tick inside its night or day session (auction included).
  bool saw_night() const { return saw_night_; }
  bool saw_day() const { return saw_day_; }

  // Judges the gaps: sessions of a kind (night/day) that no contract of the day was collected in
  // are left alone (no trading that day, or the collector was not running).
  ContractAudit Finish(bool nightCollected, bool dayCollected);

 private:
  struct SessionSpan {
    std::int64_t first = -1;
    std::int64_t last = -1;
  };

  void Example(std::uint64_t lineNumber, const char* problem, std::string_view text);
  void CheckLastPrice(TickSource& source, const SourceValues& values, std::uint64_t lineNumber);
  void TrackTime(std::int64_t key);
  void AddGap(std::int64_t from, std::int64_t to, const char* where);
  std::int64_t TradingMs(std::int64_t from, std::int64_t to) const;

  AuditOptions options_;
  ContractAudit audit_;
  const ProductHours* hours_ = nullptr;
  TickClassifier classifier_;
  // The ticks' contents so far, to tell a tick sent again. A tick sent again has the same content,
  // so the same time (`key`, -1 for a tick without a valid time). Ticks go to `seen_` in runs sorted
  // by time: a tick no earlier than the one before (nearly every one) extends the run, an earlier
  // one starts a new run. A tick is compared with the ticks of its own time only: of its own run at
  // the run's end, of each earlier run at a cursor that moves forward with the time, so memory is
  // read in order. Past kMaxRuns, and for ticks without a time, hashes go to `others_`.
  static constexpr std::size_t kMaxRuns = 16;
  bool FirstSeen(std::int64_t key, std::uint64_t hash);
  bool InRun(std::size_t run, std::size_t from, std::int64_t key, std::uint64_t hash) const;
  bool InOthers(std::uint64_t hash, bool insert);
  struct Seen {
    std::int64_t key;
    std::uint64_t hash;
  };
  std::unique_ptr<HugePageArena> own_arena_;
  ChunkedArray<Seen> seen_;
  std::vector<std::size_t> run_begin_;  // where each run begins in seen_
  std::vector<std::size_t> cursor_;     // per earlier run: its first tick not before the current time
  // Open addressing (0: empty): a node per tick cost a cache miss and an allocation each.
  std::vector<std::uint64_t> others_;
  std::size_t others_count_ = 0;
  std::int64_t previous_key_ = -1;     // the latest time so far
  std::int64_t previous_line_key_ = -1;
  int previous_session_ = -1;
  std::vector<std::int32_t> intervals_;
  struct Candidate {
    AuditGap gap;
    int session;
  };
  std::vector<Candidate> inside_candidates_;
  std::uint64_t inside_candidates_dropped_ = 0;
  std::vector<SessionSpan> spans_;
  std::string lower_text_;
  std::string upper_text_;
  double lower_limit_ = 0;
  double upper_limit_ = 0;
  bool saw_night_ = false;
  bool saw_day_ = false;
};

// "HH:MM:SS.mmm" of session milliseconds.
std::string SessionTimeText(std::int64_t sessionMs);

#endif
