#ifndef QUOTELOOM_STORAGE_JOURNAL_READER_H
#define QUOTELOOM_STORAGE_JOURNAL_READER_H

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "storage/journal_format.h"
#include "storage/journal_read_ahead.h"

// Reads a tick journal record by record, of any version from 1 on; the one reader every program
// uses. The header is checked at Open, so a bad magic, a newer version, a truncated header or records
// of another size are refused with the reason and never misread. A partial last record (the file is still being written, or a
// crash tore it) is left for a later Next; a record whose checksum fails is skipped and counted.
// Follows a growing file: Next after kEnd reads what was appended since. One thread at a time.
class JournalReader {
 public:
  enum class Result { kRecord, kEnd, kError };

  JournalReader();
  ~JournalReader();
  JournalReader(const JournalReader&) = delete;
  JournalReader& operator=(const JournalReader&) = delete;

  // Opens `path` (without following links or blocking) and checks the header, closing the file
  // opened before. False with a message that names the file; openError() and headerIncomplete()
  // then tell why.
  bool Open(const std::string& path, std::string* error);
  void Close();
  // Reads at most this many records from the file at a time (512 unless set), for a reader that wants
  // only a few; the buffer is kept from one Open to the next.
  void SetRecordsPerRead(std::size_t records);
  // The next whole record; kEnd when none is complete yet, kError (with the message) when reading fails.
  Result Next(JournalEntry* entry, std::string* error);
  // Continues at a record boundary saved from offset(); false when it is not one.
  bool Seek(std::uint64_t offset);
  // For one pass over a file: a thread of the reader's own reads and checks the records ahead until
  // the first end it meets; Next then reads on the calling thread as before. Call after Open.
  void ReadAhead();

  // The record last returned by Next as it is in the file; valid until the next Next or Seek.
  const unsigned char* recordBytes() const { return lastRecord_; }

  // File offset just after the last record returned (or the header).
  std::uint64_t offset() const { return offset_; }
  std::uint64_t headerSize() const { return headerSize_; }
  std::uint32_t version() const { return version_; }
  std::size_t recordSize() const { return recordSize_; }
  // The open file's identity and size at Open (also after a refused header).
  std::uint64_t device() const { return device_; }
  std::uint64_t inode() const { return inode_; }
  std::uint64_t sizeAtOpen() const { return sizeAtOpen_; }
  // After a failed Open: the errno of the open (0 when it opened), and whether the file is shorter
  // than a header, as a journal just being started is.
  int openError() const { return openError_; }
  bool headerIncomplete() const { return headerIncomplete_; }
  std::uint64_t badRecords() const { return badRecords_; }
  // Bytes of a partial record after the last whole one, as of the last Next that returned kEnd.
  std::uint64_t partialBytes() const { return partialBytes_; }

 private:
  bool Fill(std::string* error);

  std::string path_;
  int fd_ = -1;
  std::uint64_t headerSize_ = 0;
  std::size_t recordsPerRead_;
  std::uint32_t version_ = kJournalVersion;
  std::size_t recordSize_ = kJournalRecordSize;
  std::uint64_t device_ = 0;
  std::uint64_t inode_ = 0;
  std::uint64_t sizeAtOpen_ = 0;
  int openError_ = 0;
  bool headerIncomplete_ = false;
  const unsigned char* lastRecord_ = nullptr;
  std::uint64_t offset_ = 0;       // next record to return
  std::uint64_t badRecords_ = 0;
  std::uint64_t partialBytes_ = 0;
  std::vector<unsigned char> buffer_;  // whole records read at the offset of the first not returned
  const unsigned char* bufferData_ = nullptr;  // buffer_, or the block of the read-ahead
  const std::uint8_t* bufferValid_ = nullptr;  // the read-ahead's checks of the block's records
  std::size_t bufferUsed_ = 0;                 // bytes already returned
  std::size_t bufferSize_ = 0;
  std::unique_ptr<JournalReadAhead> readAhead_;
};

// Reads every whole record of `path` into `entries`. False with the message on a refused header or a
// read error. `badRecords` (may be null) gets the records skipped for a bad checksum.
bool ReadWholeJournal(const std::string& path, std::vector<JournalEntry>* entries, std::string* error,
                      std::uint64_t* badRecords = nullptr);

#endif
