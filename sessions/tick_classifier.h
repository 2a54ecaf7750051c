#ifndef QUOTELOOM_SESSIONS_TICK_CLASSIFIER_H
#define QUOTELOOM_SESSIONS_TICK_CLASSIFIER_H

#include <cstdint>
#include <string_view>

#include "core/clock.h"
#include "sessions/product_hours.h"

// Which stored ticks are the market. A front also pushes the last snapshot on every subscription
// (stale outside the sessions) and brokers' counters send test data after the close; the collector
// stores both as they come, and every reader tells them apart with this one rule. One classifier
// per contract and trading day; one thread at a time.

enum class TickKind {
  kSession,  // the update time lies in the product's hours and close to when it arrived
  kStale,    // a valid time in the hours, but far from its arrival: an old snapshot
  kTest,     // outside the product's auctions and periods (breaks too), or not a clock time at all
};

const char* TickKindName(TickKind kind);  // "session", "stale", "test"

inline constexpr int kDefaultToleranceSeconds = 300;

class TickClassifier {
 public:
  // `hours` null: a product the session table does not know; its ticks are judged on the arrival
  // alone. `tradingDay` is the day the collector filed the tick under.
  TickClassifier(const ProductHours* hours, int tradingDay, int toleranceSeconds = kDefaultToleranceSeconds);

  // `updateTime` "HH:MM:SS" as the front sent it; `writeStamp` the collector's 14-digit
  // yyyymmddHHMMSS of arrival. A stamp that is not one cannot be compared and leaves the hours
  // alone to decide.
  TickKind Classify(std::string_view updateTime, std::string_view writeStamp) const;
  // The same for an update time already read as seconds since midnight (-1: invalid).
  TickKind ClassifyTime(int timeOfDay, std::string_view writeStamp) const;
  // The same with the arrival already on the LocalSeconds scale (-1: not known).
  TickKind ClassifyArrival(int timeOfDay, std::int64_t arrival) const;

  // Seconds since 0000-03-01 of a local clock reading; the scale write stamps are compared on.
  static std::int64_t LocalSeconds(int date, int timeOfDay);
  // The same of a 14-digit write stamp; -1 when it is not one.
  static std::int64_t StampSeconds(std::string_view writeStamp);
  // The same of a clock reading.
  static std::int64_t ReadingSeconds(const ClockReading& reading);

  // StampSeconds of stamps read one after another, the last minute's reading kept: the stamps of
  // a file come many to a minute. One thread.
  class StampReader {
   public:
    std::int64_t Seconds(std::string_view writeStamp);

   private:
    char minute_[12] = {};
    std::int64_t minute_seconds_ = -1;  // of minute_ at second 00; -1: none yet
  };

 private:
  const ProductHours* hours_;
  std::int64_t night_base_ = 0;  // local seconds of 18:00 on the evening the night falls on
  std::int64_t day_base_ = 0;    // local seconds of 00:00 on the trading day
  std::int64_t tolerance_ = 0;
};

#endif
