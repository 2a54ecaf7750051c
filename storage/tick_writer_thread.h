#ifndef QUOTELOOM_STORAGE_TICK_WRITER_THREAD_H
#define QUOTELOOM_STORAGE_TICK_WRITER_THREAD_H

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <set>
#include <string>
#include <thread>

#include "core/clock.h"
#include "core/tick_record.h"
#include "core/tick_report_receiver.h"
#include "queue/ring_queue_api.h"
#include "storage/file_env.h"
#include "storage/journal_writer.h"
#include "storage/lost_line_log.h"

// The one consumer of the writer queue: pops each record and appends its line to the time-stream
// file and to the per-contract file of the trading day, one open-append-close per line under the
// file lock, then reports the record once both lines are on disk. A record whose code cannot name
// a file or whose text would break the line is not stored at all. Start, StopWhenDrained and
// counters() are called by the owning thread; WriteOne runs on the writer thread (or on a test's
// thread when no thread runs).
class TickWriterThread {
 public:
  struct Counters {
    std::uint64_t ticksWritten = 0;     // records with both lines on disk (data file or its fallback)
    std::uint64_t ticksUnstorable = 0;  // records refused: unsafe code or text; nothing written
    std::uint64_t fallbackLines = 0;    // lines that went to cresh1.txt or cresh2.txt
    std::uint64_t linesLost = 0;        // lines that reached neither their file nor its fallback
    std::uint64_t linksRefused = 0;     // lines not written through a symbolic link (file or folder)
    std::uint64_t journalRecords = 0;   // records appended to the journal
    std::uint64_t journalFailures = 0;  // records the journal could not take (their CSV lines are unaffected)
  };

  // The queue must be initialised before Start; `receiver` may be null (reports are dropped), and so
  // may `journal` (no journal is kept). A journal is used by the writer thread only once started.
  TickWriterThread(CTRingQueueApi& queue, const Clock& clock, FileEnv& env, TickReportReceiver* receiver,
                   std::mutex& fileLock, JournalWriter* journal = nullptr);
  ~TickWriterThread();
  TickWriterThread(const TickWriterThread&) = delete;
  TickWriterThread& operator=(const TickWriterThread&) = delete;

  void Start();
  // Writes every record still queued, then ends the thread; returns once it has ended. The producer
  // must have stopped pushing before, so that nothing it accepted is left behind.
  void StopWhenDrained();
  bool running() const { return thread_.joinable(); }

  // Pops one record and writes it; false when the queue was empty (loss bursts may then end).
  bool WriteOne();

  Counters counters() const;

  // Replaces the idle sleep, so tests can see when the writer sleeps. Call before Start.
  using SleepFunction = void (*)(std::chrono::milliseconds);
  void SetSleepForTesting(SleepFunction sleep) { sleep_ = sleep; }
  // Replaces the steady clock that paces the lost-line log lines. Call before Start.
  using NowFunction = std::chrono::steady_clock::time_point (*)();
  void SetNowForTesting(NowFunction now) { now_ = now; }

 private:
  void Run();
  void WriteRecord(const TickRecord& record);
  // One line to `path`, or to `fallback` when that fails; counts fallbacks and losses, logs losses.
  // True when the line is on disk.
  bool AppendTickLine(const char* path, const char* line, std::size_t size, const char* fallback,
                      const char* fallbackLine, std::size_t fallbackSize, LostLineLog& losses);
  // Counts a record that cannot be stored; logs it once per contract code.
  void Refuse(const TickRecord& record, const char* why);
  // Counts a line refused because its path holds a link; logs it once per folder.
  void RefuseLink(const char* path);
  void Report(const TickRecord& record);

  // Constant after construction.
  CTRingQueueApi& queue_;
  const Clock& clock_;
  FileEnv& env_;
  TickReportReceiver* const receiver_;
  std::mutex& fileLock_;
  JournalWriter* const journal_;

  SleepFunction sleep_;
  NowFunction now_;
  std::thread thread_;             // started and joined by the owning thread
  std::atomic<bool> stop_{false};  // written by the owning thread, read by the writer thread

  // Writer thread only.
  LostLineLog timeStreamLosses_;
  LostLineLog contractLosses_;
  std::set<std::string> refusedCodes_;  // bounded: a front may send any number of codes
  bool refusedCodesFull_ = false;
  std::set<std::string> linkedFolders_;  // bounded like refusedCodes_

  // Written by the writer thread, read by any thread.
  std::atomic<std::uint64_t> ticksWritten_{0};
  std::atomic<std::uint64_t> ticksUnstorable_{0};
  std::atomic<std::uint64_t> fallbackLines_{0};
  std::atomic<std::uint64_t> linesLost_{0};
  std::atomic<std::uint64_t> linksRefused_{0};
};

#endif
