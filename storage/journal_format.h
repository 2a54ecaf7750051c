#ifndef QUOTELOOM_STORAGE_JOURNAL_FORMAT_H
#define QUOTELOOM_STORAGE_JOURNAL_FORMAT_H

#include <cstddef>
#include <cstdint>
#include <string>

#include "core/tick_record.h"

// The tick journal "Journal/<trading day>.qtj": a header (magic, version, sizes, the field list)
// and fixed-size little-endian records, each every field of a tick bit for bit with the write
// time, a sequence number and a CRC-32; from version 2 also the tick's arrival time.
// docs/tick-files.md has the layout. Pure functions, any thread.

inline constexpr char kJournalMagic[8] = {'Q', 'T', 'J', 'O', 'U', 'R', 'N', 'L'};
// The version written; every version from 1 on is read.
inline constexpr std::uint32_t kJournalVersion = 2;
inline constexpr std::size_t kJournalFixedHeaderSize = 32;
inline constexpr std::size_t kJournalFieldEntrySize = 32;
inline constexpr std::size_t kJournalRecordSize = 440;   // of the version written
inline constexpr std::size_t kJournalRecordSizeV1 = 432;
inline constexpr std::size_t kJournalMaxRecordSize = kJournalRecordSize;
inline constexpr std::size_t kJournalTickOffset = 16;    // the tick's fields, at their record offsets + 16
inline constexpr const char* kJournalDirectory = "Journal";

// One record as readers get it.
struct JournalEntry {
  std::uint64_t sequence = 0;    // 1 for the first record of a file, then one more per record
  std::int64_t writeTimeNs = 0;  // Unix time of the write, nanoseconds
  TickRecord tick{};             // Filled is 1
  // Unix time the tick reached the collector, nanoseconds; 0: not recorded (a version 1 journal).
  std::int64_t arrivalTimeNs = 0;
};

// When the tick arrived, or, where that was not recorded, when it was written.
inline std::int64_t ArrivalOrWriteTimeNs(const JournalEntry& entry) {
  return entry.arrivalTimeNs != 0 ? entry.arrivalTimeNs : entry.writeTimeNs;
}

// Sizes of a version this program reads (1 to kJournalVersion); 0 for any other.
std::size_t JournalRecordSize(std::uint32_t version);
std::size_t JournalHeaderSize(std::uint32_t version = kJournalVersion);
// The largest header of any version read: what a reader reads before it knows the version.
std::size_t JournalMaxHeaderSize();
// True when `offset` is where a record begins in a journal of some version read.
bool IsJournalRecordBoundary(std::uint64_t offset);

// The whole header (fixed part and field list) of `version`.
std::string JournalHeaderBytes(const char* tradingDay, std::uint32_t version = kJournalVersion);

// Checks the first `size` bytes of a file (the whole file when shorter than a header). On success
// `*headerSize` is where the records begin and `*version` (may be null) the file's version.
// Otherwise false with the reason: not a journal (magic), a newer or unknown version, a truncated
// header, records of another size, another field list.
bool CheckJournalHeader(const unsigned char* data, std::size_t size, std::size_t* headerSize, std::string* error,
                        std::uint32_t* version = nullptr);

// The record of the version written.
void EncodeJournalRecord(const JournalEntry& entry, unsigned char (&out)[kJournalRecordSize]);
// The record of `version` into `out` (JournalRecordSize(version) bytes); version 1 has no arrival time.
void EncodeJournalRecord(const JournalEntry& entry, std::uint32_t version, unsigned char* out);
// False when the checksum does not match (a record torn or damaged on disk) or a text field has no
// terminator (no record the collector writes).
bool DecodeJournalRecord(const unsigned char* data, JournalEntry* entry, std::uint32_t version = kJournalVersion);
// The two halves of DecodeJournalRecord, for readers that check records on another thread.
bool JournalRecordValid(const unsigned char* data, std::uint32_t version = kJournalVersion);
void DecodeValidJournalRecord(const unsigned char* data, JournalEntry* entry, std::uint32_t version = kJournalVersion);

// "<root>/Journal/<day>.qtj" ("Journal/<day>.qtj" for an empty root): the one place a journal's
// path is made. The day is not checked.
std::string JournalDayPath(const std::string& root, const std::string& day);
// "<root>/Journal" ("Journal" for an empty root).
std::string JournalDirectoryPath(const std::string& root);
// The same for a day that comes from outside; false for a day that cannot name a file.
bool JournalFilePath(const std::string& root, const char* tradingDay, std::string* out);
// True for "<8 digits>.qtj", the name of a day's journal; `*day` (may be null) gets the digits.
bool IsJournalFileName(const std::string& name, std::string* day = nullptr);

#endif
