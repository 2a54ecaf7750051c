#ifndef QUOTELOOM_TOOLS_DATA_LINE_BLOCK_READER_H
#define QUOTELOOM_TOOLS_DATA_LINE_BLOCK_READER_H

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

class FileReadAhead;

// Reads a tick file in big blocks and hands out its whole lines (those ended by LF; a CR before it
// is dropped). A last line without its line end is not handed out: the collector may be in the
// middle of appending it. One thread.
class LineBlockReader {
 public:
  static constexpr std::size_t kBlockSize = 1 << 20;
  // A line longer than this is not a tick line; it is skipped and counted.
  static constexpr std::size_t kMaxLine = 64 * 1024;

  LineBlockReader() = default;
  ~LineBlockReader();
  LineBlockReader(const LineBlockReader&) = delete;
  LineBlockReader& operator=(const LineBlockReader&) = delete;

  // Opens a regular file; false with error() set otherwise.
  bool Open(const std::string& path);
  // Reads the next file of `ahead` instead, which outlives this reader; false with error() set when
  // it could not be opened. Every piece of the file is taken by the time Next returns false.
  bool Open(FileReadAhead* ahead);
  // The next whole line without its line end; false at the end of the whole lines or on a read error.
  bool Next(std::string_view* line);

  const std::string& error() const { return error_; }
  // Bytes of the file up to the end of the last whole line handed out (or skipped).
  std::uint64_t consumed() const { return consumed_; }
  // Lines longer than kMaxLine that were skipped.
  std::uint64_t overlong() const { return overlong_; }
  // Size and modification time of the file when it was opened.
  off_t size_at_open() const { return size_; }
  const struct timespec& mtime_at_open() const { return mtime_; }

 private:
  bool Fill();

  int fd_ = -1;
  FileReadAhead* ahead_ = nullptr;
  std::string error_;
  std::vector<char> buffer_;
  std::size_t begin_ = 0;  // first byte not yet handed out
  std::size_t end_ = 0;    // end of the bytes read
  bool eof_ = false;
  bool skipping_ = false;  // inside an overlong line
  std::uint64_t consumed_ = 0;
  std::uint64_t overlong_ = 0;
  off_t size_ = 0;
  struct timespec mtime_ {};
};

#endif
