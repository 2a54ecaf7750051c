#include "tools/shell_latency/latency_probe.h"

#include <algorithm>

LatencyProbe::LatencyProbe(int periodMs, QObject* parent) : QObject(parent), periodMs_(periodMs) {
  timer_.setTimerType(Qt::PreciseTimer);
  timer_.setInterval(periodMs_);
  connect(&timer_, &QTimer::timeout, this, &LatencyProbe::OnTick);
}

void LatencyProbe::Start() {
  clock_.start();
  lastNs_ = clock_.nsecsElapsed();
  timer_.start();
}

void LatencyProbe::OnTick() {
  const qint64 now = clock_.nsecsElapsed();
  const double late = static_cast<double>(now - lastNs_) / 1e6 - periodMs_;
  samples_.push_back(std::max(0.0, late));
  lastNs_ = now;
}

double LatencyProbe::Quantile(double q) const {
  if (samples_.empty()) return 0;
  std::vector<double> sorted = samples_;
  std::sort(sorted.begin(), sorted.end());
  const auto index = static_cast<std::size_t>(q * static_cast<double>(sorted.size() - 1) + 0.5);
  return sorted[std::min(index, sorted.size() - 1)];
}
