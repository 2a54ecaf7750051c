#ifndef QUOTELOOM_SESSIONS_PRODUCT_HOURS_H
#define QUOTELOOM_SESSIONS_PRODUCT_HOURS_H

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// The trading hours of one product over a trading day, in session seconds (sessions/session_clock.h).
// Immutable after parsing; any thread.

// Continuous trading from `begin` to `end`; a tick stamped exactly `end` (the closing snapshot)
// still belongs to it.
struct TradingPeriod {
  int begin = 0;
  int end = 0;
};

// The night or the day session: a call auction from `auction_begin` up to the first period, then
// periods separated by breaks (10:15-10:30, noon).
struct TradingSession {
  int auction_begin = 0;  // equal to periods.front().begin when the session has no auction
  std::vector<TradingPeriod> periods;

  int begin() const { return periods.front().begin; }
  int end() const { return periods.back().end; }
  bool night() const;
};

class ProductHours {
 public:
  // Reads "[HH:MM] HH:MM-HH:MM ... | ...": sessions separated by '|', night first, each an optional
  // auction start and its periods, every time after the one before on the session clock.
  // nullopt with `error` set when the text is not of that form.
  static std::optional<ProductHours> Parse(std::string_view text, std::string* error);

  const std::vector<TradingSession>& sessions() const { return sessions_; }

  // Where a session second lies: its session and period, or its session's auction; -1 outside.
  struct Place {
    int session = -1;
    int period = -1;  // -1 in the auction or outside
    bool auction = false;
  };
  Place Locate(int sessionSecond) const;
  // Whether a session second lies in a period or an auction (Locate's period >= 0 or auction), told
  // from one short array: every tick of a day asks.
  bool Trades(int sessionSecond) const {
    for (const auto& [from, to] : trading_) {
      if (sessionSecond < from) return false;
      if (sessionSecond <= to) return true;
    }
    return false;
  }

  // Seconds of continuous trading between two session seconds (from <= to).
  int TradingSecondsBetween(int from, int to) const;

 private:
  std::vector<TradingSession> sessions_;
  std::vector<std::pair<int, int>> trading_;  // [from, to] of the auctions and periods, in order
};

// The product of a contract code: its leading letters ("rb" of "rb2405", "AP" of "AP405").
std::string_view ProductOfContract(std::string_view contract);

// The hours of a product from the session table; null for a product the table does not hold.
const ProductHours* FindProductHours(std::string_view product);

// The session table as written: one entry per group of products with the same hours.
struct SessionTableRow {
  const char* products;  // space-separated
  const char* hours;     // as ProductHours::Parse reads it
};
const std::vector<SessionTableRow>& SessionTable();

#endif
