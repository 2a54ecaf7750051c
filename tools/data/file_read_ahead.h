#ifndef QUOTELOOM_TOOLS_DATA_FILE_READ_AHEAD_H
#define QUOTELOOM_TOOLS_DATA_FILE_READ_AHEAD_H

#include <sys/types.h>

#include <array>
#include <condition_variable>
#include <ctime>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// Reads a list of files one after another, a few blocks ahead of their reader, on a thread of its
// own: copying a day's files out of the page cache runs beside the parsing. Files are opened as
// regular files only, without waiting and without following a link (core/open_regular_file).
// Created and read by one thread; the reading thread is its own.
class FileReadAhead {
 public:
  static constexpr std::size_t kBlocks = 4;
  static constexpr std::size_t kBlockSize = 1 << 20;

  // One step of the reading, in order: per file kOpened (or kFailed), then its kBytes, then kEnd
  // (or kFailed after a read error).
  struct Piece {
    enum class Kind { kOpened, kBytes, kEnd, kFailed };
    Kind kind = Kind::kEnd;
    std::size_t file = 0;        // in the list
    std::vector<char> bytes;     // kBytes: bytes.size() of them are the file's next
    off_t size = 0;              // kOpened: size and modification time at opening
    timespec mtime{};
    std::string error;           // kFailed: the path and why
  };

  explicit FileReadAhead(std::vector<std::string> paths);
  ~FileReadAhead();
  FileReadAhead(const FileReadAhead&) = delete;
  FileReadAhead& operator=(const FileReadAhead&) = delete;

  // The next piece, the caller's until the next call; null after the last file's last piece.
  const Piece* Next();

 private:
  void Run();
  // Waits for a free slot for piece n; null when stopping.
  Piece* Slot(std::size_t n);
  void Publish();

  const std::vector<std::string> paths_;
  std::thread thread_;
  std::mutex mutex_;
  std::condition_variable changed_;
  // Guarded by mutex_.
  std::array<Piece, kBlocks> pieces_;
  std::size_t filled_ = 0;  // pieces the thread has filled
  std::size_t taken_ = 0;   // pieces handed out; the one before taken_ may still be read
  bool done_ = false;
  bool stop_ = false;
};

#endif
