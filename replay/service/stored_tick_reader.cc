#include "replay/service/stored_tick_reader.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "core/open_regular_file.h"

StoredTickReader::~StoredTickReader() {
  if (file_) std::fclose(file_);
}

StoredTickReader::OpenResult StoredTickReader::Open(const std::string& path) {
  if (file_) {
    std::fclose(file_);
    file_ = nullptr;
  }
  // Never waits on a named pipe (that would hold the file lock) and never follows a link.
  int error = 0;
  const int fd = OpenRegularFile(path.c_str(), O_RDONLY | O_NOCTTY, 0, &error);
  if (fd < 0) return error == ENOENT || error == ENOTDIR ? OpenResult::Missing : OpenResult::Unreadable;
  file_ = ::fdopen(fd, "rb");
  if (!file_) {
    ::close(fd);
    return OpenResult::Unreadable;
  }
  buffer_.resize(kMaxLineBytes + 2);
  return OpenResult::Ok;
}

bool StoredTickReader::Rewind() {
  if (!file_) return false;
  std::rewind(file_);
  return true;
}

bool StoredTickReader::Next(std::string_view* line) {
  if (!file_ || !std::fgets(buffer_.data(), static_cast<int>(buffer_.size()), file_)) return false;
  std::size_t length = std::strlen(buffer_.data());
  if (length > 0 && buffer_[length - 1] != '\n') {
    // Longer than a line may be: keep its first kMaxLineBytes and skip to the next line break.
    int c;
    while ((c = std::getc(file_)) != EOF && c != '\n') {
    }
  }
  length = std::min(length, kMaxLineBytes);
  while (length > 0 && (buffer_[length - 1] == '\n' || buffer_[length - 1] == '\r')) --length;
  *line = std::string_view(buffer_.data(), length);
  return true;
}
