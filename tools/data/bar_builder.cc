#include "tools/data/bar_builder.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "sessions/clock_time.h"
#include "sessions/session_clock.h"
#include "tools/data/exact_line.h"

namespace {

// a - b rounded to the decimals its operands were given with, so a difference of two turnovers in
// cents reads 52440377.97 and not 52440377.970000006.
double RoundedDifference(double a, double b) {
  const int decimals = std::max(ShortestDecimals(a), ShortestDecimals(b));
  char text[400];
  std::snprintf(text, sizeof text, "%.*f", decimals, a - b);
  return std::strtod(text, nullptr);
}

}  // namespace

std::optional<int> ParseBarPeriod(std::string_view name) {
  if (name == "1m") return 60;
  if (name == "5m") return 300;
  if (name == "15m") return 900;
  if (name == "1h") return 3600;
  if (name == "1d") return kDailyBar;
  return std::nullopt;
}

BarSlots::BarSlots(const ProductHours& hours, int period) : slot_of_second_(kDaySeconds, -1) {
  if (period == kDailyBar) {
    const auto& sessions = hours.sessions();
    slots_.push_back({sessions.front().begin(), sessions.back().end()});
    for (const TradingSession& session : sessions) {
      std::fill(slot_of_second_.begin() + session.auction_begin, slot_of_second_.begin() + session.end() + 1, 0);
      for (std::size_t p = 1; p < session.periods.size(); ++p) {
        std::fill(slot_of_second_.begin() + session.periods[p - 1].end + 1,
                  slot_of_second_.begin() + session.periods[p].begin, -1);
      }
    }
    return;
  }
  // Session seconds start at 18:00, a whole number of hours, so multiples of the period in
  // session seconds are multiples on the clock too.
  for (const TradingSession& session : hours.sessions()) {
    const int firstSlot = static_cast<int>(slots_.size());
    for (const TradingPeriod& p : session.periods) {
      for (int begin = p.begin; begin < p.end;) {
        const int end = std::min((begin / period + 1) * period, p.end);
        const int slot = static_cast<int>(slots_.size());
        slots_.push_back({begin, end});
        std::fill(slot_of_second_.begin() + begin, slot_of_second_.begin() + end, static_cast<std::int16_t>(slot));
        begin = end;
      }
      // The closing snapshot, stamped exactly at the end, belongs to the last bar.
      slot_of_second_[p.end] = static_cast<std::int16_t>(slots_.size() - 1);
    }
    std::fill(slot_of_second_.begin() + session.auction_begin, slot_of_second_.begin() + session.begin(),
              static_cast<std::int16_t>(firstSlot));
  }
}

BarBuilder::BarBuilder(const BarSlots& slots) : slots_(slots), state_(slots.slots().size()) {}

void BarBuilder::Add(const TickRecord& record, std::uint32_t unreadable, std::string_view content) {
  if (content == previous_content_) return;
  previous_content_.assign(content);
  const auto readable = [&](CollectedField field) { return (unreadable & (1u << field)) == 0; };
  TickValues tick;
  tick.time = ParseClockTime(std::string_view(record.UpdateTime, strnlen(record.UpdateTime, sizeof(record.UpdateTime))));
  tick.millis = readable(kUpdateMillisec) ? record.UpdateMillisec : -1;
  tick.priced = readable(kLastPrice);
  tick.last = record.LastPrice;
  tick.cumulative = readable(kVolume) && readable(kTurnover) && readable(kOpenInterest);
  tick.volume = record.Volume;
  tick.turnover = record.Turnover;
  tick.interest = record.OpenInterest;
  AddValues(tick);
}

void BarBuilder::AddValues(const TickValues& tick) {
  if (tick.time < 0 || tick.millis < 0 || tick.millis > 999) {
    ++left_out_;
    return;
  }
  const int second = SessionSecond(tick.time);
  const int index = slots_.SlotOf(second);
  if (index < 0) {
    ++left_out_;
    return;
  }
  const std::int64_t key = second * 1000LL + tick.millis;
  Slot& slot = state_[index];
  ++slot.ticks;
  const double last = tick.last;
  if (tick.priced && std::isfinite(last) && last > 0 && last < kUnsetPrice) {
    if (!slot.priced) {
      slot.open = slot.high = slot.low = slot.close = last;
      slot.open_key = slot.close_key = key;
      slot.priced = true;
    } else {
      slot.high = std::max(slot.high, last);
      slot.low = std::min(slot.low, last);
      if (key < slot.open_key) {
        slot.open = last;
        slot.open_key = key;
      }
      if (key >= slot.close_key) {
        slot.close = last;
        slot.close_key = key;
      }
    }
  }
  if (key >= slot.last_key && tick.cumulative) {
    slot.last_key = key;
    slot.volume = tick.volume;
    slot.turnover = tick.turnover;
    slot.open_interest = tick.interest;
  }
}

std::vector<Bar> BarBuilder::Finish() const {
  std::vector<Bar> bars;
  // The cumulative values start from zero each trading day; a fall (a bad tick) adds nothing.
  long long volumeBefore = 0;
  double turnoverBefore = 0;
  for (std::size_t i = 0; i < state_.size(); ++i) {
    const Slot& s = state_[i];
    // A bar without a price is not written; what it traded counts in the next one.
    if (!s.priced) continue;
    Bar bar;
    bar.begin = slots_.slots()[i].first;
    bar.end = slots_.slots()[i].second;
    bar.open = s.open;
    bar.high = s.high;
    bar.low = s.low;
    bar.close = s.close;
    bar.ticks = s.ticks;
    bar.open_interest = s.open_interest;
    if (s.last_key >= 0) {
      bar.volume = std::max(0LL, s.volume - volumeBefore);
      bar.turnover = std::max(0.0, RoundedDifference(s.turnover, turnoverBefore));
      volumeBefore = std::max(volumeBefore, s.volume);
      turnoverBefore = std::max(turnoverBefore, s.turnover);
    }
    bars.push_back(bar);
  }
  return bars;
}
