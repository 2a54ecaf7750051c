#include "plotmire/extract_embedded_file.h"

#include <QFile>

#include <sys/stat.h>

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
  QFile out(file_name);
  // NewOnly refuses a file that appeared since the check instead of replacing it.
  if (!out.open(QIODevice::WriteOnly | QIODevice::NewOnly)) return;
  const bool written = out.write(bytes) == bytes.size() && out.flush();
  out.close();
  if (!written || out.error() != QFileDevice::NoError) {
    out.remove();
    return;
  }
  out.setPermissions(out.permissions() | QFileDevice::ExeOwner | QFileDevice::ExeUser | QFileDevice::ExeGroup |
                     QFileDevice::ExeOther);
}
