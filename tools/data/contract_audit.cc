#include "tools/data/contract_audit.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>

#include "sessions/clock_time.h"
#include "sessions/session_clock.h"

namespace {

bool ValidLimits(double lower, double upper) {
  return std::isfinite(lower) && std::isfinite(upper) && lower > 0 && upper < kUnsetPrice && lower <= upper;
}

std::string Shorten(std::string_view text) {
  return text.size() <= 24 ? std::string(text) : std::string(text.substr(0, 12)) + "…(" + std::to_string(text.size()) + " characters)";
}

}  // namespace

std::string SessionTimeText(std::int64_t sessionMs) {
  const int time = TimeOfDay(static_cast<int>(sessionMs / 1000));
  char text[40];
  std::snprintf(text, sizeof text, "%02d:%02d:%02d.%03d", time / 3600, time / 60 % 60, time % 60,
                static_cast<int>(sessionMs % 1000));
  return text;
}

ContractAuditor::ContractAuditor(std::string contract, const AuditOptions& options, int day)
    : options_(options),
      hours_(FindProductHours(ProductOfContract(contract))),
      classifier_(hours_, day, options.tolerance_seconds) {
  audit_.product = std::string(ProductOfContract(contract));
  audit_.contract = std::move(contract);
  audit_.hours_known = hours_ != nullptr;
  if (hours_ != nullptr) spans_.resize(hours_->sessions().size());
  seen_.reserve(1 << 14);
}

void ContractAuditor::Example(std::uint64_t lineNumber, const char* problem, std::string_view text) {
  if (audit_.examples.size() < ContractAudit::kMaxExamples) {
    audit_.examples.push_back({lineNumber, problem, Shorten(text)});
  }
}

void ContractAuditor::AddMalformed(std::uint64_t lineNumber) {
  ++audit_.malformed;
  Example(lineNumber, "not a tick line of 24 fields", "");
}

void ContractAuditor::Add(const CollectedLine& line, std::uint64_t lineNumber) {
  ++audit_.ticks;
  const int time = ParseClockTime(line.field[kUpdateTime]);
  // Stale snapshots and test data are the front's, not the market's: counted, never judged.
  switch (options_.classify ? classifier_.ClassifyTime(time, line.field[kWriteStamp]) : TickKind::kSession) {
    case TickKind::kStale:
      ++audit_.stale_snapshots;
      return;
    case TickKind::kTest:
      ++audit_.test_data;
      return;
    case TickKind::kSession:
      break;
  }
  if (!seen_.insert(std::hash<std::string_view>{}(line.content)).second) {
    ++audit_.duplicates;
    Example(lineNumber, "duplicate", line.field[kUpdateTime]);
    return;
  }
  CheckLastPrice(line, lineNumber);
  long long millis = -1;
  if (time < 0 || !ParseWhole(line.field[kUpdateMillisec], &millis) || millis < 0 || millis > 999) {
    ++audit_.invalid_times;
    Example(lineNumber, "invalid update time", std::string(line.field[kUpdateTime]) + "." +
                                                   std::string(line.field[kUpdateMillisec]));
    return;
  }
  const std::int64_t key = static_cast<std::int64_t>(SessionSecond(time)) * 1000 + millis;
  if (audit_.first_ms < 0 || key < audit_.first_ms) audit_.first_ms = key;
  audit_.last_ms = std::max(audit_.last_ms, key);
  if (previous_line_key_ >= 0 && key < previous_line_key_) {
    ++audit_.out_of_order;
    Example(lineNumber, "update time before the line above", line.field[kUpdateTime]);
  }
  previous_line_key_ = key;
  if (key >= previous_key_) TrackTime(key);
}

void ContractAuditor::CheckLastPrice(const CollectedLine& line, std::uint64_t lineNumber) {
  double last = 0;
  if (!ParseWhole(line.field[kLastPrice], &last) || std::isnan(last)) {
    ++audit_.last_outside_limits;
    Example(lineNumber, "last price is not a number", line.field[kLastPrice]);
    return;
  }
  if (last >= kUnsetPrice || last <= -kUnsetPrice) {
    ++audit_.last_max_double;
    Example(lineNumber, "last price carries the largest double", line.field[kLastPrice]);
    return;
  }
  // Limits rarely change within a day: parse them again only when their text does.
  if (line.field[kLowerLimitPrice] != lower_text_ || line.field[kUpperLimitPrice] != upper_text_) {
    double lower = 0, upper = 0;
    if (ParseWhole(line.field[kLowerLimitPrice], &lower) && ParseWhole(line.field[kUpperLimitPrice], &upper) &&
        ValidLimits(lower, upper)) {
      lower_text_.assign(line.field[kLowerLimitPrice]);
      upper_text_.assign(line.field[kUpperLimitPrice]);
      lower_limit_ = lower;
      upper_limit_ = upper;
    }
  }
  if (ValidLimits(lower_limit_, upper_limit_) && (last < lower_limit_ || last > upper_limit_)) {
    ++audit_.last_outside_limits;
    Example(lineNumber, "last price outside the day's limits",
            std::string(line.field[kLastPrice]) + " not in [" + lower_text_ + ", " + upper_text_ + "]");
  }
}

std::int64_t ContractAuditor::TradingMs(std::int64_t from, std::int64_t to) const {
  std::int64_t total = 0;
  for (const TradingSession& session : hours_->sessions()) {
    for (const TradingPeriod& period : session.periods) {
      const std::int64_t a = std::max<std::int64_t>(from, period.begin * 1000LL);
      const std::int64_t b = std::min<std::int64_t>(to, period.end * 1000LL);
      if (b > a) total += b - a;
    }
  }
  return total;
}

void ContractAuditor::TrackTime(std::int64_t key) {
  const int previousSession = previous_session_;
  const std::int64_t previousKey = previous_key_;
  previous_key_ = key;
  previous_session_ = -1;
  if (hours_ == nullptr) return;
  const ProductHours::Place place = hours_->Locate(static_cast<int>(key / 1000));
  if (place.session < 0) {
    ++audit_.outside_sessions;
    return;
  }
  previous_session_ = place.session;
  (hours_->sessions()[place.session].night() ? saw_night_ : saw_day_) = true;
  SessionSpan& span = spans_[place.session];
  if (span.first < 0) span.first = key;
  span.last = key;
  if (previousSession != place.session) return;
  const std::int64_t gap = TradingMs(previousKey, key);
  intervals_.push_back(static_cast<std::int32_t>(std::min<std::int64_t>(gap, INT32_MAX)));
  if (gap > options_.gap_seconds * 1000LL) {
    if (inside_candidates_.size() < ContractAudit::kMaxGaps) {
      inside_candidates_.push_back({{previousKey, key, gap, "inside"}, place.session});
    } else {
      ++inside_candidates_dropped_;
    }
  }
}

void ContractAuditor::EndOfFile() {
  if (static_cast<int>(intervals_.size()) >= options_.min_intervals) {
    auto middle = intervals_.begin() + static_cast<std::ptrdiff_t>(intervals_.size() / 2);
    std::nth_element(intervals_.begin(), middle, intervals_.end());
    audit_.median_interval_ms = *middle;
    audit_.active = audit_.median_interval_ms <= options_.active_median_ms;
  }
  std::vector<std::int32_t>().swap(intervals_);
  std::unordered_set<std::uint64_t>().swap(seen_);
}

void ContractAuditor::AddGap(std::int64_t from, std::int64_t to, const char* where) {
  const std::int64_t trading = TradingMs(from, to);
  if (trading <= options_.gap_seconds * 1000LL) return;
  if (audit_.gaps.size() < ContractAudit::kMaxGaps) {
    audit_.gaps.push_back({from, to, trading, where});
  } else {
    ++audit_.gaps_not_listed;
  }
}

ContractAudit ContractAuditor::Finish(bool nightCollected, bool dayCollected) {
  if (!audit_.active || hours_ == nullptr) return std::move(audit_);
  const std::int64_t until = options_.judge_until_ms;
  for (int i = 0; i < static_cast<int>(hours_->sessions().size()); ++i) {
    const TradingSession& session = hours_->sessions()[i];
    if (!(session.night() ? nightCollected : dayCollected)) continue;
    const std::int64_t open = session.begin() * 1000LL;
    if (until >= 0 && open >= until) continue;
    const std::int64_t close = until >= 0 ? std::min<std::int64_t>(session.end() * 1000LL, until)
                                          : session.end() * 1000LL;
    const SessionSpan& span = spans_[i];
    if (span.first < 0) {
      AddGap(open, close, "whole session");
      continue;
    }
    AddGap(open, span.first, "session start");
    for (const Candidate& c : inside_candidates_) {
      if (c.session != i) continue;
      if (audit_.gaps.size() < ContractAudit::kMaxGaps) {
        audit_.gaps.push_back(c.gap);
      } else {
        ++audit_.gaps_not_listed;
      }
    }
    if (span.last < close) AddGap(span.last, close, "session end");
  }
  audit_.gaps_not_listed += inside_candidates_dropped_;
  return std::move(audit_);
}
