#include "storage/journal_reader.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "core/errno_text.h"
#include "core/open_regular_file.h"

namespace {

constexpr std::size_t kRecordsPerRead = 512;

// Reads up to `size` bytes at `offset`, retrying after signals and short reads. -1 on an error.
ssize_t ReadAt(int fd, unsigned char* data, std::size_t size, std::uint64_t offset) {
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

}  // namespace

JournalReader::~JournalReader() {
  if (fd_ >= 0) ::close(fd_);
}

bool JournalReader::Open(const std::string& path, std::string* error) {
  path_ = path;
  int openError = 0;
  fd_ = OpenRegularFile(path.c_str(), O_RDONLY, 0, &openError);
  if (fd_ < 0) {
    *error = path + ": " + OpenErrorText(openError);
    return false;
  }
  std::vector<unsigned char> header(JournalHeaderSize());
  const ssize_t n = ReadAt(fd_, header.data(), header.size(), 0);
  if (n < 0) {
    *error = path + ": " + ErrnoText(errno);
    return false;
  }
  std::size_t headerSize = 0;
  std::string why;
  if (!CheckJournalHeader(header.data(), static_cast<std::size_t>(n), &headerSize, &why)) {
    *error = path + ": " + why;
    return false;
  }
  headerSize_ = offset_ = headerSize;
  buffer_.resize(kRecordsPerRead * kJournalRecordSize);
  return true;
}

bool JournalReader::Seek(std::uint64_t offset) {
  if (fd_ < 0 || offset < headerSize_ || (offset - headerSize_) % kJournalRecordSize != 0) return false;
  offset_ = offset;
  bufferUsed_ = bufferSize_ = 0;
  return true;
}

bool JournalReader::Fill(std::string* error) {
  const ssize_t n = ReadAt(fd_, buffer_.data(), buffer_.size(), offset_);
  if (n < 0) {
    *error = path_ + ": " + ErrnoText(errno);
    return false;
  }
  const std::size_t whole = static_cast<std::size_t>(n) / kJournalRecordSize * kJournalRecordSize;
  partialBytes_ = whole == 0 ? static_cast<std::size_t>(n) : 0;
  bufferSize_ = whole;
  bufferUsed_ = 0;
  return true;
}

JournalReader::Result JournalReader::Next(JournalEntry* entry, std::string* error) {
  if (fd_ < 0) {
    *error = "journal not open";
    return Result::kError;
  }
  for (;;) {
    if (bufferUsed_ == bufferSize_ && !Fill(error)) return Result::kError;
    if (bufferSize_ == 0) return Result::kEnd;
    const unsigned char* record = buffer_.data() + bufferUsed_;
    bufferUsed_ += kJournalRecordSize;
    offset_ += kJournalRecordSize;
    if (DecodeJournalRecord(record, entry)) return Result::kRecord;
    ++badRecords_;
  }
}

bool ReadWholeJournal(const std::string& path, std::vector<JournalEntry>* entries, std::string* error,
                      std::uint64_t* badRecords) {
  JournalReader reader;
  if (!reader.Open(path, error)) return false;
  JournalEntry entry;
  for (;;) {
    const JournalReader::Result r = reader.Next(&entry, error);
    if (r == JournalReader::Result::kError) return false;
    if (r == JournalReader::Result::kEnd) break;
    entries->push_back(entry);
  }
  if (badRecords != nullptr) *badRecords = reader.badRecords();
  return true;
}
