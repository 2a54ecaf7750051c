#ifndef QUOTELOOM_CORE_STOP_SAVE_WINDOWS_H
#define QUOTELOOM_CORE_STOP_SAVE_WINDOWS_H

#include <atomic>

// The two daily windows (HHMM / 10000.0) in which ticks are not stored.
// Written once by the collector thread, read by the callback and window threads (relaxed: each
// value is one aligned 8-byte access and either the old or the new set is acceptable).
class StopSaveWindows {
 public:
  // Clock time as (hour * 100 + minute) * 0.0001, the form the windows are compared with.
  static double ClockValue(int hour, int minute) { return (hour * 100 + minute) * 0.0001; }

  // True when begin < x < end for either window (strict, so a window across midnight never applies).
  bool Contains(double x) const;

  void Set(double begin1, double end1, double begin2, double end2);
  double begin1() const { return begin1_.load(std::memory_order_relaxed); }
  double end1() const { return end1_.load(std::memory_order_relaxed); }
  double begin2() const { return begin2_.load(std::memory_order_relaxed); }
  double end2() const { return end2_.load(std::memory_order_relaxed); }

 private:
  // Until setting.ini is read: 03:00-08:40 and 15:30-20:40.
  std::atomic<double> begin1_{0.03};
  std::atomic<double> end1_{0.084};
  std::atomic<double> begin2_{0.153};
  std::atomic<double> end2_{0.204};
};

#endif
