#ifndef QUOTELOOM_PLATFORM_FRONTSIM_TICK_PACER_H
#define QUOTELOOM_PLATFORM_FRONTSIM_TICK_PACER_H

#include <chrono>
#include <cstdint>

// Spreads a rate of ticks evenly over time; owned by the simulator's loop thread.
class TickPacer {
 public:
  using Clock = std::chrono::steady_clock;

  // The ticks due by now at rate per second, counted as sent. A change of rate starts the count
  // again; more than a tenth of a second of lateness is forgotten, so a stall never becomes a burst.
  std::uint64_t Due(double rate, Clock::time_point now);
  void Restart(Clock::time_point now);

 private:
  Clock::time_point base_;
  double counted_ = 0;
  double rate_ = 0;
};

#endif
