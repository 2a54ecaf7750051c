#ifndef QUOTELOOM_STORAGE_JOURNAL_FORMAT_H
#define QUOTELOOM_STORAGE_JOURNAL_FORMAT_H

#include <cstddef>
#include <cstdint>
#include <string>

#include "core/tick_record.h"

// The tick journal "Journal/<trading day>.qtj": a header (magic, version, sizes, the field list)
// and fixed-size little-endian records, each every field of a tick bit for bit with the write
// time, a sequence number and a CRC-32. docs/tick-files.md has the layout. Pure functions, any thread.

inline constexpr char kJournalMagic[8] = {'Q', 'T', 'J', 'O', 'U', 'R', 'N', 'L'};
inline constexpr std::uint32_t kJournalVersion = 1;
inline constexpr std::size_t kJournalFixedHeaderSize = 32;
inline constexpr std::size_t kJournalFieldEntrySize = 32;
inline constexpr std::size_t kJournalRecordSize = 432;
inline constexpr std::size_t kJournalTickOffset = 16;    // the tick's fields, at their record offsets + 16
inline constexpr std::size_t kJournalChecksumOffset = 424;
inline constexpr const char* kJournalDirectory = "Journal";

// One record as readers get it.
struct JournalEntry {
  std::uint64_t sequence = 0;    // 1 for the first record of a file, then one more per record
  std::int64_t writeTimeNs = 0;  // Unix time of the write, nanoseconds
  TickRecord tick{};             // Filled is 1
};

// The whole header of version 1 (fixed part and field list).
std::string JournalHeaderBytes(const char* tradingDay);
std::size_t JournalHeaderSize();

// Checks the first `size` bytes of a file (the whole file when shorter than a header). On success
// `*headerSize` is where the records begin. Otherwise false with the reason: not a journal (magic),
// a newer or unknown version, a truncated header, records of another size, another field list.
bool CheckJournalHeader(const unsigned char* data, std::size_t size, std::size_t* headerSize, std::string* error);

void EncodeJournalRecord(const JournalEntry& entry, unsigned char (&out)[kJournalRecordSize]);
// False when the checksum does not match (a record torn or damaged on disk) or a text field has no
// terminator (no record the collector writes).
bool DecodeJournalRecord(const unsigned char* data, JournalEntry* entry);
// The two halves of DecodeJournalRecord, for readers that check records on another thread.
bool JournalRecordValid(const unsigned char* data);
void DecodeValidJournalRecord(const unsigned char* data, JournalEntry* entry);

// "Journal/<day>.qtj"; false for a day that cannot name a file.
bool JournalFilePath(const char* tradingDay, std::string* out);

#endif
