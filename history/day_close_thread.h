#ifndef QUOTELOOM_HISTORY_DAY_CLOSE_THREAD_H
#define QUOTELOOM_HISTORY_DAY_CLOSE_THREAD_H

#include <atomic>
#include <thread>

#include "history/day_close_job.h"

class Clock;

// Runs the day-close job on a thread of its own at the lowest CPU and disk priority, so packing
// never takes time from the tick path: once at start, then every `intervalSeconds`. Started and
// stopped by the thread that owns the collector; a pack under way is given up and ends before Stop returns.
class DayCloseThread {
 public:
  struct Options {
    int intervalSeconds = 300;
    int settleSeconds = 600;  // a day's files unchanged this long count as finished
  };

  DayCloseThread(DayCloseJob& job, const Clock& clock, Options options);
  ~DayCloseThread();
  DayCloseThread(const DayCloseThread&) = delete;
  DayCloseThread& operator=(const DayCloseThread&) = delete;

  // `said` (may be null) gets a line when the thread cannot lower its priority.
  void Start(const DayCloseJob::Log& said);
  void Stop();
  // Passes finished so far; any thread.
  int passes() const { return passes_.load(std::memory_order_acquire); }

  // Lowers the calling thread to SCHED_IDLE (nice 19 where refused) and its disk priority to the
  // idle class. Empty, or what could not be lowered.
  static std::string LowerCallingThreadPriority();

 private:
  void Run(const DayCloseJob::Log& said);

  DayCloseJob& job_;
  const Clock& clock_;
  const Options options_;
  std::thread thread_;
  // Written by the owning thread, read by the day-close thread.
  std::atomic<bool> stopping_{false};
  // Written by the day-close thread, read by any.
  std::atomic<int> passes_{0};
};

#endif
