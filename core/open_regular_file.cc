#include "core/open_regular_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>

#include "core/errno_text.h"

namespace {

int OpenRegularFileAt(int folderFd, const char* name, int flags, int mode, int* error) {
  const int fd = ::openat(folderFd, name, flags | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW, mode);
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

// One folder `name` below `folderFd`, never through a link; made first when missing and `create`.
int OpenOneFolder(int folderFd, const std::string& name, bool create, int* error) {
  constexpr int kFlags = O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
  int fd = ::openat(folderFd, name.c_str(), kFlags);
  if (fd < 0 && errno == ENOENT && create) {
    if (::mkdirat(folderFd, name.c_str(), 0755) != 0 && errno != EEXIST) {
      *error = errno;
      return -1;
    }
    fd = ::openat(folderFd, name.c_str(), kFlags);
  }
  if (fd >= 0) return fd;
  *error = errno;
  // O_DIRECTORY | O_NOFOLLOW answers ENOTDIR for a link as for a file; a link is told apart.
  struct stat st;
  if (*error == ENOTDIR && ::fstatat(folderFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode)) {
    *error = ELOOP;
  }
  return -1;
}

}  // namespace

int OpenRegularFile(const char* path, int flags, int mode, int* error) {
  return OpenRegularFileAt(AT_FDCWD, path, flags, mode, error);
}

int OpenWorkingFolder(const std::string& root, int* error) {
  if (root.empty()) return AT_FDCWD;
  // The one open that follows a link: the working folder may be one, by the operator's choice.
  const int fd = ::open(root.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) *error = errno;
  return fd;
}

void CloseWorkingFolder(int rootFd) {
  if (rootFd >= 0) ::close(rootFd);
}

int OpenFolderBelow(int rootFd, std::string_view relative, bool create, int* error) {
  if (!relative.empty() && relative.front() == '/') {
    *error = EINVAL;  // an absolute path is not below the working folder
    return -1;
  }
  int folder = rootFd;
  std::size_t begin = 0;
  while (begin < relative.size()) {
    std::size_t end = relative.find('/', begin);
    if (end == std::string_view::npos) end = relative.size();
    const std::string name(relative.substr(begin, end - begin));
    begin = end + 1;
    if (name.empty() || name == ".") continue;
    int next = -1;
    if (name == "..") {
      *error = EINVAL;  // never above the working folder
    } else {
      next = OpenOneFolder(folder, name, create, error);
    }
    if (folder != rootFd) ::close(folder);
    if (next < 0) return -1;
    folder = next;
  }
  if (folder != rootFd) return folder;
  const int fd = ::openat(rootFd, ".", O_PATH | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) *error = errno;
  return fd;
}

int OpenRegularFileBelow(int rootFd, std::string_view relative, int flags, int mode, int* error) {
  const std::size_t slash = relative.rfind('/');
  const std::string name(slash == std::string_view::npos ? relative : relative.substr(slash + 1));
  if (name == ".." || (!relative.empty() && relative.front() == '/')) {
    *error = EINVAL;
    return -1;
  }
  if (slash == std::string_view::npos) return OpenRegularFileAt(rootFd, name.c_str(), flags, mode, error);
  const int folder = OpenFolderBelow(rootFd, relative.substr(0, slash), false, error);
  if (folder < 0) return -1;
  const int fd = OpenRegularFileAt(folder, name.c_str(), flags, mode, error);
  ::close(folder);
  return fd;
}

int OpenRegularFileBelow(const std::string& root, std::string_view relative, int flags, int mode, int* error) {
  const int rootFd = OpenWorkingFolder(root, error);
  if (rootFd == -1) return -1;
  const int fd = OpenRegularFileBelow(rootFd, relative, flags, mode, error);
  CloseWorkingFolder(rootFd);
  return fd;
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

bool ReadRegularFile(const char* path, std::size_t maxBytes, std::string* text, std::string* error) {
  int openError = 0;
  const int fd = OpenRegularFile(path, O_RDONLY, 0, &openError);
  if (fd < 0) {
    *error = std::string(path) + ": " + OpenErrorText(openError);
    return false;
  }
  text->clear();
  char buffer[65536];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof(buffer));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      *error = std::string(path) + ": " + ErrnoText(errno);
      break;
    }
    if (n == 0) {
      ::close(fd);
      return true;
    }
    if (text->size() + static_cast<std::size_t>(n) > maxBytes) {
      *error = std::string(path) + ": larger than " + std::to_string(maxBytes) + " bytes";
      break;
    }
    text->append(buffer, static_cast<std::size_t>(n));
  }
  ::close(fd);
  return false;
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
