#include "sessions/market_calendar.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "sessions/civil_date.h"
#include "core/open_regular_file.h"
#include "sessions/session_clock.h"
#include "sessions/trading_day_rule.h"

extern const char kShippedHolidays[];  // sessions/holidays.txt, written into the build by CMake

namespace {

// A calendar file is a few hundred lines; anything far larger is not one.
constexpr off_t kMaxCalendarBytes = 1 << 20;
// Twenty years without a trading day cannot happen; the bound keeps a broken list from looping.
constexpr int kMaxDaysSearched = 7300;

bool IsWeekend(int date) {
  const int weekday = WeekdayOfDate(date);
  return weekday == 1 || weekday == 7;
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
  return s;
}

}  // namespace

std::optional<MarketCalendar> MarketCalendar::Parse(std::string_view text, const std::string& name,
                                                    std::string* error) {
  MarketCalendar calendar;
  calendar.name_ = name;
  int number = 0;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    ++number;
    const std::size_t hash = line.find('#');
    if (hash != std::string_view::npos) line = line.substr(0, hash);
    line = Trim(line);
    if (line.empty()) continue;
    int date = 0;
    bool digits = line.size() == 8;
    for (char c : line) digits = digits && c >= '0' && c <= '9';
    if (digits) date = std::stoi(std::string(line));
    const std::string where = name + ":" + std::to_string(number) + ": ";
    if (!digits || !IsCalendarDate(date)) {
      *error = where + "'" + std::string(line.substr(0, 40)) + "' is not a date (yyyymmdd)";
      return std::nullopt;
    }
    if (IsWeekend(date)) {
      *error = where + std::to_string(date) + " is a Saturday or Sunday; list only weekdays closed";
      return std::nullopt;
    }
    calendar.holidays_.insert(date);
    calendar.years_.insert(date / 10000);
  }
  if (calendar.years_.empty()) {
    *error = name + ": lists no day, so it knows no year";
    return std::nullopt;
  }
  return calendar;
}

std::optional<MarketCalendar> MarketCalendar::Load(const std::string& path, std::string* error) {
  int openError = 0;
  const int fd = OpenRegularFile(path.c_str(), O_RDONLY, 0, &openError);
  if (fd < 0) {
    *error = path + ": " + OpenErrorText(openError);
    return std::nullopt;
  }
  struct stat info;
  std::string text;
  bool ok = ::fstat(fd, &info) == 0;
  if (ok && info.st_size > kMaxCalendarBytes) {
    *error = path + ": larger than a calendar can be (" + std::to_string(info.st_size) + " bytes)";
  } else if (ok) {
    char buffer[8192];
    ssize_t n;
    while ((n = ::read(fd, buffer, sizeof buffer)) > 0 && text.size() <= static_cast<std::size_t>(kMaxCalendarBytes)) {
      text.append(buffer, static_cast<std::size_t>(n));
    }
    if (n < 0) *error = path + ": " + std::strerror(errno);
  } else {
    *error = path + ": " + std::strerror(errno);
  }
  ::close(fd);
  if (!error->empty()) return std::nullopt;
  return Parse(text, path, error);
}

const MarketCalendar& MarketCalendar::Shipped() {
  static const MarketCalendar calendar = [] {
    std::string error;
    std::optional<MarketCalendar> parsed = Parse(kShippedHolidays, "holidays.txt", &error);
    // The shipped list is part of the program; the tests load it, so this never fails in a build.
    return parsed ? std::move(*parsed) : MarketCalendar();
  }();
  return calendar;
}

bool MarketCalendar::Year(int date, std::string* error) const {
  if (years_.count(date / 10000) > 0) return true;
  *error = (name_.empty() ? std::string("the market calendar") : name_) + " has no year " +
           std::to_string(date / 10000) + " (asked about " + std::to_string(date) + "); add its holidays";
  return false;
}

std::optional<bool> MarketCalendar::IsTradingDay(int date, std::string* error) const {
  if (!Year(date, error)) return std::nullopt;
  return !IsWeekend(date) && holidays_.count(date) == 0;
}

std::optional<int> MarketCalendar::NextTradingDay(int date, std::string* error) const {
  for (int i = 0; i < kMaxDaysSearched; ++i) {
    date = ShiftCalendarDate(date, 1);
    const std::optional<bool> trading = IsTradingDay(date, error);
    if (!trading) return std::nullopt;
    if (*trading) return date;
  }
  *error = name_ + ": no trading day found";
  return std::nullopt;
}

std::optional<int> MarketCalendar::PreviousTradingDay(int date, std::string* error) const {
  for (int i = 0; i < kMaxDaysSearched; ++i) {
    date = ShiftCalendarDate(date, -1);
    const std::optional<bool> trading = IsTradingDay(date, error);
    if (!trading) return std::nullopt;
    if (*trading) return date;
  }
  *error = name_ + ": no trading day found";
  return std::nullopt;
}

std::optional<bool> MarketCalendar::HasNightSession(int day, std::string* error) const {
  const std::optional<bool> trading = IsTradingDay(day, error);
  if (!trading) return std::nullopt;
  if (!*trading) return false;
  const std::optional<int> before = PreviousTradingDay(day, error);
  if (!before) return std::nullopt;
  return *before == EveOfTradingDay(day);
}

std::optional<MarketMoment> MarketCalendar::Place(int date, int timeOfDay, std::string* error) const {
  MarketMoment moment;
  moment.session_second = SessionSecond(timeOfDay);
  std::optional<bool> trading = IsTradingDay(date, error);
  if (!trading) return std::nullopt;
  std::optional<int> day = (timeOfDay >= kEveSeconds || !*trading) ? NextTradingDay(date, error) : date;
  if (!day) return std::nullopt;
  moment.trading_day = *day;
  if (moment.session_second >= kDaySessionSecond) {
    moment.open = *day == date;
    return moment;
  }
  const std::optional<bool> night = HasNightSession(*day, error);
  if (!night) return std::nullopt;
  moment.open = *night && CalendarDateOf(*day, moment.session_second) == date;
  return moment;
}
