#include "plotmire/extract_embedded_file.h"

#include <QFile>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "core/open_regular_file.h"

namespace {

// Any entry of the name counts, a dangling link or a folder included, so nothing is written through it.
bool EntryExists(const QString& file_name) {
  struct stat st;
  return lstat(QFile::encodeName(file_name).constData(), &st) == 0;
}

}  // namespace

void ExtractEmbeddedFile(const QString& resource_path, const QString& file_name) {
  if (file_name.isEmpty() || EntryExists(file_name)) return;
  QFile resource(resource_path);
  if (!resource.open(QIODevice::ReadOnly)) return;
  const QByteArray bytes = resource.readAll();
  // O_EXCL refuses a file that appeared since the check instead of replacing it.
  const QByteArray name = QFile::encodeName(file_name);
  int error = 0;
  const int fd = OpenRegularFile(name.constData(), O_WRONLY | O_CREAT | O_EXCL, 0755, &error);
  if (fd < 0) return;
  qint64 done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.constData() + done, static_cast<size_t>(bytes.size() - done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += n;
  }
  if (::close(fd) != 0 || done != bytes.size()) ::unlink(name.constData());
}
