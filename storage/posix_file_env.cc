#include "storage/posix_file_env.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "core/open_regular_file.h"

namespace {

// Writes everything, retrying after signals and short writes. Returns the bytes written.
std::size_t WriteAll(int fd, const char* data, std::size_t size) {
  std::size_t done = 0;
  while (done < size) {
    const ssize_t n = ::write(fd, data + done, size - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (n == 0) break;
    done += static_cast<std::size_t>(n);
  }
  return done;
}

}  // namespace

bool PosixFileEnv::Exists(const char* path) {
  struct stat st;
  return ::stat(root_.empty() ? path : (root_ + "/" + path).c_str(), &st) == 0;
}

void PosixFileEnv::CreateDirectory(const char* path) {
  int error = 0;
  const int root = OpenWorkingFolder(root_, &error);
  if (root == -1) return;
  const int fd = OpenFolderBelow(root, path, true, &error);
  if (fd >= 0) ::close(fd);
  CloseWorkingFolder(root);
}

FileEnv::AppendStatus PosixFileEnv::AppendToFile(const char* path, const char* data, std::size_t size, int* error) {
  *error = 0;
  // An absolute path names its file outright; anything else lies below the working folder.
  const int flags = O_WRONLY | O_APPEND | O_CREAT;
  const int fd = path[0] == '/' ? OpenRegularFile(path, flags, 0644, error)
                                : OpenRegularFileBelow(root_, path, flags, 0644, error);
  if (fd < 0) return AppendStatus::kOpenFailed;
  errno = 0;
  const std::size_t written = WriteAll(fd, data, size);
  if (written != size) {
    *error = errno != 0 ? errno : EIO;
    // A full disk may take part of the line; cut it off so the file keeps whole lines only.
    struct stat st;
    if (written > 0 && ::fstat(fd, &st) == 0 && st.st_size >= static_cast<off_t>(written)) {
      (void)::ftruncate(fd, st.st_size - static_cast<off_t>(written));
    }
    ::close(fd);
    return AppendStatus::kWriteFailed;
  }
  if (::close(fd) != 0) {
    *error = errno;
    return AppendStatus::kCloseFailed;
  }
  return AppendStatus::kOk;
}
