#ifndef QUOTELOOM_TOOLS_DATA_BAR_BUILDER_H
#define QUOTELOOM_TOOLS_DATA_BAR_BUILDER_H

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sessions/product_hours.h"
#include "core/tick_record.h"
#include "tools/data/collected_line.h"

// OHLCV bars of one contract over one trading day, over its product's sessions: bars are aligned to
// the clock and cut at every break, so none spans one; call-auction ticks join the first bar of
// their session; a daily bar holds the whole trading day. One thread.

// Bar lengths the tool makes: 1m, 5m, 15m, 1h; 1d is the whole trading day (kDailyBar).
inline constexpr int kDailyBar = 0;
// Seconds of a period name, kDailyBar for "1d"; nullopt for anything else.
std::optional<int> ParseBarPeriod(std::string_view name);

struct Bar {
  int begin = 0;  // session seconds
  int end = 0;
  double open = 0, high = 0, low = 0, close = 0;
  std::int64_t volume = 0;   // traded in the bar: the rise of the cumulative volume
  double turnover = 0;       // the rise of the cumulative turnover
  double open_interest = 0;  // at the bar's last tick
  std::uint64_t ticks = 0;
};

// The bar slots of a product's day for one period, and which slot each session second falls in.
class BarSlots {
 public:
  BarSlots(const ProductHours& hours, int periodSeconds);
  // -1 for a second outside the sessions (or in a break).
  int SlotOf(int sessionSecond) const { return slot_of_second_[sessionSecond]; }
  const std::vector<std::pair<int, int>>& slots() const { return slots_; }

 private:
  std::vector<std::pair<int, int>> slots_;  // begin, end in session seconds
  std::vector<std::int16_t> slot_of_second_;
};

class BarBuilder {
 public:
  explicit BarBuilder(const BarSlots& slots);

  // The numbers a bar is made of (bits 1 << CollectedField).
  static constexpr std::uint32_t kFields = 1u << kUpdateMillisec | 1u << kLastPrice | 1u << kVolume |
                                           1u << kTurnover | 1u << kOpenInterest;
  // Takes one tick's values; ticks without a valid time or outside the sessions are left out, and
  // so are the price and the running totals where they were unreadable. `content` is the tick's
  // stored bytes apart from its arrival: a tick sent again after a reconnection adds nothing.
  void Add(const TickRecord& record, std::uint32_t unreadable, std::string_view content);
  // The bars that hold at least one tick with a price, in time order.
  std::vector<Bar> Finish() const;

  std::uint64_t left_out() const { return left_out_; }

 private:
  // What a tick gives a bar, read from a line or a record.
  struct TickValues {
    int time = -1;  // seconds of the day; -1: not a time
    long long millis = -1;
    bool priced = false;
    double last = 0;
    bool cumulative = false;  // volume, turnover and open interest all read
    long long volume = 0;
    double turnover = 0;
    double interest = 0;
  };
  void AddValues(const TickValues& tick);

  struct Slot {
    std::int64_t open_key = -1, close_key = -1;  // session ms of the ticks giving open and close
    double open = 0, high = 0, low = 0, close = 0;
    bool priced = false;
    std::int64_t last_key = -1;   // the latest tick of the slot, for the cumulative values
    long long volume = 0;
    double turnover = 0;
    double open_interest = 0;
    std::uint64_t ticks = 0;
  };

  const BarSlots& slots_;
  std::vector<Slot> state_;
  std::string previous_content_;
  std::uint64_t left_out_ = 0;
};

#endif
