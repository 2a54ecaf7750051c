#include "platform/frontsim/tick_generator.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace {

std::uint64_t Fnv1a(const std::string& text) {
  std::uint64_t hash = 1469598103934665603ull;
  for (unsigned char c : text) hash = (hash ^ c) * 1099511628211ull;
  return hash;
}

// The whole ticks nearest to a price.
std::int64_t TicksOf(double price, double tick) { return std::llround(price / tick); }

// The smallest power of ten that makes the tick a whole number (0.005 -> 1000), at most 10^9.
std::int64_t DecimalScaleOf(double tick) {
  std::int64_t scale = 1;
  while (scale < 1000000000 && std::fabs(tick * scale - std::round(tick * scale)) > 1e-6) scale *= 10;
  return scale;
}

// Uniform integer in [low, high].
int Uniform(std::mt19937_64& random, int low, int high) {
  return low + static_cast<int>(random() % static_cast<std::uint64_t>(high - low + 1));
}

template <std::size_t N>
void CopyText(char (&to)[N], const std::string& from) {
  std::snprintf(to, N, "%s", from.c_str());
}

}  // namespace

TickGenerator::TickGenerator(const std::vector<ListedContract>& contracts, std::uint64_t seed,
                             std::string trading_day)
    : contracts_(contracts), trading_day_(std::move(trading_day)) {
  walks_.resize(contracts.size());
  for (std::size_t i = 0; i < contracts.size(); ++i) {
    const ListedContract& c = contracts[i];
    Walk& w = walks_[i];
    w.random.seed(seed * 0x9E3779B97F4A7C15ull ^ Fnv1a(c.code));
    const std::int64_t scale = DecimalScaleOf(c.tick);
    w.tick_scale = static_cast<double>(scale);
    w.tick_units = std::max<std::int64_t>(1, std::llround(c.tick * static_cast<double>(scale)));
    double spread = (Uniform(w.random, 0, 2000) - 1000) / 10000.0;  // within 10% of the product level
    w.pre_settlement = TicksOf(c.base_price * (1 + spread), c.tick);
    w.pre_close = w.pre_settlement + Uniform(w.random, -5, 5);
    // Up to a few million, as busy contracts have: beyond what six significant digits hold.
    w.pre_open_interest = Uniform(w.random, 1000, 3000000);
    w.upper = TicksOf(w.Price(w.pre_settlement) * 1.07, c.tick);
    w.lower = TicksOf(w.Price(w.pre_settlement) * 0.93, c.tick);
    w.open_interest = w.pre_open_interest;
  }
}

void TickGenerator::Step(const ListedContract& c, Walk& w) {
  if (w.volume == 0) {
    w.open = w.last = w.high = w.low = w.pre_close + Uniform(w.random, -3, 3);
  } else {
    static constexpr int kSteps[] = {-2, -1, -1, 0, 0, 0, 0, 1, 1, 2};
    w.last += kSteps[Uniform(w.random, 0, 9)];
  }
  if (w.last > w.upper) w.last = w.upper;
  if (w.last < w.lower) w.last = w.lower;
  if (w.last > w.high) w.high = w.last;
  if (w.last < w.low) w.low = w.last;
  int traded = Uniform(w.random, 1, 40);
  w.volume += traded;
  w.turnover += traded * w.Price(w.last) * c.multiplier;
  w.open_interest += Uniform(w.random, -traded, traded);
  if (w.open_interest < 0) w.open_interest = 0;
}

void TickGenerator::Next(std::size_t index, const ClockReading& now, FrontDepthMarketData* out) {
  const ListedContract& c = contracts_[index];
  Walk& w = walks_[index];
  Step(c, w);
  std::memset(out, 0, sizeof *out);
  CopyText(out->TradingDay, trading_day_);
  CopyText(out->InstrumentID, c.code);
  CopyText(out->ExchangeID, c.exchange);
  CopyText(out->ExchangeInstID, c.code);
  std::snprintf(out->ActionDay, sizeof out->ActionDay, "%04d%02d%02d", now.year, now.month, now.day);
  std::snprintf(out->UpdateTime, sizeof out->UpdateTime, "%02d:%02d:%02d", now.hour, now.minute, now.second);
  out->UpdateMillisec = now.millisecond;
  out->LastPrice = w.Price(w.last);
  out->PreSettlementPrice = w.Price(w.pre_settlement);
  out->PreClosePrice = w.Price(w.pre_close);
  out->PreOpenInterest = w.pre_open_interest;
  out->OpenPrice = w.Price(w.open);
  out->HighestPrice = w.Price(w.high);
  out->LowestPrice = w.Price(w.low);
  out->Volume = w.volume;
  out->Turnover = w.turnover;
  out->OpenInterest = w.open_interest;
  // Set by the exchange only after the close.
  out->ClosePrice = DBL_MAX;
  out->SettlementPrice = DBL_MAX;
  out->CurrDelta = DBL_MAX;
  out->PreDelta = 0;
  out->UpperLimitPrice = w.Price(w.upper);
  out->LowerLimitPrice = w.Price(w.lower);
  double per_unit = c.average_is_price ? c.multiplier : 1;
  out->AveragePrice = w.turnover / (w.volume * per_unit);
  const std::int64_t bid = Uniform(w.random, 0, 1) == 0 ? w.last - 1 : w.last;
  double* bids[] = {&out->BidPrice1, &out->BidPrice2, &out->BidPrice3, &out->BidPrice4, &out->BidPrice5};
  double* asks[] = {&out->AskPrice1, &out->AskPrice2, &out->AskPrice3, &out->AskPrice4, &out->AskPrice5};
  int* bid_volumes[] = {&out->BidVolume1, &out->BidVolume2, &out->BidVolume3, &out->BidVolume4, &out->BidVolume5};
  int* ask_volumes[] = {&out->AskVolume1, &out->AskVolume2, &out->AskVolume3, &out->AskVolume4, &out->AskVolume5};
  for (int level = 0; level < 5; ++level) {
    *bids[level] = w.Price(bid - level);
    *asks[level] = w.Price(bid + level + 1);
    *bid_volumes[level] = Uniform(w.random, 1, 300);
    *ask_volumes[level] = Uniform(w.random, 1, 300);
  }
}
