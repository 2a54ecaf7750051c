#include "sessions/product_hours.h"

#include <algorithm>

#include "sessions/session_clock.h"

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// "HH:MM" at the front of `text` as a session second; consumed from `text`.
std::optional<int> TakeTime(std::string_view* text) {
  const std::string_view t = *text;
  if (t.size() < 5 || !IsDigit(t[0]) || !IsDigit(t[1]) || t[2] != ':' || !IsDigit(t[3]) || !IsDigit(t[4])) {
    return std::nullopt;
  }
  const int hour = (t[0] - '0') * 10 + (t[1] - '0');
  const int minute = (t[3] - '0') * 10 + (t[4] - '0');
  if (hour > 23 || minute > 59) return std::nullopt;
  text->remove_prefix(5);
  return SessionSecond(hour * 3600 + minute * 60);
}

std::vector<std::string_view> Split(std::string_view text, char separator) {
  std::vector<std::string_view> parts;
  std::size_t start = 0;
  for (;;) {
    const std::size_t at = text.find(separator, start);
    parts.push_back(text.substr(start, at == std::string_view::npos ? std::string_view::npos : at - start));
    if (at == std::string_view::npos) return parts;
    start = at + 1;
  }
}

std::optional<TradingSession> ParseSession(std::string_view text, std::string* error) {
  TradingSession session;
  bool hasAuction = false;
  for (std::string_view word : Split(text, ' ')) {
    if (word.empty()) continue;
    std::string_view rest = word;
    const std::optional<int> first = TakeTime(&rest);
    if (!first) {
      *error = "bad time in '" + std::string(word) + "'";
      return std::nullopt;
    }
    if (rest.empty()) {
      if (hasAuction || !session.periods.empty()) {
        *error = "an auction start must come first: '" + std::string(word) + "'";
        return std::nullopt;
      }
      hasAuction = true;
      session.auction_begin = *first;
      continue;
    }
    std::optional<int> second;
    if (rest[0] == '-') {
      rest.remove_prefix(1);
      second = TakeTime(&rest);
    }
    if (!second || !rest.empty() || *second <= *first) {
      *error = "bad period '" + std::string(word) + "'";
      return std::nullopt;
    }
    if (!session.periods.empty() && *first <= session.periods.back().end) {
      *error = "period '" + std::string(word) + "' does not follow the one before";
      return std::nullopt;
    }
    session.periods.push_back({*first, *second});
  }
  if (session.periods.empty()) {
    *error = "a session without periods";
    return std::nullopt;
  }
  if (!hasAuction) session.auction_begin = session.begin();
  if (session.auction_begin > session.begin()) {
    *error = "the auction starts after the open";
    return std::nullopt;
  }
  return session;
}

}  // namespace

bool TradingSession::night() const { return begin() < kDaySessionSecond; }

std::optional<ProductHours> ProductHours::Parse(std::string_view text, std::string* error) {
  ProductHours hours;
  for (std::string_view part : Split(text, '|')) {
    std::optional<TradingSession> session = ParseSession(part, error);
    if (!session) return std::nullopt;
    if (!hours.sessions_.empty() && session->auction_begin <= hours.sessions_.back().end()) {
      *error = "sessions overlap or are not in order";
      return std::nullopt;
    }
    hours.sessions_.push_back(std::move(*session));
  }
  for (const TradingSession& session : hours.sessions_) {
    if (session.auction_begin < session.begin()) hours.trading_.emplace_back(session.auction_begin, session.begin() - 1);
    for (const TradingPeriod& period : session.periods) hours.trading_.emplace_back(period.begin, period.end);
  }
  return hours;
}

ProductHours::Place ProductHours::Locate(int s) const {
  for (int i = 0; i < static_cast<int>(sessions_.size()); ++i) {
    const TradingSession& session = sessions_[i];
    if (s < session.auction_begin || s > session.end()) continue;
    if (s < session.begin()) return {i, -1, true};
    for (int p = 0; p < static_cast<int>(session.periods.size()); ++p) {
      if (s >= session.periods[p].begin && s <= session.periods[p].end) return {i, p, false};
    }
    return {i, -1, false};  // in a break
  }
  return {};
}

int ProductHours::TradingSecondsBetween(int from, int to) const {
  int seconds = 0;
  for (const TradingSession& session : sessions_) {
    for (const TradingPeriod& period : session.periods) {
      const int a = std::max(from, period.begin);
      const int b = std::min(to, period.end);
      if (b > a) seconds += b - a;
    }
  }
  return seconds;
}

std::string_view ProductOfContract(std::string_view contract) {
  std::size_t n = 0;
  while (n < contract.size() && ((contract[n] >= 'a' && contract[n] <= 'z') || (contract[n] >= 'A' && contract[n] <= 'Z'))) {
    ++n;
  }
  return contract.substr(0, n);
}
