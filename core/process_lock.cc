#include "core/process_lock.h"

#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <thread>

#include "core/errno_text.h"
#include "core/open_regular_file.h"

namespace {

// The holder from its line "PID PROGRAM\n"; empty when the file does not hold one. The file may
// hold anything, so the name keeps only the characters a program name has.
std::string HolderOf(int fd) {
  char buffer[96];
  const ssize_t n = ::pread(fd, buffer, sizeof(buffer), 0);
  if (n <= 0) return {};
  const std::string_view text(buffer, static_cast<std::size_t>(n));
  const std::size_t end = text.find('\n');
  const std::size_t space = text.find(' ');
  if (end == std::string_view::npos || space == std::string_view::npos || space == 0 || space > end ||
      space > 10) {
    return {};
  }
  const std::string_view pid = text.substr(0, space);
  const std::string_view name = text.substr(space + 1, end - space - 1);
  if (pid.find_first_not_of("0123456789") != std::string_view::npos || name.empty() || name.size() > 40 ||
      name.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789._-") !=
          std::string_view::npos) {
    return {};
  }
  return "process " + std::string(pid) + " (" + std::string(name) + ")";
}

// A holder writes its line just after it took the lock: a moment's wait covers that gap.
std::string WaitForHolder(int fd) {
  for (int attempt = 0; attempt < 50; ++attempt) {
    std::string holder = HolderOf(fd);
    if (!holder.empty()) return holder;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return "another process";
}

std::string AbsoluteFolder(const std::string& folder) {
  std::error_code ec;
  std::string path = std::filesystem::absolute(folder, ec).lexically_normal().string();
  if (ec) return folder;
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

}  // namespace

std::string ProcessLock::Take(const std::string& path, const std::string& what, std::string_view program) {
  Release();
  int error = 0;
  const int fd = OpenRegularFile(path.c_str(), O_RDWR | O_CREAT, 0644, &error);
  if (fd < 0) return "cannot lock " + what + ": " + path + ": " + OpenErrorText(error);
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int lockError = errno;
    std::string problem = lockError == EWOULDBLOCK ? what + " is in use by " + WaitForHolder(fd)
                                                   : "cannot lock " + what + ": " + path + ": " + ErrnoText(lockError);
    ::close(fd);
    return problem;
  }
  // Written over the old line, then cut to length, so a reader never finds the file empty.
  const std::string line = std::to_string(::getpid()) + " " + std::string(program) + "\n";
  if (::pwrite(fd, line.data(), line.size(), 0) == static_cast<ssize_t>(line.size())) {
    (void)::ftruncate(fd, static_cast<off_t>(line.size()));
  }
  fd_ = fd;
  return {};
}

std::string ProcessLock::TakeWorkFolder(const std::string& folder, std::string_view program) {
  const std::string absolute = AbsoluteFolder(folder);
  return Take(absolute + "/" + kWorkFolderLockName, "the working folder " + absolute, program);
}

void ProcessLock::Release() {
  if (fd_ < 0) return;
  ::close(fd_);  // closing the only descriptor of the open file drops its flock
  fd_ = -1;
}
