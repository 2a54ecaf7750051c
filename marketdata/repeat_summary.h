#ifndef QUOTELOOM_MARKETDATA_REPEAT_SUMMARY_H
#define QUOTELOOM_MARKETDATA_REPEAT_SUMMARY_H

#include <cstdint>
#include <string>

// Keeps a line that repeats from flooding the log while a front is down for a night or a weekend:
// the first time it is written as it is, then at most once per interval with a running count, and
// at the recovery with the total. Owned by the API's callback thread.
class RepeatSummary {
 public:
  explicit RepeatSummary(int intervalSeconds = 300) : interval_(intervalSeconds) {}

  // What to write for one more occurrence of `line` at `nowSeconds` (any steady count of seconds):
  // the line itself, a count line, or an empty string for nothing.
  std::string Occur(const std::string& line, std::int64_t nowSeconds);
  // What to write when the trouble is over (before the recovery's own line): the total when some
  // occurrences were not written; empty otherwise. Starts afresh.
  std::string Recover();

 private:
  const int interval_;
  std::string line_;              // the repeating line, empty before the first
  std::uint64_t count_ = 0;       // occurrences since the first
  std::uint64_t unwritten_ = 0;   // occurrences since a line was last written
  std::int64_t written_at_ = 0;
};

#endif
