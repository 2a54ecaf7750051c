#include "tools/data/line_block_reader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "core/open_regular_file.h"
#include "tools/data/file_read_ahead.h"

LineBlockReader::~LineBlockReader() {
  if (fd_ >= 0) ::close(fd_);
}

bool LineBlockReader::Open(const std::string& path) {
  int openError = 0;
  fd_ = OpenRegularFile(path.c_str(), O_RDONLY, 0, &openError);
  if (fd_ < 0) {
    error_ = path + ": " + OpenErrorText(openError);
    return false;
  }
  struct stat info;
  if (::fstat(fd_, &info) != 0) {
    error_ = path + ": " + std::strerror(errno);
    ::close(fd_);
    fd_ = -1;
    return false;
  }
  size_ = info.st_size;
  mtime_ = info.st_mtim;
  buffer_.resize(kBlockSize + kMaxLine);
  return true;
}

bool LineBlockReader::Open(FileReadAhead* ahead) {
  const FileReadAhead::Piece* piece = ahead->Next();
  if (piece == nullptr || piece->kind != FileReadAhead::Piece::Kind::kOpened) {
    error_ = piece != nullptr ? piece->error : "read ahead ended early";
    return false;
  }
  ahead_ = ahead;
  size_ = piece->size;
  mtime_ = piece->mtime;
  buffer_.resize(kBlockSize + kMaxLine);
  return true;
}

// Moves the unread tail to the front and reads the next block behind it.
bool LineBlockReader::Fill() {
  if (eof_) return false;
  if (begin_ > 0) {
    std::memmove(buffer_.data(), buffer_.data() + begin_, end_ - begin_);
    end_ -= begin_;
    begin_ = 0;
  }
  if (ahead_ != nullptr) {
    // The tail left is shorter than kMaxLine, so a block of the read-ahead fits behind it.
    const FileReadAhead::Piece* piece = ahead_->Next();
    if (piece != nullptr && piece->kind == FileReadAhead::Piece::Kind::kBytes &&
        piece->bytes.size() <= buffer_.size() - end_) {
      std::memcpy(buffer_.data() + end_, piece->bytes.data(), piece->bytes.size());
      end_ += piece->bytes.size();
      return true;
    }
    if (piece == nullptr || piece->kind != FileReadAhead::Piece::Kind::kEnd) {
      error_ = piece != nullptr && !piece->error.empty() ? piece->error : "read ahead out of step";
    }
    // The file's pieces are all taken, so the next file's come next.
    while (piece != nullptr && piece->kind == FileReadAhead::Piece::Kind::kBytes) piece = ahead_->Next();
    eof_ = true;
    return false;
  }
  for (;;) {
    const ssize_t n = ::read(fd_, buffer_.data() + end_, buffer_.size() - end_);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) error_ = std::string("read: ") + std::strerror(errno);
    if (n <= 0) {
      eof_ = true;
      return false;
    }
    end_ += static_cast<std::size_t>(n);
    return true;
  }
}

bool LineBlockReader::Next(std::string_view* line) {
  if (fd_ < 0 && ahead_ == nullptr) return false;
  for (;;) {
    const char* start = buffer_.data() + begin_;
    const void* lf = std::memchr(start, '\n', end_ - begin_);
    if (lf != nullptr) {
      const std::size_t length = static_cast<std::size_t>(static_cast<const char*>(lf) - start);
      begin_ += length + 1;
      consumed_ += length + 1;
      if (skipping_ || length > kMaxLine) {
        if (!skipping_) ++overlong_;
        skipping_ = false;
        continue;
      }
      *line = std::string_view(start, length > 0 && start[length - 1] == '\r' ? length - 1 : length);
      return true;
    }
    if (end_ - begin_ >= kMaxLine) {
      // Drop what is held of an overlong line and keep looking for its end.
      if (!skipping_) ++overlong_;
      skipping_ = true;
      consumed_ += end_ - begin_;
      begin_ = end_;
    }
    if (!Fill()) return false;
  }
}
