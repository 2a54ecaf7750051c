#include "plotmire/chart_data.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <iterator>
#include <limits>
#include <numeric>

namespace {

int64_t SortKey(const ChartTick& t) {
  return static_cast<int64_t>(SessionAxis::SessionKey(t.time_of_day)) * 1000 + t.millis;
}

// Contract sizes of the Chinese futures market by which an average price may be multiplied.
constexpr std::array<int, 14> kContractSizes = {1, 2, 5, 10, 15, 20, 30, 50, 60, 100, 200, 300, 1000, 10000};

// The rise of a cumulative volume, 0 where it fell; the file may hold any 64-bit values, so a
// rise beyond the range saturates instead of overflowing.
int64_t VolumeRise(int64_t before, int64_t now) {
  if (now <= before) return 0;
  int64_t rise = 0;
  return __builtin_sub_overflow(now, before, &rise) ? std::numeric_limits<int64_t>::max() : rise;
}

}  // namespace

void ChartData::Clear() {
  ticks_ = {};  // a big day's memory is given back, not kept for the next file
  keys_ = {};
  Derive();
}

void ChartData::Append(std::vector<ChartTick> ticks) {
  if (ticks.empty()) return;
  bool in_order = true;
  int64_t previous = keys_.empty() ? INT64_MIN : keys_.back();
  const size_t first_new = ticks_.size();
  if (ticks_.empty()) {
    ticks_ = std::move(ticks);  // a whole file's ticks are taken over, not copied
  } else {
    ticks_.reserve(ticks_.size() + ticks.size());
    std::move(ticks.begin(), ticks.end(), std::back_inserter(ticks_));
  }
  keys_.reserve(ticks_.size());
  for (size_t i = first_new; i < ticks_.size(); ++i) {
    const int64_t key = SortKey(ticks_[i]);
    in_order = in_order && key >= previous;
    previous = key;
    keys_.push_back(key);
  }
  if (!in_order) {
    std::vector<size_t> order(ticks_.size());
    std::iota(order.begin(), order.end(), size_t{0});
    std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) { return keys_[a] < keys_[b]; });
    std::vector<ChartTick> sorted;
    std::vector<int64_t> sorted_keys;
    sorted.reserve(ticks_.size());
    sorted_keys.reserve(ticks_.size());
    for (size_t i : order) {
      sorted.push_back(std::move(ticks_[i]));
      sorted_keys.push_back(keys_[i]);
    }
    ticks_ = std::move(sorted);
    keys_ = std::move(sorted_keys);
  }
  Derive();
}

void ChartData::Derive() {
  const size_t n = ticks_.size();
  std::vector<int> seconds(n);
  for (size_t i = 0; i < n; ++i) seconds[i] = static_cast<int>(keys_[i] / 1000);
  axis_.Build(seconds);
  xs_.resize(n);
  tick_volumes_.resize(n);
  directions_.resize(n);
  double last_price = NAN;
  for (size_t i = 0; i < n; ++i) {
    const ChartTick& t = ticks_[i];
    xs_[i] = axis_.Position(seconds[i], t.millis);
    tick_volumes_[i] = i == 0 ? 0 : VolumeRise(ticks_[i - 1].volume, t.volume);
    directions_[i] = 0;
    if (HasValue(t.last)) {
      if (HasValue(last_price)) directions_[i] = t.last > last_price ? 1 : (t.last < last_price ? -1 : 0);
      last_price = t.last;
    }
  }
  average_divisor_ = EstimateAverageDivisor();
  price_decimals_ = CountPriceDecimals();
  reference_price_ = NAN;
  for (size_t i = n; i-- > 0 && !HasValue(reference_price_);) {
    if (HasValue(ticks_[i].pre_settlement)) reference_price_ = ticks_[i].pre_settlement;
  }
  for (size_t i = n; i-- > 0 && !HasValue(reference_price_);) {
    if (HasValue(ticks_[i].pre_close)) reference_price_ = ticks_[i].pre_close;
  }
  for (size_t i = 0; i < n && !HasValue(reference_price_); ++i) {
    if (HasValue(ticks_[i].last)) reference_price_ = ticks_[i].last;
  }
}

int ChartData::EstimateAverageDivisor() const {
  std::vector<double> ratios;
  const size_t step = std::max<size_t>(1, ticks_.size() / 2000);
  for (size_t i = 0; i < ticks_.size(); i += step) {
    const ChartTick& t = ticks_[i];
    if (HasValue(t.average) && HasValue(t.last)) ratios.push_back(t.average / t.last);
  }
  if (ratios.empty()) return 1;
  auto middle = ratios.begin() + ratios.size() / 2;
  std::nth_element(ratios.begin(), middle, ratios.end());
  const double ratio = *middle;
  int best = 1;
  for (int size : kContractSizes) {
    if (std::abs(std::log(ratio / size)) < std::abs(std::log(ratio / best))) best = size;
  }
  return best;
}

int ChartData::CountPriceDecimals() const {
  int decimals = 0;
  const size_t step = std::max<size_t>(1, ticks_.size() / 5000);
  for (size_t i = 0; i < ticks_.size() && decimals < 2; i += step) {
    const double v = ticks_[i].last;
    if (!HasValue(v)) continue;
    if (std::abs(v * 10 - std::round(v * 10)) > 1e-6) {
      decimals = 2;
    } else if (std::abs(v - std::round(v)) > 1e-6) {
      decimals = 1;
    }
  }
  return decimals;
}

double ChartData::average(size_t i) const {
  const double a = ticks_[i].average;
  return HasValue(a) ? a / average_divisor_ : NAN;
}

int ChartData::NearestTick(double x) const {
  if (xs_.empty()) return -1;
  // Of ticks at the same spot the last one counts: it shows the state after all of them.
  auto it = std::upper_bound(xs_.begin(), xs_.end(), x);
  if (it == xs_.end()) return static_cast<int>(xs_.size()) - 1;
  if (it == xs_.begin()) return 0;
  const auto before = it - 1;
  if (x - *before <= *it - x) return static_cast<int>(before - xs_.begin());
  return static_cast<int>(std::upper_bound(it, xs_.end(), *it) - xs_.begin()) - 1;
}

std::pair<size_t, size_t> ChartData::TicksBetween(double from, double to) const {
  size_t first = static_cast<size_t>(std::lower_bound(xs_.begin(), xs_.end(), from) - xs_.begin());
  size_t end = static_cast<size_t>(std::upper_bound(xs_.begin(), xs_.end(), to) - xs_.begin());
  if (first > 0) --first;
  if (end < xs_.size()) ++end;
  return {first, std::max(first, end)};
}
