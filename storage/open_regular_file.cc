#include "storage/open_regular_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

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
