#ifndef QUOTELOOM_SESSIONS_MARKET_CALENDAR_H
#define QUOTELOOM_SESSIONS_MARKET_CALENDAR_H

#include <optional>
#include <set>
#include <string>
#include <string_view>

// The exchanges' calendar: weekdays are trading days unless listed as holidays, for the years the
// list covers. Immutable after loading; any thread. Every question names the year it cannot answer
// instead of guessing.

// Where a moment of the local clock lies in the market's week.
struct MarketMoment {
  int trading_day = 0;     // the trading day the moment counts for (yyyymmdd)
  int session_second = 0;  // sessions/session_clock.h
  bool open = false;       // that trading day has its night (or day) part at this moment's date
};

class MarketCalendar {
 public:
  // One yyyymmdd a line, '#' starts a comment, blank lines skipped. A line that is not a weekday
  // date is an error naming `name` and the line. A year is known once one of its days is listed.
  static std::optional<MarketCalendar> Parse(std::string_view text, const std::string& name, std::string* error);
  static std::optional<MarketCalendar> Load(const std::string& path, std::string* error);
  // The calendar shipped with the programs (sessions/holidays.txt, built in).
  static const MarketCalendar& Shipped();

  bool KnowsYear(int year) const { return years_.count(year) > 0; }
  int first_year() const { return years_.empty() ? 0 : *years_.begin(); }
  int last_year() const { return years_.empty() ? 0 : *years_.rbegin(); }

  // nullopt with `error` set when the calendar lacks the year of a day it would have to look at.
  std::optional<bool> IsTradingDay(int date, std::string* error) const;
  std::optional<int> NextTradingDay(int date, std::string* error) const;      // strictly after
  std::optional<int> PreviousTradingDay(int date, std::string* error) const;  // strictly before
  // Whether trading day `day` opens with a night session on the evening before: only when no
  // holiday lies between it and the trading day before it (no night on the eve of a holiday).
  std::optional<bool> HasNightSession(int day, std::string* error) const;
  // The trading day and session second of `timeOfDay` (seconds since midnight) on `date`: from
  // 18:00 the next trading day; before, the date itself or, on a closed day, the next trading day.
  std::optional<MarketMoment> Place(int date, int timeOfDay, std::string* error) const;

 private:
  bool Year(int date, std::string* error) const;

  std::set<int> holidays_;
  std::set<int> years_;
  std::string name_;
};

#endif
