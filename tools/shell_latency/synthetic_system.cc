#include "tools/shell_latency/synthetic_system.h"

#include <chrono>
#include <cstdio>

#include "core/tick_log_channel.h"
#include "core/tick_record.h"
#include "core/tick_report_receiver.h"

SyntheticSystem::SyntheticSystem(double rate, int contracts)
    : rate_(rate), contracts_(contracts), windows_() {
  windows_.Set(0, 0, 0, 0);  // no stop-save notice to wait for
}

SyntheticSystem::~SyntheticSystem() { Shutdown(); }

void SyntheticSystem::Start(bool, TickReportReceiver* receiver, TickLogChannel* tickLog) {
  writer_ = std::thread([this, receiver, tickLog] { Run(receiver, tickLog); });
}

void SyntheticSystem::Shutdown() {
  stop_.store(true, std::memory_order_relaxed);
  if (writer_.joinable()) writer_.join();
}

void SyntheticSystem::Run(TickReportReceiver* receiver, TickLogChannel* tickLog) {
  using Clock = std::chrono::steady_clock;
  const auto start = Clock::now();
  std::uint64_t n = 0;
  char file[32];
  char price[32];
  TickRecord record;
  ClearTickRecord(&record);
  while (!stop_.load(std::memory_order_relaxed)) {
    // Paced by the clock: tick n is due at n / rate seconds after the start.
    const auto due = start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(n / rate_));
    std::this_thread::sleep_until(due);
    const int contract = static_cast<int>(n % static_cast<std::uint64_t>(contracts_));
    std::snprintf(file, sizeof file, "c%04d.csv", contract);
    std::snprintf(price, sizeof price, "%0.02lf", 1000.0 + static_cast<double>(n % 997));
    receiver->OnTickReport(file, price, "12345", "2026/12/09 10:00:00", "20261209");
    if (tickLog != nullptr) {
      std::snprintf(record.InstrumentID, sizeof record.InstrumentID, "c%04d", contract);
      record.LastPrice = 1000.0 + static_cast<double>(n % 997);
      tickLog->OnTickAccepted(record);
    }
    ++n;
    reported_.store(n, std::memory_order_relaxed);
  }
}
