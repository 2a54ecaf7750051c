#include "cluster/history_fetcher.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>

#include "core/errno_text.h"
#include "core/open_regular_file.h"
#include "storage/storage_paths.h"

namespace {

// How long a lookup that fails for want of an answer is tried again: a stream that lost its
// leader with a node elects another within seconds.
constexpr auto kPatience = std::chrono::seconds(30);

bool WriteAll(int fd, std::string_view bytes, std::string* error) {
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      *error = "write: " + ErrnoText(n < 0 ? errno : EIO);
      return false;
    }
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

}  // namespace

std::string HistoryObjectName(const std::string& day) { return day + ".qth"; }

HistoryFetcher::HistoryFetcher(jsCtx* js, const std::string& bucket, std::string outRoot, ObjectLimits limits)
    : bucket_(js, bucket, limits), outRoot_(std::move(outRoot)) {}

ObjectBucket::Lookup HistoryFetcher::LookUp(const std::string& day, ObjectInfo* info, std::string* error) {
  const auto deadline = std::chrono::steady_clock::now() + kPatience;
  for (;;) {
    const ObjectBucket::Lookup r = bucket_.Info(HistoryObjectName(day), info, error);
    if (r != ObjectBucket::Lookup::kFailed || std::chrono::steady_clock::now() > deadline) return r;
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
  }
}

HistoryFetcher::Result HistoryFetcher::Fetch(const std::string& day, std::uint64_t* bytes, std::string* error) {
  ObjectInfo info;
  switch (LookUp(day, &info, error)) {
    case ObjectBucket::Lookup::kMissing:
      *error = day + ": not in bucket " + bucket_.name();
      return Result::kMissing;
    case ObjectBucket::Lookup::kFailed:
    case ObjectBucket::Lookup::kMalformed:
      *error = day + ": " + *error;
      return Result::kFailed;
    case ObjectBucket::Lookup::kFound:
      break;
  }
  if (!WriteDay(day, info, error)) {
    *error = day + ": " + *error;
    return Result::kFailed;
  }
  *bytes = info.size;
  return Result::kFetched;
}

bool HistoryFetcher::ReadInto(int fd, const ObjectInfo& info, std::string* error) {
  const auto deadline = std::chrono::steady_clock::now() + kPatience;
  for (;;) {
    if (::ftruncate(fd, 0) != 0 || ::lseek(fd, 0, SEEK_SET) != 0) {
      *error = "truncate: " + ErrnoText(errno);
      return false;
    }
    const ObjectBucket::ReadResult r = bucket_.Read(
        info, [&](std::string_view chunk, std::string* why) { return WriteAll(fd, chunk, why); }, error);
    if (r != ObjectBucket::ReadResult::kUnanswered || std::chrono::steady_clock::now() > deadline) {
      return r == ObjectBucket::ReadResult::kRead;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
  }
}

bool HistoryFetcher::WriteDay(const std::string& day, const ObjectInfo& info, std::string* error) {
  int err = 0;
  const int rootFd = OpenWorkingFolder(outRoot_, &err);
  if (rootFd == -1) {
    *error = outRoot_ + ": " + OpenErrorText(err);
    return false;
  }
  const int historyFd = OpenFolderBelow(rootFd, kHistoryDirectory, true, &err);
  CloseWorkingFolder(rootFd);
  if (historyFd < 0) {
    *error = HistoryDirectoryPath(outRoot_) + ": " + OpenErrorText(err);
    return false;
  }
  const std::string name = HistoryObjectName(day);
  const std::string temporary = "." + name + ".fetch." + std::to_string(::getpid());
  const int fd = OpenRegularFileBelow(historyFd, temporary, O_WRONLY | O_CREAT | O_TRUNC, 0644, &err);
  if (fd < 0) {
    *error = HistoryDirectoryPath(outRoot_) + "/" + temporary + ": " + OpenErrorText(err);
    ::close(historyFd);
    return false;
  }
  bool ok = ReadInto(fd, info, error);
  if (ok && ::fsync(fd) != 0) {
    *error = "fsync: " + ErrnoText(errno);
    ok = false;
  }
  ::close(fd);
  // rename replaces a link at the final name itself, never what it points to.
  if (ok && ::renameat(historyFd, temporary.c_str(), historyFd, name.c_str()) != 0) {
    *error = PackedDayPath(outRoot_, day) + ": " + ErrnoText(errno);
    ok = false;
  }
  if (!ok) ::unlinkat(historyFd, temporary.c_str(), 0);
  if (ok) {
    // The rename lasts once the folder is on disk too.
    const int folder = ::openat(historyFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0) {
      ::fsync(folder);
      ::close(folder);
    }
  }
  ::close(historyFd);
  return ok;
}
