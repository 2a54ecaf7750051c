#include "tools/plotmire_sample_day/sample_day_writer.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <random>
#include <vector>

namespace {

struct Session {
  int begin;  // seconds since midnight
  int end;
};

// Night first, then the day with its morning break and lunch.
const Session kSessions[] = {
    {21 * 3600, 23 * 3600}, {9 * 3600, 10 * 3600 + 15 * 60}, {10 * 3600 + 30 * 60, 11 * 3600 + 30 * 60},
    {13 * 3600 + 30 * 60, 15 * 3600}};

struct State {
  double last;
  double high;
  double low;
  double open;
  int64_t volume = 0;
  double turnover = 0;
  double interest;
};

void WriteLine(std::ostream& out, const SampleDay& day, const State& s, int time, int millis, bool night,
               double upper, double lower, std::mt19937& rng) {
  std::uniform_int_distribution<int> depth(1, 400);
  const bool bid_at_last = rng() % 2 == 0;
  const double bid = bid_at_last ? s.last : s.last - 1;
  const double average = s.volume > 0 ? s.turnover / static_cast<double>(s.volume) : s.last * day.contract_size;
  const std::string& date = night ? day.eve_day : day.trading_day;
  char line[512];
  std::snprintf(line, sizeof(line),
                "%s%02d%02d%02d,%s,%s,%s,%02d:%02d:%02d,%d,%.2f,%lld,%.2f,%.2f,%.2f,%.2f,%.2f,%.2f,%d,%.2f,%d,%.2f,%.2f,"
                "%.2f,%.2f,%.2f,%.2f,%.2f\r\n",
                date.c_str(), time / 3600, time / 60 % 60, time % 60, day.contract.c_str(), day.trading_day.c_str(),
                date.c_str(), time / 3600, time / 60 % 60, time % 60, millis, s.last,
                static_cast<long long>(s.volume), s.high, s.low, s.open, -1.0, average, bid + 1, depth(rng), bid,
                depth(rng), upper, lower, s.interest, s.turnover, day.pre_settlement - 2, s.interest - 1234.0,
                day.pre_settlement);
  out << line;
}

}  // namespace

void WriteSampleDay(const SampleDay& day, std::ostream& out) {
  std::mt19937 rng(day.seed);
  std::normal_distribution<double> normal(0, 1);
  const double upper = std::round(day.pre_settlement * 1.07);
  const double lower = std::round(day.pre_settlement * 0.93);
  int total = 0;
  for (const Session& s : kSessions) total += s.end - s.begin;

  // Tick moments in tenths of a second across all sessions, two opening auctions aside.
  const int64_t ticks = std::max<int64_t>(0, day.lines - 2);
  std::uniform_int_distribution<int> moment(0, total * 10 - 1);
  std::vector<int> moments(static_cast<size_t>(ticks));
  for (int& m : moments) m = moment(rng);
  std::sort(moments.begin(), moments.end());

  State s;
  s.last = day.pre_settlement + std::round(normal(rng) * 8);
  s.high = s.low = s.open = s.last;
  s.interest = 1650000;
  double drift = 0;
  size_t next = 0;
  int offset = 0;  // seconds of the sessions before the current one
  for (size_t si = 0; si < std::size(kSessions); ++si) {
    const Session& session = kSessions[si];
    const int length = session.end - session.begin;
    if (si == 0 || si == 1) {  // the auction a minute before the night and the day open
      const int64_t v = 2000 + static_cast<int64_t>(rng() % 3000);
      s.volume += v;
      s.turnover += s.last * static_cast<double>(v) * day.contract_size;
      s.interest += std::round(static_cast<double>(v) * 0.3);
      WriteLine(out, day, s, session.begin - 60, 0, si == 0, upper, lower, rng);
    }
    for (; next < moments.size() && moments[next] < (offset + length) * 10; ++next) {
      const int tenth = moments[next] - offset * 10;
      const int time = session.begin + tenth / 10;
      const double minutes_in = tenth / 600.0;
      if (rng() % 1500 == 0) drift = normal(rng) * 0.06;  // a new mood of the market now and then
      const double step = std::round(normal(rng) * 0.4 + drift + (day.pre_settlement + 10 - s.last) * 0.002);
      s.last = std::clamp(s.last + step, lower, upper);
      s.high = std::max(s.high, s.last);
      s.low = std::min(s.low, s.last);
      const double busy = 1 + 3 * std::exp(-minutes_in / 12);
      const int64_t v = static_cast<int64_t>(std::exp(normal(rng) * 0.9 + 2.2) * busy * (1 + std::abs(step)));
      s.volume += v;
      s.turnover += s.last * static_cast<double>(v) * day.contract_size;
      s.interest = std::max(0.0, s.interest + std::round(normal(rng) * static_cast<double>(v) * 0.4 + v * 0.02));
      WriteLine(out, day, s, time, (tenth % 10) < 5 ? 0 : 500, si == 0, upper, lower, rng);
    }
    offset += length;
  }
}
