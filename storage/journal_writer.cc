#include "storage/journal_writer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <algorithm>
#include <cinttypes>
#include <cstring>
#include <vector>

#include "core/errno_text.h"
#include "core/log_sink.h"
#include "storage/journal_format.h"
#include "core/open_regular_file.h"

namespace {

ssize_t RealWrite(int fd, const void* data, std::size_t size) { return ::write(fd, data, size); }

bool WriteAll(JournalWriter::WriteFunction write, int fd, const void* data, std::size_t size, std::size_t* done,
              int* error) {
  *done = 0;
  while (*done < size) {
    const ssize_t n = write(fd, static_cast<const char*>(data) + *done, size - *done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      *error = n < 0 ? errno : EIO;
      return false;
    }
    *done += static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace

JournalWriter::JournalWriter(JournalSync sync, std::string root)
    : sync_(sync), root_(std::move(root)), write_(&RealWrite) {
  if (sync_ == JournalSync::kSecond) syncer_ = std::thread([this] { RunSyncer(); });
}

JournalWriter::~JournalWriter() {
  Close();
  if (syncer_.joinable()) {
    {
      std::lock_guard<std::mutex> lock(syncMutex_);
      stopSyncer_ = true;
    }
    syncWake_.notify_one();
    syncer_.join();
  }
}

void JournalWriter::RunSyncer() {
  std::unique_lock<std::mutex> lock(syncMutex_);
  while (!syncWake_.wait_for(lock, std::chrono::seconds(1), [this] { return stopSyncer_; })) {
    if (syncFd_ >= 0 && syncDue_.exchange(false, std::memory_order_acq_rel)) (void)::fdatasync(syncFd_);
  }
}

void JournalWriter::SetSyncDescriptor(int fd) {
  if (sync_ != JournalSync::kSecond) return;
  std::lock_guard<std::mutex> lock(syncMutex_);
  if (syncFd_ >= 0) ::close(syncFd_);
  syncFd_ = fd >= 0 ? ::fcntl(fd, F_DUPFD_CLOEXEC, 0) : -1;
}

bool JournalWriter::Append(const char* tradingDay, const TickRecord& tick, std::int64_t writeTimeNs, TimePoint now,
                           std::int64_t arrivalTimeNs) {
  std::string why;
  if ((fd_ < 0 || day_ != tradingDay) && !OpenDay(tradingDay, &why)) {
    Fail(now, why);
    return false;
  }
  JournalEntry entry;
  entry.sequence = nextSequence_;
  entry.writeTimeNs = writeTimeNs;
  entry.arrivalTimeNs = arrivalTimeNs;
  entry.tick = tick;
  unsigned char record[kJournalMaxRecordSize];
  EncodeJournalRecord(entry, version_, record);
  std::size_t done = 0;
  int error = 0;
  if (!WriteAll(write_, fd_, record, JournalRecordSize(version_), &done, &error)) {
    // A full disk may take part of the record: cut it so the file keeps whole records only.
    struct stat st;
    if (done > 0 && ::fstat(fd_, &st) == 0 && st.st_size >= static_cast<off_t>(done)) {
      (void)::ftruncate(fd_, st.st_size - static_cast<off_t>(done));
    }
    CloseDescriptor();  // the next record opens again and checks the tail
    Fail(now, path_ + ": " + ErrnoText(error));
    return false;
  }
  ++nextSequence_;
  dirty_ = true;
  written_.fetch_add(1, std::memory_order_relaxed);
  if (sync_ == JournalSync::kEvery) {
    (void)::fdatasync(fd_);
    dirty_ = false;
  } else if (sync_ == JournalSync::kSecond) {
    syncDue_.store(true, std::memory_order_release);
  }
  if (inBurst_) Poll(now);
  return true;
}

void JournalWriter::MakeDirectory() const {
  int error = 0;
  const int root = OpenWorkingFolder(root_, &error);
  if (root == -1) return;
  const int folder = OpenFolderBelow(root, kJournalDirectory, true, &error);
  if (folder >= 0) ::close(folder);
  CloseWorkingFolder(root);
}

bool JournalWriter::OpenDay(const char* tradingDay, std::string* why) {
  CloseDescriptor();
  if (!JournalFilePath(root_, tradingDay, &path_)) {
    *why = std::string("trading day cannot name a journal: ") + tradingDay;
    return false;
  }
  const std::string name = path_.substr(path_.rfind('/') + 1);
  int error = 0;
  // The folder is made and opened without following a link, so the journal never lands outside.
  const int root = OpenWorkingFolder(root_, &error);
  const int folder = root == -1 ? -1 : OpenFolderBelow(root, kJournalDirectory, true, &error);
  fd_ = folder < 0 ? -1
                   : OpenRegularFileBelow(folder, name, O_RDWR | O_APPEND | O_CREAT, 0644, &error);
  if (folder >= 0) ::close(folder);
  CloseWorkingFolder(root);
  if (fd_ < 0) {
    *why = path_ + ": " + OpenErrorText(error);
    return false;
  }
  if (!PrepareOpened(tradingDay, why)) {
    CloseDescriptor();
    return false;
  }
  day_ = tradingDay;
  SetSyncDescriptor(fd_);
  return true;
}

// A new or empty file gets the header; a torn header of ours is written again; a torn last record is
// cut. Anything else that is not this program's journal is left alone.
bool JournalWriter::PrepareOpened(const char* tradingDay, std::string* why) {
  struct stat st;
  if (::fstat(fd_, &st) != 0) {
    *why = path_ + ": " + ErrnoText(errno);
    return false;
  }
  const std::string header = JournalHeaderBytes(tradingDay);
  const std::uint64_t size = static_cast<std::uint64_t>(st.st_size);
  std::vector<unsigned char> head(std::max(header.size(), JournalMaxHeaderSize()));
  const ssize_t n = size == 0 ? 0 : ::pread(fd_, head.data(), head.size(), 0);
  if (n < 0) {
    *why = path_ + ": " + ErrnoText(errno);
    return false;
  }
  version_ = kJournalVersion;
  if (size < header.size() && std::memcmp(head.data(), header.data(), static_cast<std::size_t>(n)) == 0) {
    if (size > 0) AppendLineF(LogTab::NetworkLog, "行情日志[%s]头部不完整(%" PRIu64 "字节)，重写", path_.c_str(), size);
    std::size_t done = 0;
    int error = 0;
    if (::ftruncate(fd_, 0) != 0 || !WriteAll(write_, fd_, header.data(), header.size(), &done, &error)) {
      if (done > 0) (void)::ftruncate(fd_, 0);
      *why = path_ + ": " + ErrnoText(error != 0 ? error : errno);
      return false;
    }
    nextSequence_ = 1;
    return true;
  }
  std::size_t headerSize = 0;
  std::string bad;
  if (!CheckJournalHeader(head.data(), static_cast<std::size_t>(n), &headerSize, &bad, &version_)) {
    *why = path_ + ": " + bad + "; not appending to it";
    return false;
  }
  // A journal begun by an older collector keeps its version to the end of its day.
  const std::size_t recordSize = JournalRecordSize(version_);
  const std::uint64_t tail = (size - headerSize) % recordSize;
  if (tail != 0) {
    if (::ftruncate(fd_, static_cast<off_t>(size - tail)) != 0) {
      *why = path_ + ": cannot cut a torn last record: " + ErrnoText(errno);
      return false;
    }
    AppendLineF(LogTab::NetworkLog, "行情日志[%s]末尾有不完整记录(%" PRIu64 "字节)，已截去", path_.c_str(), tail);
  }
  nextSequence_ = 1;
  if (size - tail > headerSize) {
    unsigned char last[kJournalMaxRecordSize];
    JournalEntry entry;
    if (::pread(fd_, last, recordSize, static_cast<off_t>(size - tail - recordSize)) ==
            static_cast<ssize_t>(recordSize) &&
        DecodeJournalRecord(last, &entry, version_)) {
      nextSequence_ = entry.sequence + 1;
    } else {
      nextSequence_ = (size - tail - headerSize) / recordSize + 1;
    }
  }
  return true;
}

void JournalWriter::Poll(TimePoint now) {
  if (inBurst_ && now - lastFailure_ >= kSummaryInterval) {
    inBurst_ = false;
    AppendLineF(LogTab::NetworkLog, "行情日志写入恢复，本次共%" PRIu64 "条未写入", burstFailures_);
  }
}

void JournalWriter::Close() {
  if (fd_ >= 0 && dirty_ && sync_ != JournalSync::kNone) (void)::fdatasync(fd_);
  dirty_ = false;
  CloseDescriptor();
  if (inBurst_) {
    inBurst_ = false;
    AppendLineF(LogTab::NetworkLog, "行情日志写入停止，本次共%" PRIu64 "条未写入", burstFailures_);
  }
}

void JournalWriter::Fail(TimePoint now, const std::string& why) {
  failures_.fetch_add(1, std::memory_order_relaxed);
  lastFailure_ = now;
  lastFailureText_ = why;
  if (!inBurst_) {
    inBurst_ = true;
    burstFailures_ = 1;
    lastLogged_ = now;
    AppendLineF(LogTab::NetworkLog, "行情日志写入失败[%s]，CSV文件照常写入", why.c_str());
    return;
  }
  ++burstFailures_;
  if (now - lastLogged_ >= kSummaryInterval) {
    lastLogged_ = now;
    AppendLineF(LogTab::NetworkLog, "行情日志写入仍失败[%s]，本次已有%" PRIu64 "条未写入", why.c_str(), burstFailures_);
  }
}

void JournalWriter::CloseDescriptor() {
  SetSyncDescriptor(-1);
  if (fd_ >= 0) {
    if (dirty_ && sync_ != JournalSync::kNone) (void)::fdatasync(fd_);
    ::close(fd_);
  }
  fd_ = -1;
  dirty_ = false;
  day_.clear();
}
