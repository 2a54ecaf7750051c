#include "cluster/history_uploader.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <vector>

#include "cluster/history_fetcher.h"
#include "core/errno_text.h"
#include "core/open_regular_file.h"
#include "objectstore/object_bucket.h"
#include "objectstore/sha256_digest.h"
#include "sessions/civil_date.h"
#include "storage/storage_paths.h"

namespace {

constexpr std::size_t kReadBlock = 1 << 20;

// The packed days of the folder from `oldest` (yyyymmdd) on, in order.
std::vector<std::string> PackedDays(int historyFd, int oldest) {
  std::vector<std::string> days;
  // The folder is held as a path descriptor; listing needs it opened for reading.
  const int listFd = ::openat(historyFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  DIR* dir = listFd >= 0 ? ::fdopendir(listFd) : nullptr;
  if (dir == nullptr) {
    if (listFd >= 0) ::close(listFd);
    return days;
  }
  while (const dirent* entry = ::readdir(dir)) {
    std::string day;
    if (IsPackedDayFileName(entry->d_name, &day) && IsCalendarDate(std::stoi(day)) && std::stoi(day) >= oldest) {
      days.push_back(day);
    }
  }
  ::closedir(dir);
  std::sort(days.begin(), days.end());
  return days;
}

bool HashFile(int fd, std::uint64_t size, std::string* digest, std::string* error) {
  Sha256Digest sha;
  std::vector<char> buffer(kReadBlock);
  std::uint64_t done = 0;
  while (done < size) {
    const ssize_t n = ::pread(fd, buffer.data(), std::min<std::uint64_t>(buffer.size(), size - done),
                              static_cast<off_t>(done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      *error = n < 0 ? ErrnoText(errno) : "shorter than its size";
      return false;
    }
    sha.Update(std::string_view(buffer.data(), static_cast<std::size_t>(n)));
    done += static_cast<std::uint64_t>(n);
  }
  *digest = sha.Finish();
  return true;
}

}  // namespace

HistoryUploader::HistoryUploader(const ClusterSettings& settings, Options options)
    : settings_(settings),
      options_(std::move(options)),
      counters_(options_.counters != nullptr ? *options_.counters : ownCounters_),
      link_(settings) {}

HistoryUploader::~HistoryUploader() { Stop(); }

void HistoryUploader::Start() { thread_ = std::thread([this] { Loop(); }); }

void HistoryUploader::Stop() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  if (thread_.joinable()) thread_.join();
}

bool HistoryUploader::Sleep(std::chrono::milliseconds duration) {
  std::unique_lock<std::mutex> lock(mutex_);
  wake_.wait_for(lock, duration, [this] { return stopping_; });
  return !stopping_;
}

int HistoryUploader::OldestDayKept() const {
  if (options_.maxAgeSeconds <= 0) return 0;
  // A day the bucket would drop at once is not sent: a restart would otherwise put every old day again.
  const auto now = std::chrono::system_clock::now().time_since_epoch();
  const std::int64_t today = std::chrono::duration_cast<std::chrono::seconds>(now).count() / 86400;
  return DateOfDaysSinceEpoch(today - options_.maxAgeSeconds / 86400);
}

bool HistoryUploader::Stopping() {
  std::lock_guard<std::mutex> lock(mutex_);
  return stopping_;
}

void HistoryUploader::Loop() {
  bool reachable = false;
  std::string error;
  if (!link_.Open(&reachable, &error)) {
    std::fprintf(stderr, "quoteloom-archive: history bucket: %s\n", error.c_str());
    return;
  }
  do {
    if (link_.Closed()) link_.Reconnect(&error);
    if (link_.Connected()) Pass();
  } while (Sleep(options_.interval));
}

void HistoryUploader::Note(const std::string& day, const std::string& problem) {
  std::string& last = problems_[day];
  if (last == problem) return;
  last = problem;
  if (problem.empty()) return;
  if (day.empty()) {
    std::fprintf(stderr, "quoteloom-archive: history bucket %s: %s\n", options_.bucket.c_str(), problem.c_str());
  } else {
    std::fprintf(stderr, "quoteloom-archive: cannot share day %s: %s\n", day.c_str(), problem.c_str());
  }
  std::fflush(stderr);
}

void HistoryUploader::Pass() {
  std::string error;
  if (!bucketReady_) {
    ObjectBucket bucket(link_.js(), options_.bucket, options_.limits);
    bucketReady_ = bucket.Ensure(settings_.replicas, options_.maxAgeSeconds, &error);
    if (!bucketReady_) {
      Note("", error);
      return;
    }
  }
  int err = 0;
  const int rootFd = OpenWorkingFolder(settings_.workdir, &err);
  if (rootFd == -1) return;
  const int historyFd = OpenFolderBelow(rootFd, kHistoryDirectory, false, &err);
  CloseWorkingFolder(rootFd);
  if (historyFd < 0) {
    if (err != ENOENT) Note("", HistoryDirectoryPath(settings_.workdir) + ": " + OpenErrorText(err));
    return;
  }
  const std::vector<std::string> days = PackedDays(historyFd, OldestDayKept());
  // Days gone from the folder are no longer the archive's to count.
  std::erase_if(held_, [&](const auto& entry) { return !std::binary_search(days.begin(), days.end(), entry.first); });
  for (const std::string& day : days) {
    if (Stopping()) break;
    if (ShareDay(historyFd, day, &error)) {
      Note(day, "");
    } else {
      counters_.historyFailures.fetch_add(1, std::memory_order_relaxed);
      Note(day, error);
    }
  }
  counters_.historyDaysHeld.store(held_.size(), std::memory_order_relaxed);
  ::close(historyFd);
}

bool HistoryUploader::ShareDay(int historyFd, const std::string& day, std::string* error) {
  const std::string name = HistoryObjectName(day);
  int err = 0;
  const int fd = OpenRegularFileBelow(historyFd, name, O_RDONLY, 0, &err);
  if (fd < 0) {
    *error = PackedDayPath(settings_.workdir, day) + ": " + OpenErrorText(err);
    return false;
  }
  const bool ok = ShareFile(fd, day, error);
  ::close(fd);
  return ok;
}

bool HistoryUploader::ShareFile(int fd, const std::string& day, std::string* error) {
  struct stat st {};
  if (::fstat(fd, &st) != 0) {
    *error = PackedDayPath(settings_.workdir, day) + ": " + ErrnoText(errno);
    return false;
  }
  const FileKey key{st.st_dev, st.st_ino, st.st_size,
                    static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec};
  if (const auto known = held_.find(day); known != held_.end() && known->second == key) return true;
  const std::uint64_t size = static_cast<std::uint64_t>(st.st_size);
  if (size > options_.limits.maxSize) {
    *error = PackedDayPath(settings_.workdir, day) + " holds " + std::to_string(size) + " bytes, more than an object may";
    return false;
  }
  std::string digest;
  if (!HashFile(fd, size, &digest, error)) {
    *error = PackedDayPath(settings_.workdir, day) + ": " + *error;
    return false;
  }
  const std::string name = HistoryObjectName(day);
  ObjectBucket bucket(link_.js(), options_.bucket, options_.limits);
  ObjectInfo info;
  switch (bucket.Info(name, &info, error)) {
    case ObjectBucket::Lookup::kFailed:
      return false;
    case ObjectBucket::Lookup::kFound:
      if (info.digest == digest && info.size == size) {
        held_[day] = key;  // put before, by this archive or another
        return true;
      }
      break;
    case ObjectBucket::Lookup::kMissing:
    case ObjectBucket::Lookup::kMalformed:
      break;
  }
  if (!bucket.PutFile(name, fd, size, digest, &info, error, [this] { return Stopping(); })) return false;
  held_[day] = key;
  counters_.historyDaysPut.fetch_add(1, std::memory_order_relaxed);
  std::fprintf(stderr, "quoteloom-archive: day %s put into bucket %s (%llu bytes, %llu chunks)\n", day.c_str(),
               options_.bucket.c_str(), static_cast<unsigned long long>(info.size),
               static_cast<unsigned long long>(info.chunks));
  std::fflush(stderr);
  return true;
}
