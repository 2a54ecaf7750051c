#include "plotmire/session_axis.h"

#include <algorithm>
#include <cmath>

#include "sessions/session_clock.h"

namespace {

QString MinuteText(int session_minute) {
  const int clock = (session_minute + kEveSeconds / 60) % (24 * 60);
  return QStringLiteral("%1:%2").arg(clock / 60, 2, 10, QLatin1Char('0')).arg(clock % 60, 2, 10, QLatin1Char('0'));
}

}  // namespace

int SessionAxis::SessionKey(int time_of_day) {
  return SessionSecond(time_of_day);
}

void SessionAxis::Build(const std::vector<int>& sorted_keys) {
  minutes_.clear();
  for (int key : sorted_keys) {
    const int minute = key / 60;
    if (minutes_.empty()) {
      minutes_.push_back(minute);
      continue;
    }
    const int previous = minutes_.back();
    if (minute <= previous) continue;
    if (minute - previous <= kMaxQuietMinutes + 1) {
      for (int m = previous + 1; m < minute; ++m) minutes_.push_back(m);
    }
    minutes_.push_back(minute);
  }
}

double SessionAxis::Position(int key, int millis) const {
  const int minute = key / 60;
  auto it = std::lower_bound(minutes_.begin(), minutes_.end(), minute);
  const double index = static_cast<double>(it - minutes_.begin());
  if (it == minutes_.end() || *it != minute) return index;
  return index + ((key % 60) + millis / 1000.0) / 60.0;
}

QString SessionAxis::ClockText(double position) const {
  if (minutes_.empty()) return QString();
  const int index = std::clamp(static_cast<int>(std::floor(position)), 0, minutes() - 1);
  return MinuteText(minutes_[index]);
}

std::vector<SessionAxis::Label> SessionAxis::Labels(int max_labels, double from, double to) const {
  std::vector<Label> labels;
  if (minutes_.empty() || max_labels <= 0) return labels;
  if (to < from) to = minutes();
  const int first = std::clamp(static_cast<int>(std::ceil(from)), 0, minutes());
  const int end = std::clamp(static_cast<int>(std::floor(to)) + 1, first, minutes());
  const double spacing = std::max(1.0, (to - from) / max_labels);
  int step = 1;
  for (int candidate : {1, 2, 5, 10, 15, 30, 60, 120, 240}) {
    step = candidate;
    if (candidate >= spacing) break;
  }
  // Session starts first (as their round time when one follows within the auction minutes),
  // then round times where there is room left.
  auto is_round = [&](int i) { return (minutes_[i] + kEveSeconds / 60) % (24 * 60) % step == 0; };
  std::vector<int> round_times;
  std::vector<int> starts;
  for (int i = first; i < end; ++i) {
    if (is_round(i)) round_times.push_back(i);
    if (i == first || minutes_[i] != minutes_[i - 1] + 1) {
      int anchor = i;
      for (int j = i; j < std::min(i + 3, end) && minutes_[j] - minutes_[i] == j - i; ++j) {
        if (is_round(j)) {
          anchor = j;
          break;
        }
      }
      starts.push_back(anchor);
    }
  }
  std::vector<int> chosen;
  auto has_room = [&](int i) {
    return std::none_of(chosen.begin(), chosen.end(), [&](int c) { return std::abs(c - i) < spacing * 0.8; });
  };
  for (const auto* group : {&starts, &round_times}) {
    for (int i : *group) {
      if (has_room(i)) chosen.push_back(i);
    }
  }
  std::sort(chosen.begin(), chosen.end());
  for (int i : chosen) labels.push_back({static_cast<double>(i), MinuteText(minutes_[i])});
  return labels;
}

std::vector<double> SessionAxis::Breaks() const {
  std::vector<double> breaks;
  for (int i = 1; i < minutes(); ++i) {
    if (minutes_[i] != minutes_[i - 1] + 1) breaks.push_back(i);
  }
  return breaks;
}
