#include "sessions/tick_classifier.h"

#include <chrono>
#include <cstring>

#include "sessions/civil_date.h"
#include "sessions/clock_time.h"
#include "sessions/session_clock.h"
#include "sessions/trading_day_rule.h"

namespace {

// Days from 0000-03-01 to 1970-01-01: the classifier's scale starts there so that every date of
// year 0 on has a positive count and -1 stays free to mean "unknown".
constexpr std::int64_t kDaysBeforeEpoch =
    (std::chrono::sys_days{std::chrono::year{1970} / 1 / 1} - std::chrono::sys_days{std::chrono::year{0} / 3 / 1}).count();

}  // namespace

const char* TickKindName(TickKind kind) {
  switch (kind) {
    case TickKind::kSession: return "session";
    case TickKind::kStale: return "stale";
    case TickKind::kTest: return "test";
  }
  return "?";
}

std::int64_t TickClassifier::LocalSeconds(int date, int timeOfDay) {
  return (DaysSinceEpoch(date) + kDaysBeforeEpoch) * 86400 + timeOfDay;
}

std::int64_t TickClassifier::StampSeconds(std::string_view stamp) {
  int date = 0, timeOfDay = 0;
  return ParseWriteStamp(stamp, &date, &timeOfDay) ? LocalSeconds(date, timeOfDay) : -1;
}

std::int64_t TickClassifier::StampReader::Seconds(std::string_view stamp) {
  if (stamp.size() == 14 && minute_seconds_ >= 0 && std::memcmp(stamp.data(), minute_, sizeof minute_) == 0) {
    const int tens = stamp[12] - '0', ones = stamp[13] - '0';
    if (tens >= 0 && tens <= 5 && ones >= 0 && ones <= 9) return minute_seconds_ + tens * 10 + ones;
  }
  const std::int64_t seconds = StampSeconds(stamp);
  if (seconds >= 0) {
    std::memcpy(minute_, stamp.data(), sizeof minute_);
    minute_seconds_ = seconds - ((stamp[12] - '0') * 10 + (stamp[13] - '0'));
  }
  return seconds;
}

std::int64_t TickClassifier::ReadingSeconds(const ClockReading& reading) {
  return LocalSeconds(DateOfReading(reading), TimeOfDayOfReading(reading));
}

TickClassifier::TickClassifier(const ProductHours* hours, int tradingDay, int toleranceSeconds)
    : hours_(hours), tolerance_(toleranceSeconds) {
  // The session clock runs on from 18:00 of the eve through the night; the day part is the
  // trading day's own date, which after a weekend is not the morning after the eve.
  if (IsCalendarDate(tradingDay)) {
    night_base_ = LocalSeconds(EveOfTradingDay(tradingDay), kEveSeconds);
    day_base_ = LocalSeconds(tradingDay, 0);
  }
}

TickKind TickClassifier::Classify(std::string_view updateTime, std::string_view writeStamp) const {
  return ClassifyTime(ParseClockTime(updateTime), writeStamp);
}

TickKind TickClassifier::ClassifyTime(int timeOfDay, std::string_view writeStamp) const {
  return ClassifyArrival(timeOfDay, timeOfDay < 0 ? -1 : StampSeconds(writeStamp));
}

TickKind TickClassifier::ClassifyArrival(int timeOfDay, std::int64_t arrival) const {
  if (timeOfDay < 0) return TickKind::kTest;
  const int sessionSecond = SessionSecond(timeOfDay);
  if (hours_ != nullptr && !hours_->Trades(sessionSecond)) return TickKind::kTest;  // outside, or in a break
  if (arrival < 0 || night_base_ == 0) return TickKind::kSession;
  const std::int64_t moment =
      sessionSecond < kDaySessionSecond ? night_base_ + sessionSecond : day_base_ + timeOfDay;
  const std::int64_t distance = moment > arrival ? moment - arrival : arrival - moment;
  return distance <= tolerance_ ? TickKind::kSession : TickKind::kStale;
}
