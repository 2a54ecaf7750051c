#include "storage/tick_writer_thread.h"

#include <chrono>
#include <cstdio>

#include "storage/storage_paths.h"
#include "storage/tick_line.h"
#include "storage/trading_day.h"

namespace {

constexpr auto kPause = std::chrono::milliseconds(1);
constexpr auto kIdleSleep = std::chrono::milliseconds(10);

void RealSleep(std::chrono::milliseconds duration) { std::this_thread::sleep_for(duration); }

}  // namespace

TickWriterThread::TickWriterThread(CTRingQueueApi& queue, const Clock& clock, FileEnv& env,
                                   TickReportReceiver* receiver, std::mutex& fileLock)
    : queue_(queue), clock_(clock), env_(env), receiver_(receiver), fileLock_(fileLock), sleep_(&RealSleep) {}

TickWriterThread::~TickWriterThread() {
  if (running()) StopWhenDrained();
}

void TickWriterThread::Start() {
  if (running()) return;
  stop_.store(false, std::memory_order_relaxed);
  thread_ = std::thread([this] { Run(); });
}

void TickWriterThread::StopWhenDrained() {
  if (!running()) return;
  stop_.store(true, std::memory_order_release);
  thread_.join();
}

void TickWriterThread::Run() {
  for (;;) {
    // Read before the pop: an empty queue seen after the stop request means everything is written.
    const bool stopping = stop_.load(std::memory_order_acquire);
    if (WriteOne()) continue;  // records are waiting: no sleep between them
    if (stopping) return;
    sleep_(kIdleSleep);
    sleep_(kPause);
  }
}

bool TickWriterThread::WriteOne() {
  TickRecord record;
  ClearTickRecord(&record);
  queue_.Pop(&record);
  if (record.Filled != 1) return false;
  WriteRecord(record);
  return true;
}

void TickWriterThread::WriteRecord(const TickRecord& record) {
  const ClockReading now = clock_.Now();
  char stamp[kWriteStampSize];
  char day[kTradingDaySize];
  FormatWriteStamp(now, stamp);
  ComputeTradingDay(now, day);

  static thread_local char general[kTickLineSize];
  static thread_local char fixed[kTickLineSize];
  const std::size_t generalSize = BuildTickLine(record, stamp, NumberStyle::kGeneral, general);
  const std::size_t fixedSize = BuildTickLine(record, stamp, NumberStyle::kFixed, fixed);

  char path[kFilePathSize];
  TimeStreamFilePath(day, path);
  EnsureTimeStreamDirectory(env_);
  AppendLine(path, general, generalSize, kTimeStreamFallbackFile, general, generalSize);

  ContractFilePath(day, record.InstrumentID, path);
  EnsureDayDirectory(env_, day);
  AppendLine(path, fixed, fixedSize, kContractFallbackFile, general, generalSize);

  ticksWritten_.fetch_add(1, std::memory_order_relaxed);
  Report(record);
}

void TickWriterThread::AppendLine(const char* path, const char* line, std::size_t size, const char* fallback,
                                  const char* fallbackLine, std::size_t fallbackSize) {
  std::lock_guard<std::mutex> lock(fileLock_);
  if (env_.AppendToFile(path, line, size) == FileEnv::AppendStatus::kOk) return;
  // A failed write or close counts like a failed open: the data file does not hold the line.
  if (env_.AppendToFile(fallback, fallbackLine, fallbackSize) == FileEnv::AppendStatus::kOk) {
    fallbackLines_.fetch_add(1, std::memory_order_relaxed);
  } else {
    linesLost_.fetch_add(1, std::memory_order_relaxed);
  }
}

void TickWriterThread::Report(const TickRecord& record) {
  if (receiver_ == nullptr) return;
  char fileName[64];
  char lastPrice[kNumberSize];
  char openInterest[kNumberSize];
  char localTime[32];
  char tradingDay[kTradingDaySize];
  std::snprintf(fileName, sizeof(fileName), "%s.csv", record.InstrumentID);
  std::snprintf(lastPrice, sizeof(lastPrice), "%0.02lf", record.LastPrice);
  std::snprintf(openInterest, sizeof(openInterest), "%0.00lf", record.OpenInterest);
  const ClockReading t = clock_.Now();
  std::snprintf(localTime, sizeof(localTime), "%04d/%02d/%02d %02d:%02d:%02d", t.year, t.month, t.day, t.hour,
                t.minute, t.second);
  std::snprintf(tradingDay, sizeof(tradingDay), "%s", record.TradingDay);
  receiver_->OnTickReport(fileName, lastPrice, openInterest, localTime, tradingDay);
}

TickWriterThread::Counters TickWriterThread::counters() const {
  Counters c;
  c.ticksWritten = ticksWritten_.load(std::memory_order_relaxed);
  c.fallbackLines = fallbackLines_.load(std::memory_order_relaxed);
  c.linesLost = linesLost_.load(std::memory_order_relaxed);
  return c;
}
