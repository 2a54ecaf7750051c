#include "platform/frontsim/tick_pacer.h"

std::uint64_t TickPacer::Due(double rate, Clock::time_point now) {
  if (rate != rate_) {
    rate_ = rate;
    Restart(now);
    return 0;
  }
  if (rate <= 0) return 0;
  double owed = rate * std::chrono::duration<double>(now - base_).count() - counted_;
  if (owed < 1) return 0;
  double most = rate * 0.1 + 1;
  if (owed > most) {
    counted_ += owed - most;
    owed = most;
  }
  auto count = static_cast<std::uint64_t>(owed);
  counted_ += static_cast<double>(count);
  return count;
}

void TickPacer::Restart(Clock::time_point now) {
  base_ = now;
  counted_ = 0;
}
