#include "storage/journal_read_ahead.h"

#include <unistd.h>

#include <cerrno>

#include "storage/journal_format.h"

ssize_t ReadJournalBytesAt(int fd, unsigned char* data, std::size_t size, std::uint64_t offset) {
  std::size_t done = 0;
  while (done < size) {
    const ssize_t n = ::pread(fd, data + done, size - done, static_cast<off_t>(offset + done));
    if (n < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    if (n == 0) break;
    done += static_cast<std::size_t>(n);
  }
  return static_cast<ssize_t>(done);
}

JournalReadAhead::JournalReadAhead(int fd, std::uint32_t version, std::uint64_t offset, std::size_t recordsPerBlock)
    : fd_(fd), version_(version), recordSize_(JournalRecordSize(version)), start_(offset) {
  for (Block& block : blocks_) {
    block.bytes.resize(recordsPerBlock * recordSize_);
    block.valid.resize(recordsPerBlock);
  }
  thread_ = std::thread([this] { Run(); });
}

JournalReadAhead::~JournalReadAhead() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  changed_.notify_all();
  thread_.join();
}

const JournalReadAhead::Block* JournalReadAhead::Next() {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [this] { return filled_ > taken_ || done_; });
  if (filled_ == taken_) return nullptr;
  const Block* block = &blocks_[taken_++ % kBlocks];
  // Taking a block frees the one handed out before it.
  changed_.notify_all();
  return block;
}

void JournalReadAhead::Run() {
  std::uint64_t offset = start_;
  for (std::size_t n = 0;; ++n) {
    Block* block;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      // Block n fills the slot of block n - kBlocks, free once the reader took the block after it.
      changed_.wait(lock, [this, n] { return stop_ || n < kBlocks || n + 1 < taken_ + kBlocks; });
      if (stop_) break;
      block = &blocks_[n % kBlocks];
    }
    const ssize_t got = ReadJournalBytesAt(fd_, block->bytes.data(), block->bytes.size(), offset);
    if (got < 0) {
      const int readError = errno;
      std::lock_guard<std::mutex> lock(mutex_);
      error_ = readError;
      break;
    }
    const std::size_t records = static_cast<std::size_t>(got) / recordSize_;
    for (std::size_t i = 0; i < records; ++i) {
      block->valid[i] = JournalRecordValid(block->bytes.data() + i * recordSize_, version_) ? 1 : 0;
    }
    offset += records * recordSize_;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      block->records = records;
      if (records > 0) ++filled_;
    }
    changed_.notify_all();
    if (records < block->valid.size()) break;
  }
  std::lock_guard<std::mutex> lock(mutex_);
  done_ = true;
  changed_.notify_all();
}
