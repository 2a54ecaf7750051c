#ifndef QUOTELOOM_STORAGE_JOURNAL_READ_AHEAD_H
#define QUOTELOOM_STORAGE_JOURNAL_READ_AHEAD_H

#include <sys/types.h>

#include <array>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

// Reads a journal's whole records ahead of a one-pass reader on a thread of its own and checks each
// record there, so the reader only decodes while the next blocks are read. Created, read and
// destroyed by one reading thread; its own thread stops at the first short read, an error or
// destruction, holding at most kBlocks blocks.
class JournalReadAhead {
 public:
  static constexpr std::size_t kBlocks = 4;

  struct Block {
    std::vector<unsigned char> bytes;  // whole records
    std::vector<std::uint8_t> valid;   // per record: checksum and texts in order
    std::size_t records = 0;
  };

  // Reads `fd` (still owned by the caller), a journal of `version`, from `offset`, a record boundary.
  JournalReadAhead(int fd, std::uint32_t version, std::uint64_t offset, std::size_t recordsPerBlock);
  ~JournalReadAhead();
  JournalReadAhead(const JournalReadAhead&) = delete;
  JournalReadAhead& operator=(const JournalReadAhead&) = delete;

  // The next block in file order, the caller's until the next call; null once the thread stopped
  // and every block was taken (error() then tells a failed read from the end of the records).
  const Block* Next();
  int error() const { return error_; }

 private:
  void Run();

  const int fd_;
  const std::uint32_t version_;
  const std::size_t recordSize_;
  const std::uint64_t start_;
  std::thread thread_;
  std::mutex mutex_;
  std::condition_variable changed_;
  // Guarded by mutex_.
  std::array<Block, kBlocks> blocks_;
  std::size_t filled_ = 0;  // blocks the thread has filled
  std::size_t taken_ = 0;   // blocks handed out; the one before taken_ may still be read
  bool done_ = false;
  bool stop_ = false;
  int error_ = 0;  // written by the thread before done_, read after it
};

// Reads up to `size` bytes at `offset`, retrying after signals and short reads; -1 on an error.
ssize_t ReadJournalBytesAt(int fd, unsigned char* data, std::size_t size, std::uint64_t offset);

#endif
