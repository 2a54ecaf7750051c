#ifndef QUOTELOOM_STORAGE_LOST_LINE_LOG_H
#define QUOTELOOM_STORAGE_LOST_LINE_LOG_H

#include <chrono>
#include <cstdint>

// Reports tick lines that reached neither their data file nor its fallback on the tab "断网日志",
// once per burst of losses instead of once per line: the first loss with both files and their
// errors, a running count at most every kSummaryInterval while losses go on, and the burst's count
// when lines are stored again. One per kind of file; owned and called by the tick writer thread.
class LostLineLog {
 public:
  using TimePoint = std::chrono::steady_clock::time_point;
  static constexpr std::chrono::seconds kSummaryInterval{5};

  // `kind` names the files in the summary lines: "DataTimeStream" or "Data".
  explicit LostLineLog(const char* kind) : kind_(kind) {}

  // A line was lost; `error` and `fallbackError` are errno values or kNotARegularFile.
  void Lost(TimePoint now, const char* path, int error, const char* fallback, int fallbackError);
  // A line reached its data file or its fallback.
  void Stored(TimePoint now);
  // Ends a burst once lines are stored again and none was lost for kSummaryInterval.
  void Poll(TimePoint now);
  // Ends a running burst now with its count (the writer stops).
  void Flush();

 private:
  void EndBurst(const char* how);

  const char* const kind_;
  bool inBurst_ = false;
  bool storedSinceLoss_ = false;
  std::uint64_t burstLost_ = 0;  // lines lost since the burst began
  TimePoint lastLoss_{};
  TimePoint lastLogged_{};
};

#endif
