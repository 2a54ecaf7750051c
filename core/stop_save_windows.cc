#include "core/stop_save_windows.h"

bool StopSaveWindows::Contains(double x) const {
  return (begin1() < x && x < end1()) || (begin2() < x && x < end2());
}

void StopSaveWindows::Set(double begin1, double end1, double begin2, double end2) {
  begin1_.store(begin1, std::memory_order_relaxed);
  end1_.store(end1, std::memory_order_relaxed);
  begin2_.store(begin2, std::memory_order_relaxed);
  end2_.store(end2, std::memory_order_relaxed);
}
