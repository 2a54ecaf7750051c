#include "cluster/line_scan.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "core/errno_text.h"
#include "core/open_regular_file.h"

bool ScanLines(const std::string& root, const std::string& relative,
               const std::function<void(std::string_view)>& onLine, std::uint64_t* wholeBytes,
               std::uint64_t* fileBytes, std::string* error) {
  *wholeBytes = *fileBytes = 0;
  const std::string path = root + "/" + relative;
  int openError = 0;
  const int fd = OpenRegularFileBelow(root, relative, O_RDONLY, 0, &openError);
  if (fd < 0) {
    if (openError == ENOENT) return true;
    *error = "cannot read " + path + ": " + OpenErrorText(openError);
    return false;
  }
  std::string pending;
  std::string chunk(1 << 20, '\0');
  for (;;) {
    const ssize_t n = ::read(fd, chunk.data(), chunk.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      *error = "cannot read " + path + ": " + ErrnoText(errno);
      ::close(fd);
      return false;
    }
    if (n == 0) break;
    *fileBytes += static_cast<std::uint64_t>(n);
    pending.append(chunk.data(), static_cast<std::size_t>(n));
    std::size_t at = 0;
    for (std::size_t lf = pending.find('\n'); lf != std::string::npos; lf = pending.find('\n', at)) {
      onLine(std::string_view(pending).substr(at, lf + 1 - at));
      at = lf + 1;
    }
    *wholeBytes += at;
    pending.erase(0, at);
  }
  ::close(fd);
  return true;
}

// On the descriptor of the regular file itself: a link in its place never lets the cut reach another file.
bool CutPartialTail(const std::string& root, const std::string& relative, std::uint64_t wholeBytes,
                    std::string* error) {
  const std::string path = root + "/" + relative;
  int openError = 0;
  const int fd = OpenRegularFileBelow(root, relative, O_WRONLY, 0, &openError);
  if (fd < 0) {
    *error = "cannot cut the partial last line of " + path + ": " + OpenErrorText(openError);
    return false;
  }
  const bool cut = ::ftruncate(fd, static_cast<off_t>(wholeBytes)) == 0;
  if (!cut) *error = "cannot cut the partial last line of " + path + ": " + ErrnoText(errno);
  ::close(fd);
  return cut;
}
