#ifndef QUOTELOOM_PLATFORM_FRONTSIM_TICK_GENERATOR_H
#define QUOTELOOM_PLATFORM_FRONTSIM_TICK_GENERATOR_H

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "platform/ctp/wire/front_message.h"
#include "core/clock.h"
#include "platform/frontsim/listed_contract.h"

// Random walks of the listed contracts; owned by the simulator's loop thread.
// Each contract has a generator of its own seeded from the seed and its code, so the n-th tick of
// a contract is the same whatever the order in which contracts are asked for.
class TickGenerator {
 public:
  TickGenerator(const std::vector<ListedContract>& contracts, std::uint64_t seed, std::string trading_day);

  // From 18:00 a front started without a fixed day announces the next one.
  void set_trading_day(const std::string& day) { trading_day_ = day; }
  // The next snapshot of contract index, stamped with the wall-clock reading now.
  void Next(std::size_t index, const ClockReading& now, FrontDepthMarketData* out);

 private:
  // Prices are kept as whole numbers of the contract's price tick and sent as the double nearest to
  // their decimal value, as an exchange sends them.
  struct Walk {
    std::mt19937_64 random;
    std::int64_t tick_units = 1;  // the tick is tick_units / tick_scale exactly, in decimals
    double tick_scale = 1;
    std::int64_t pre_settlement = 0;
    std::int64_t pre_close = 0;
    std::int64_t upper = 0;
    std::int64_t lower = 0;
    std::int64_t open = 0;
    std::int64_t last = 0;
    std::int64_t high = 0;
    std::int64_t low = 0;
    double pre_open_interest = 0;
    double turnover = 0;
    double open_interest = 0;
    int volume = 0;

    // `ticks` price ticks: one correctly rounded division of two exact integers is the double
    // nearest to the decimal price.
    double Price(std::int64_t ticks) const { return static_cast<double>(ticks * tick_units) / tick_scale; }
  };

  void Step(const ListedContract& contract, Walk& walk);

  const std::vector<ListedContract>& contracts_;
  std::vector<Walk> walks_;
  std::string trading_day_;
};

#endif
