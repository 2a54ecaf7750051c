#ifndef QUOTELOOM_STORAGE_JOURNAL_WRITER_H
#define QUOTELOOM_STORAGE_JOURNAL_WRITER_H

#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

#include "core/journal_settings.h"
#include "core/tick_record.h"
#include "storage/journal_format.h"

// Appends every stored tick to the journal of its trading day, "Journal/<day>.qtj": one descriptor
// kept open per day (O_APPEND), one write per record, fdatasync as the sync setting says. Opening an
// existing journal checks its header and cuts a torn last record, so records stay aligned; a file
// that is not a journal is never written to, and one of an older version gets records of its own
// version. A failure loses the record only (counted, logged once
// per burst). Owned and called by the tick writer thread; the counters may be read by any thread.
// With sync "second" a syncer thread of its own calls fdatasync once a second, so a slow disk flush
// never holds up the writer.
class JournalWriter {
 public:
  using TimePoint = std::chrono::steady_clock::time_point;
  static constexpr std::chrono::seconds kSummaryInterval{5};

  // `root`: the folder that holds Journal/; empty: the working folder.
  explicit JournalWriter(JournalSync sync, std::string root = {});
  ~JournalWriter();
  JournalWriter(const JournalWriter&) = delete;
  JournalWriter& operator=(const JournalWriter&) = delete;

  // Appends one record to the day's journal. `arrivalTimeNs`: Unix time the tick reached the
  // collector (0: not known). False when it is not in the file.
  bool Append(const char* tradingDay, const TickRecord& tick, std::int64_t writeTimeNs, TimePoint now,
              std::int64_t arrivalTimeNs = 0);
  // The once-a-second sync when it is due, and the end of a failure burst.
  void Poll(TimePoint now);
  // Syncs (unless sync is none) and closes the open journal; ends a running failure burst.
  void Close();
  // Makes the Journal folder (also done before the first record), so a publisher beside the
  // collector finds it from the start.
  void MakeDirectory() const;

  std::uint64_t recordsWritten() const { return written_.load(std::memory_order_relaxed); }
  std::uint64_t failures() const { return failures_.load(std::memory_order_relaxed); }
  // Why the last Append failed (the writer's thread only).
  const std::string& lastFailureText() const { return lastFailureText_; }

  // Replaces write(2), so tests can fill the disk. Call before the first Append.
  using WriteFunction = ssize_t (*)(int, const void*, std::size_t);
  void SetWriteForTesting(WriteFunction write) { write_ = write; }

 private:
  // Opens (creating or repairing) the day's journal; false with the reason.
  bool OpenDay(const char* tradingDay, std::string* why);
  bool PrepareOpened(const char* tradingDay, std::string* why);
  // Hands the open journal to the syncer thread (a duplicate of fd_), or takes it away (-1).
  void SetSyncDescriptor(int fd);
  void RunSyncer();
  void Fail(TimePoint now, const std::string& why);
  void CloseDescriptor();

  const JournalSync sync_;
  const std::string root_;
  std::string lastFailureText_;
  WriteFunction write_;

  int fd_ = -1;
  std::string day_;             // the day of fd_
  std::string path_;
  std::uint64_t nextSequence_ = 1;
  std::uint32_t version_ = kJournalVersion;  // of fd_
  bool dirty_ = false;          // written since the last fdatasync (sync "every" and closing)

  // The syncer of sync "second": started by the constructor, ended by the destructor.
  std::thread syncer_;
  std::mutex syncMutex_;               // guards syncFd_ and stopSyncer_; held during its fdatasync
  std::condition_variable syncWake_;
  int syncFd_ = -1;
  bool stopSyncer_ = false;
  std::atomic<bool> syncDue_{false};   // set by the writer after a record, taken by the syncer

  bool inBurst_ = false;
  std::uint64_t burstFailures_ = 0;
  TimePoint lastFailure_{};
  TimePoint lastLogged_{};

  // Written by the writer thread, read by any thread.
  std::atomic<std::uint64_t> written_{0};
  std::atomic<std::uint64_t> failures_{0};
};

#endif
