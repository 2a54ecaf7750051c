#ifndef QUOTELOOM_STORAGE_JOURNAL_FIELD_TABLE_H
#define QUOTELOOM_STORAGE_JOURNAL_FIELD_TABLE_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

// A journal version's record fields as its header's field list names them (storage/journal_format),
// for the packed day's columns. Built once per version; any thread.

enum class JournalFieldType { kU64, kI64, kU32, kI32, kF64, kText };

struct JournalField {
  std::string name;
  std::uint16_t offset = 0;
  std::uint16_t size = 0;
  JournalFieldType type = JournalFieldType::kU64;
};

struct JournalFieldTable {
  std::uint32_t version = 0;
  std::size_t recordSize = 0;
  std::size_t checksumOffset = 0;
  std::vector<JournalField> fields;  // in record order, without the checksum
  // Byte ranges [first, second) that no field covers (the checksum counts as covered): zero in
  // every record the journal writer makes.
  std::vector<std::pair<std::uint16_t, std::uint16_t>> gaps;

  // The position in `fields` of the field named `name`; -1 when there is none.
  int Find(const std::string& name) const;
};

// The table of a journal version read (1 to kJournalVersion); null for any other.
const JournalFieldTable* JournalFieldTableOf(std::uint32_t version);

// True when every byte outside the fields is zero, as the writer leaves them: such a record is
// rebuilt exactly from its fields.
bool JournalRecordGapsZero(const JournalFieldTable& table, const unsigned char* record);

#endif
