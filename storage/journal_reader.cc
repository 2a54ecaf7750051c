#include "storage/journal_reader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "core/errno_text.h"
#include "core/open_regular_file.h"

namespace {

constexpr std::size_t kRecordsPerRead = 512;

// True when the file ends before the header that its version field (or, without one yet, any
// version) declares: a journal whose header is still being written.
bool HeaderCutShort(const unsigned char* data, std::size_t size) {
  if (size < 12) return true;
  std::uint32_t version;
  std::memcpy(&version, data + 8, 4);
  const std::size_t header = JournalHeaderSize(version);
  return header != 0 && size < header;
}

}  // namespace

JournalReader::JournalReader() : recordsPerRead_(kRecordsPerRead) {}

JournalReader::~JournalReader() { Close(); }

void JournalReader::Close() {
  readAhead_.reset();  // its thread reads fd_
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  headerSize_ = offset_ = badRecords_ = partialBytes_ = 0;
  device_ = inode_ = sizeAtOpen_ = 0;
  bufferUsed_ = bufferSize_ = 0;
  bufferValid_ = nullptr;
  lastRecord_ = nullptr;
}

void JournalReader::SetRecordsPerRead(std::size_t records) { recordsPerRead_ = records > 0 ? records : 1; }

bool JournalReader::Open(const std::string& path, std::string* error) {
  Close();
  path_ = path;
  openError_ = 0;
  headerIncomplete_ = false;
  fd_ = OpenRegularFile(path.c_str(), O_RDONLY, 0, &openError_);
  if (fd_ < 0) {
    *error = path + ": " + OpenErrorText(openError_);
    return false;
  }
  struct stat st {};
  if (::fstat(fd_, &st) == 0) {
    device_ = static_cast<std::uint64_t>(st.st_dev);
    inode_ = static_cast<std::uint64_t>(st.st_ino);
    sizeAtOpen_ = static_cast<std::uint64_t>(st.st_size);
  }
  std::vector<unsigned char> header(JournalMaxHeaderSize());
  const ssize_t n = ReadJournalBytesAt(fd_, header.data(), header.size(), 0);
  if (n < 0) {
    *error = path + ": " + ErrnoText(errno);
    return false;
  }
  std::size_t headerSize = 0;
  std::string why;
  if (!CheckJournalHeader(header.data(), static_cast<std::size_t>(n), &headerSize, &why, &version_)) {
    headerIncomplete_ = HeaderCutShort(header.data(), static_cast<std::size_t>(n));
    *error = path + ": " + why;
    return false;
  }
  recordSize_ = JournalRecordSize(version_);
  headerSize_ = offset_ = headerSize;
  if (buffer_.size() < recordsPerRead_ * recordSize_) buffer_.resize(recordsPerRead_ * recordSize_);
  return true;
}

bool JournalReader::Seek(std::uint64_t offset) {
  if (fd_ < 0 || offset < headerSize_ || (offset - headerSize_) % recordSize_ != 0) return false;
  readAhead_.reset();
  offset_ = offset;
  bufferUsed_ = bufferSize_ = 0;
  return true;
}

void JournalReader::ReadAhead() {
  if (fd_ < 0) return;
  bufferUsed_ = bufferSize_ = 0;
  readAhead_ = std::make_unique<JournalReadAhead>(fd_, version_, offset_, recordsPerRead_);
}

bool JournalReader::Fill(std::string* error) {
  bufferUsed_ = 0;
  if (readAhead_) {
    if (const JournalReadAhead::Block* block = readAhead_->Next()) {
      bufferData_ = block->bytes.data();
      bufferValid_ = block->valid.data();
      bufferSize_ = block->records * recordSize_;
      return true;
    }
    const int readError = readAhead_->error();
    readAhead_.reset();
    if (readError != 0) {
      bufferSize_ = 0;
      *error = path_ + ": " + ErrnoText(readError);
      return false;
    }
  }
  bufferValid_ = nullptr;
  const ssize_t n = ReadJournalBytesAt(fd_, buffer_.data(), std::min(buffer_.size(), recordsPerRead_ * recordSize_), offset_);
  if (n < 0) {
    bufferSize_ = 0;
    *error = path_ + ": " + ErrnoText(errno);
    return false;
  }
  const std::size_t whole = static_cast<std::size_t>(n) / recordSize_ * recordSize_;
  partialBytes_ = whole == 0 ? static_cast<std::size_t>(n) : 0;
  bufferData_ = buffer_.data();
  bufferSize_ = whole;
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
    const unsigned char* record = bufferData_ + bufferUsed_;
    const bool valid = bufferValid_ != nullptr ? bufferValid_[bufferUsed_ / recordSize_] != 0
                                               : JournalRecordValid(record, version_);
    bufferUsed_ += recordSize_;
    offset_ += recordSize_;
    if (valid) {
      DecodeValidJournalRecord(record, entry, version_);
      lastRecord_ = record;
      return Result::kRecord;
    }
    ++badRecords_;
  }
}

bool ReadWholeJournal(const std::string& path, std::vector<JournalEntry>* entries, std::string* error,
                      std::uint64_t* badRecords) {
  JournalReader reader;
  if (!reader.Open(path, error)) return false;
  reader.ReadAhead();
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
