#include "storage/journal_field_table.h"

#include <array>
#include <cstring>

#include "storage/journal_format.h"

namespace {

JournalFieldType TypeOf(const char* type) {
  if (std::strcmp(type, "u64") == 0) return JournalFieldType::kU64;
  if (std::strcmp(type, "i64") == 0) return JournalFieldType::kI64;
  if (std::strcmp(type, "u32") == 0) return JournalFieldType::kU32;
  if (std::strcmp(type, "i32") == 0) return JournalFieldType::kI32;
  if (std::strcmp(type, "f64") == 0) return JournalFieldType::kF64;
  return JournalFieldType::kText;
}

// Read from the header the journal writer makes, so the table is the format's own field list.
JournalFieldTable BuildTable(std::uint32_t version) {
  JournalFieldTable table;
  table.version = version;
  table.recordSize = JournalRecordSize(version);
  const std::string header = JournalHeaderBytes("", version);
  std::uint32_t count = 0;
  std::memcpy(&count, header.data() + 20, 4);
  std::vector<bool> covered(table.recordSize, false);
  for (std::uint32_t i = 0; i < count; ++i) {
    const char* entry = header.data() + kJournalFixedHeaderSize + i * kJournalFieldEntrySize;
    JournalField field;
    field.name.assign(entry, strnlen(entry, 24));
    std::memcpy(&field.offset, entry + 24, 2);
    std::memcpy(&field.size, entry + 26, 2);
    char type[5] = {};
    std::memcpy(type, entry + 28, 4);
    field.type = TypeOf(type);
    for (std::size_t b = field.offset; b < field.offset + field.size; ++b) covered[b] = true;
    if (field.name == "Checksum") {
      table.checksumOffset = field.offset;
    } else {
      table.fields.push_back(std::move(field));
    }
  }
  for (std::size_t b = 0; b < covered.size();) {
    if (covered[b]) {
      ++b;
      continue;
    }
    std::size_t end = b;
    while (end < covered.size() && !covered[end]) ++end;
    table.gaps.emplace_back(static_cast<std::uint16_t>(b), static_cast<std::uint16_t>(end));
    b = end;
  }
  return table;
}

}  // namespace

int JournalFieldTable::Find(const std::string& name) const {
  for (std::size_t i = 0; i < fields.size(); ++i) {
    if (fields[i].name == name) return static_cast<int>(i);
  }
  return -1;
}

const JournalFieldTable* JournalFieldTableOf(std::uint32_t version) {
  static const std::array<JournalFieldTable, kJournalVersion> tables = [] {
    std::array<JournalFieldTable, kJournalVersion> t;
    for (std::uint32_t v = 1; v <= kJournalVersion; ++v) t[v - 1] = BuildTable(v);
    return t;
  }();
  return version >= 1 && version <= kJournalVersion ? &tables[version - 1] : nullptr;
}

bool JournalRecordGapsZero(const JournalFieldTable& table, const unsigned char* record) {
  // The bytes of every gap are or-ed together, with no branch per byte: nearly every record passes.
  unsigned char any = 0;
  for (const auto& [first, end] : table.gaps) {
    for (std::size_t b = first; b < end; ++b) any |= record[b];
  }
  return any == 0;
}
