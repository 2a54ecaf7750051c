#ifndef QUOTELOOM_STORAGE_TICK_WRITER_THREAD_H
#define QUOTELOOM_STORAGE_TICK_WRITER_THREAD_H

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <thread>

#include "core/clock.h"
#include "core/tick_record.h"
#include "queue/ring_queue_api.h"
#include "storage/file_env.h"
#include "storage/tick_report_receiver.h"

// The one consumer of the writer queue: pops each record and appends its line to the time-stream
// file and to the per-contract file of the trading day, one open-append-close per line under the
// file lock, then reports the record. Start, StopWhenDrained and counters() are called by the
// owning thread; WriteOne runs on the writer thread (or on a test's thread when no thread runs).
class TickWriterThread {
 public:
  struct Counters {
    std::uint64_t ticksWritten = 0;   // records whose two lines were handled
    std::uint64_t fallbackLines = 0;  // lines that went to cresh1.txt or cresh2.txt
    std::uint64_t linesLost = 0;      // lines that reached neither their file nor its fallback
  };

  // The queue must be initialised before Start; `receiver` may be null (reports are dropped).
  TickWriterThread(CTRingQueueApi& queue, const Clock& clock, FileEnv& env, TickReportReceiver* receiver,
                   std::mutex& fileLock);
  ~TickWriterThread();
  TickWriterThread(const TickWriterThread&) = delete;
  TickWriterThread& operator=(const TickWriterThread&) = delete;

  void Start();
  // Writes every record still queued, then ends the thread; returns once it has ended. The producer
  // must have stopped pushing before, so that nothing it accepted is left behind.
  void StopWhenDrained();
  bool running() const { return thread_.joinable(); }

  // Pops one record and writes it; false when the queue was empty.
  bool WriteOne();

  Counters counters() const;

  // Replaces the idle sleep, so tests can see when the writer sleeps. Call before Start.
  using SleepFunction = void (*)(std::chrono::milliseconds);
  void SetSleepForTesting(SleepFunction sleep) { sleep_ = sleep; }

 private:
  void Run();
  void WriteRecord(const TickRecord& record);
  // One line to `path`, or to `fallback` when that fails; counts fallbacks and losses.
  void AppendLine(const char* path, const char* line, std::size_t size, const char* fallback,
                  const char* fallbackLine, std::size_t fallbackSize);
  void Report(const TickRecord& record);

  // Constant after construction.
  CTRingQueueApi& queue_;
  const Clock& clock_;
  FileEnv& env_;
  TickReportReceiver* const receiver_;
  std::mutex& fileLock_;

  SleepFunction sleep_;
  std::thread thread_;             // started and joined by the owning thread
  std::atomic<bool> stop_{false};  // written by the owning thread, read by the writer thread

  // Written by the writer thread, read by any thread.
  std::atomic<std::uint64_t> ticksWritten_{0};
  std::atomic<std::uint64_t> fallbackLines_{0};
  std::atomic<std::uint64_t> linesLost_{0};
};

#endif
