#include "tools/data/file_read_ahead.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "core/errno_text.h"
#include "core/open_regular_file.h"

FileReadAhead::FileReadAhead(std::vector<std::string> paths) : paths_(std::move(paths)) {
  thread_ = std::thread([this] { Run(); });
}

FileReadAhead::~FileReadAhead() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  changed_.notify_all();
  thread_.join();
}

const FileReadAhead::Piece* FileReadAhead::Next() {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [this] { return filled_ > taken_ || done_; });
  if (filled_ == taken_) return nullptr;
  const Piece* piece = &pieces_[taken_++ % kBlocks];
  // Taking a piece frees the one handed out before it.
  changed_.notify_all();
  return piece;
}

FileReadAhead::Piece* FileReadAhead::Slot(std::size_t n) {
  std::unique_lock<std::mutex> lock(mutex_);
  // Piece n fills the slot of piece n - kBlocks, free once the reader took the piece after it.
  changed_.wait(lock, [this, n] { return stop_ || n < kBlocks || n + 1 < taken_ + kBlocks; });
  return stop_ ? nullptr : &pieces_[n % kBlocks];
}

void FileReadAhead::Publish() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ++filled_;
  }
  changed_.notify_all();
}

void FileReadAhead::Run() {
  std::size_t n = 0;
  for (std::size_t file = 0; file < paths_.size(); ++file) {
    const std::string& path = paths_[file];
    Piece* piece = Slot(n++);
    if (piece == nullptr) break;
    piece->file = file;
    int openError = 0;
    const int fd = OpenRegularFile(path.c_str(), O_RDONLY, 0, &openError);
    struct stat info;
    if (fd < 0 || ::fstat(fd, &info) != 0) {
      piece->kind = Piece::Kind::kFailed;
      piece->error = path + ": " + (fd < 0 ? OpenErrorText(openError) : ErrnoText(errno));
      if (fd >= 0) ::close(fd);
      Publish();
      continue;
    }
    piece->kind = Piece::Kind::kOpened;
    piece->size = info.st_size;
    piece->mtime = info.st_mtim;
    Publish();
    for (;;) {
      piece = Slot(n++);
      if (piece == nullptr) break;
      piece->file = file;
      piece->bytes.resize(kBlockSize);
      ssize_t got;
      do {
        got = ::read(fd, piece->bytes.data(), kBlockSize);
      } while (got < 0 && errno == EINTR);
      if (got > 0) {
        piece->kind = Piece::Kind::kBytes;
        piece->bytes.resize(static_cast<std::size_t>(got));
        Publish();
        continue;
      }
      piece->kind = got == 0 ? Piece::Kind::kEnd : Piece::Kind::kFailed;
      if (got < 0) piece->error = std::string("read: ") + ErrnoText(errno);
      Publish();
      break;
    }
    ::close(fd);
    if (piece == nullptr) break;
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    done_ = true;
  }
  changed_.notify_all();
}
