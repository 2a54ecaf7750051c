#include "storage/journal_reader.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "core/errno_text.h"
#include "core/open_regular_file.h"

namespace {

constexpr std::size_t kRecordsPerRead = 512;

}  // namespace

JournalReader::~JournalReader() {
  readAhead_.reset();  // its thread reads fd_
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
  const ssize_t n = ReadJournalBytesAt(fd_, header.data(), header.size(), 0);
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
  readAhead_.reset();
  offset_ = offset;
  bufferUsed_ = bufferSize_ = 0;
  return true;
}

void JournalReader::ReadAhead() {
  if (fd_ < 0) return;
  bufferUsed_ = bufferSize_ = 0;
  readAhead_ = std::make_unique<JournalReadAhead>(fd_, offset_, kRecordsPerRead);
}

bool JournalReader::Fill(std::string* error) {
  bufferUsed_ = 0;
  if (readAhead_) {
    if (const JournalReadAhead::Block* block = readAhead_->Next()) {
      bufferData_ = block->bytes.data();
      bufferValid_ = block->valid.data();
      bufferSize_ = block->records * kJournalRecordSize;
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
  const ssize_t n = ReadJournalBytesAt(fd_, buffer_.data(), buffer_.size(), offset_);
  if (n < 0) {
    bufferSize_ = 0;
    *error = path_ + ": " + ErrnoText(errno);
    return false;
  }
  const std::size_t whole = static_cast<std::size_t>(n) / kJournalRecordSize * kJournalRecordSize;
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
    const bool valid = bufferValid_ != nullptr ? bufferValid_[bufferUsed_ / kJournalRecordSize] != 0
                                               : JournalRecordValid(record);
    bufferUsed_ += kJournalRecordSize;
    offset_ += kJournalRecordSize;
    if (valid) {
      DecodeValidJournalRecord(record, entry);
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
