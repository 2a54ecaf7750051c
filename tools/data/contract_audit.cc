#include "tools/data/contract_audit.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>

#include <xxhash.h>

#include "sessions/clock_time.h"
#include "sessions/session_clock.h"

namespace {

constexpr std::uint32_t kAuditedFields = 1u << kUpdateMillisec | 1u << kLastPrice | 1u << kLowerLimitPrice |
                                         1u << kUpperLimitPrice;

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

ContractAuditor::ContractAuditor(std::string contract, const AuditOptions& options, int day, HugePageArena* arena)
    : options_(options),
      hours_(FindProductHours(ProductOfContract(contract))),
      classifier_(hours_, day, options.tolerance_seconds),
      own_arena_(arena == nullptr ? std::make_unique<HugePageArena>() : nullptr),
      seen_(arena != nullptr ? arena : own_arena_.get()) {
  audit_.product = std::string(ProductOfContract(contract));
  audit_.contract = std::move(contract);
  audit_.hours_known = hours_ != nullptr;
  if (hours_ != nullptr) spans_.resize(hours_->sessions().size());
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

bool ContractAuditor::InOthers(std::uint64_t hash, bool insert) {
  if (hash == 0) hash = 1;
  if (others_.empty()) {
    if (!insert) return false;
    others_.assign(std::size_t{1} << 10, 0);
  }
  if (insert && (others_count_ + 1) * 2 > others_.size()) {
    std::vector<std::uint64_t> old(others_.size() * 2, 0);
    old.swap(others_);
    others_count_ = 0;
    for (std::uint64_t h : old) {
      if (h != 0) InOthers(h, true);
    }
  }
  const std::size_t mask = others_.size() - 1;
  for (std::size_t i = (hash * 0x9E3779B97F4A7C15ull) >> 20 & mask;; i = (i + 1) & mask) {
    if (others_[i] == hash) return true;
    if (others_[i] == 0) {
      if (insert) {
        others_[i] = hash;
        ++others_count_;
      }
      return false;
    }
  }
}

// Whether run `run` holds `hash` among its ticks of time `key`, looking from index `from` on.
bool ContractAuditor::InRun(std::size_t run, std::size_t from, std::int64_t key, std::uint64_t hash) const {
  const std::size_t end = run + 1 < run_begin_.size() ? run_begin_[run + 1] : seen_.size();
  for (std::size_t i = from; i < end && seen_[i].key == key; ++i) {
    if (seen_[i].hash == hash) return true;
  }
  return false;
}

bool ContractAuditor::FirstSeen(std::int64_t key, std::uint64_t hash) {
  const auto runEnd = [&](std::size_t run) { return run + 1 < run_begin_.size() ? run_begin_[run + 1] : seen_.size(); };
  // The first tick of `run` not before `key`.
  const auto lowerBound = [&](std::size_t run) {
    std::size_t first = run_begin_[run], count = runEnd(run) - first;
    while (count > 0) {
      const std::size_t half = count / 2;
      if (seen_[first + half].key < key) {
        first += half + 1;
        count -= half + 1;
      } else {
        count = half;
      }
    }
    return first;
  };
  if (key < 0 || (!seen_.empty() && key < seen_.back().key)) {
    // Out of order: searched in every run.
    if (key >= 0) {
      for (std::size_t run = 0; run < run_begin_.size(); ++run) {
        if (InRun(run, lowerBound(run), key, hash)) return false;
      }
    }
    if (InOthers(hash, false)) return false;
    if (key < 0 || run_begin_.size() >= kMaxRuns) return !InOthers(hash, true);
    // A new run; the cursors of the earlier ones start at its first time.
    run_begin_.push_back(seen_.size());
    cursor_.resize(run_begin_.size() - 1);
    for (std::size_t run = 0; run + 1 < run_begin_.size(); ++run) cursor_[run] = lowerBound(run);
    seen_.push_back({key, hash});
    return true;
  }
  if (run_begin_.empty()) run_begin_.push_back(0);
  // Its own run: ticks of the same time are at the end.
  for (std::size_t i = seen_.size(); i > run_begin_.back() && seen_[i - 1].key == key; --i) {
    if (seen_[i - 1].hash == hash) return false;
  }
  for (std::size_t run = 0; run < cursor_.size(); ++run) {
    const std::size_t end = run_begin_[run + 1];
    std::size_t& c = cursor_[run];
    while (c < end && seen_[c].key < key) ++c;
    if (InRun(run, c, key, hash)) return false;
  }
  if (!others_.empty() && InOthers(hash, false)) return false;
  seen_.push_back({key, hash});
  return true;
}

void ContractAuditor::Add(TickSource& source, const SourceTick& tick) {
  ++audit_.ticks;
  const std::uint64_t lineNumber = tick.number;
  const int time = ParseClockTime(tick.update_time);
  // Stale snapshots and test data are the front's, not the market's: counted, never judged.
  switch (options_.classify ? classifier_.ClassifyArrival(time, tick.arrival) : TickKind::kSession) {
    case TickKind::kStale:
      ++audit_.stale_snapshots;
      return;
    case TickKind::kTest:
      ++audit_.test_data;
      return;
    case TickKind::kSession:
      break;
  }
  const SourceValues values = source.Values(kAuditedFields);
  const long long millis = values.record->UpdateMillisec;
  const bool validTime = time >= 0 && (values.unreadable & (1u << kUpdateMillisec)) == 0 && millis >= 0 && millis <= 999;
  const std::int64_t key = validTime ? static_cast<std::int64_t>(SessionSecond(time)) * 1000 + millis : -1;
  if (!FirstSeen(key, XXH3_64bits(tick.content.data(), tick.content.size()))) {
    ++audit_.duplicates;
    Example(lineNumber, "duplicate", tick.update_time);
    return;
  }
  CheckLastPrice(source, values, lineNumber);
  if (!validTime) {
    ++audit_.invalid_times;
    Example(lineNumber, "invalid update time",
            std::string(tick.update_time) + "." + std::string(source.FieldText(kUpdateMillisec)));
    return;
  }
  if (audit_.first_ms < 0 || key < audit_.first_ms) audit_.first_ms = key;
  audit_.last_ms = std::max(audit_.last_ms, key);
  if (previous_line_key_ >= 0 && key < previous_line_key_) {
    ++audit_.out_of_order;
    Example(lineNumber, "update time before the line above", tick.update_time);
  }
  previous_line_key_ = key;
  if (key >= previous_key_) TrackTime(key);
}

void ContractAuditor::CheckLastPrice(TickSource& source, const SourceValues& values, std::uint64_t lineNumber) {
  const TickRecord& t = *values.record;
  const double last = t.LastPrice;
  if ((values.unreadable & (1u << kLastPrice)) != 0 || std::isnan(last)) {
    ++audit_.last_outside_limits;
    Example(lineNumber, "last price is not a number", source.FieldText(kLastPrice));
    return;
  }
  if (last >= kUnsetPrice || last <= -kUnsetPrice) {
    ++audit_.last_max_double;
    Example(lineNumber, "last price carries the largest double", source.FieldText(kLastPrice));
    return;
  }
  // Limits rarely change within a day: their texts are kept for a finding only when they do.
  const bool limitsRead = (values.unreadable & (1u << kLowerLimitPrice | 1u << kUpperLimitPrice)) == 0;
  if (limitsRead && (t.LowerLimitPrice != lower_limit_ || t.UpperLimitPrice != upper_limit_) &&
      ValidLimits(t.LowerLimitPrice, t.UpperLimitPrice)) {
    lower_text_.assign(source.FieldText(kLowerLimitPrice));
    upper_text_.assign(source.FieldText(kUpperLimitPrice));
    lower_limit_ = t.LowerLimitPrice;
    upper_limit_ = t.UpperLimitPrice;
  }
  if (ValidLimits(lower_limit_, upper_limit_) && (last < lower_limit_ || last > upper_limit_)) {
    ++audit_.last_outside_limits;
    Example(lineNumber, "last price outside the day's limits",
            std::string(source.FieldText(kLastPrice)) + " not in [" + lower_text_ + ", " + upper_text_ + "]");
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
  seen_.clear();
  std::vector<std::size_t>().swap(run_begin_);
  std::vector<std::size_t>().swap(cursor_);
  std::vector<std::uint64_t>().swap(others_);
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
