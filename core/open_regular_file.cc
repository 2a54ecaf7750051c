#include "core/open_regular_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "core/errno_text.h"

int OpenRegularFile(const char* path, int flags, int mode, int* error) {
  const int fd = ::open(path, flags | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW, mode);
  if (fd < 0) {
    *error = errno;
    return -1;
  }
  struct stat st;
  if (::fstat(fd, &st) != 0) {
    *error = errno;
  } else if (!S_ISREG(st.st_mode)) {
    *error = kNotARegularFile;
  } else {
    // A regular file: back to plain blocking I/O (F_SETFL leaves the access mode alone).
    const int status = ::fcntl(fd, F_GETFL);
    if (status != -1) (void)::fcntl(fd, F_SETFL, status & ~O_NONBLOCK);
    return fd;
  }
  ::close(fd);
  return -1;
}

std::string OpenErrorText(int error) { return error == kNotARegularFile ? "not a regular file" : ErrnoText(error); }

std::FILE* OpenRegularStream(const char* path, int flags, const char* mode, int* error) {
  const int fd = OpenRegularFile(path, flags, 0644, error);
  if (fd < 0) return nullptr;
  std::FILE* stream = ::fdopen(fd, mode);
  if (stream == nullptr) {
    *error = errno;
    ::close(fd);
  }
  return stream;
}

bool WriteRegularFile(const char* path, std::string_view text, bool append, std::string* error) {
  int openError = 0;
  const int fd = OpenRegularFile(path, O_WRONLY | O_CREAT | (append ? O_APPEND : O_TRUNC), 0644, &openError);
  if (fd < 0) {
    *error = std::string(path) + ": " + OpenErrorText(openError);
    return false;
  }
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      *error = std::string(path) + ": " + ErrnoText(n < 0 ? errno : ENOSPC);
      ::close(fd);
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  if (::close(fd) != 0) {
    *error = std::string(path) + ": " + ErrnoText(errno);
    return false;
  }
  return true;
}
