#include "storage/journal_format.h"

#include <cstddef>

#include <algorithm>
#include <bit>
#include <cstring>
#include <iterator>
#include <span>

#include "storage/crc32.h"
#include "storage/storage_paths.h"

static_assert(std::endian::native == std::endian::little, "the journal stores the record image as it is in memory");

namespace {

struct Field {
  const char* name;
  const char* type;  // u64 i64 f64 i32 u32, or txt: NUL-padded bytes
  std::size_t offset;
  std::size_t size;
};

#define QL_TICK_FIELD(name, type) {#name, type, kJournalTickOffset + offsetof(TickRecord, name), sizeof(TickRecord::name)}
#define QL_LEVEL(n)                   \
  QL_TICK_FIELD(BidPrice##n, "f64"),  \
  QL_TICK_FIELD(BidVolume##n, "i32"), \
  QL_TICK_FIELD(AskPrice##n, "f64"),  \
  QL_TICK_FIELD(AskVolume##n, "i32")

// The fields both versions share, in record order.
#define QL_COMMON_FIELDS \
  {"Sequence", "u64", 0, 8}, \
  {"WriteTimeNs", "i64", 8, 8}, \
  QL_TICK_FIELD(TradingDay, "txt"), \
  QL_TICK_FIELD(InstrumentID, "txt"), \
  QL_TICK_FIELD(ExchangeID, "txt"), \
  QL_TICK_FIELD(ExchangeInstID, "txt"), \
  QL_TICK_FIELD(LastPrice, "f64"), \
  QL_TICK_FIELD(PreSettlementPrice, "f64"), \
  QL_TICK_FIELD(PreClosePrice, "f64"), \
  QL_TICK_FIELD(PreOpenInterest, "f64"), \
  QL_TICK_FIELD(OpenPrice, "f64"), \
  QL_TICK_FIELD(HighestPrice, "f64"), \
  QL_TICK_FIELD(LowestPrice, "f64"), \
  QL_TICK_FIELD(Volume, "i32"), \
  QL_TICK_FIELD(Turnover, "f64"), \
  QL_TICK_FIELD(OpenInterest, "f64"), \
  QL_TICK_FIELD(ClosePrice, "f64"), \
  QL_TICK_FIELD(SettlementPrice, "f64"), \
  QL_TICK_FIELD(UpperLimitPrice, "f64"), \
  QL_TICK_FIELD(LowerLimitPrice, "f64"), \
  QL_TICK_FIELD(PreDelta, "f64"), \
  QL_TICK_FIELD(CurrDelta, "f64"), \
  QL_TICK_FIELD(UpdateTime, "txt"), \
  QL_TICK_FIELD(UpdateMillisec, "i32"), \
  QL_LEVEL(1), \
  QL_LEVEL(2), \
  QL_LEVEL(3), \
  QL_LEVEL(4), \
  QL_LEVEL(5), \
  QL_TICK_FIELD(AveragePrice, "f64"), \
  QL_TICK_FIELD(ActionDay, "txt")

const Field kFieldsV1[] = {
    QL_COMMON_FIELDS,
    {"Checksum", "u32", 424, 4},
};

const Field kFieldsV2[] = {
    QL_COMMON_FIELDS,
    {"ArrivalTimeNs", "i64", 424, 8},
    {"Checksum", "u32", 432, 4},
};

#undef QL_COMMON_FIELDS
#undef QL_LEVEL
#undef QL_TICK_FIELD

// The tick's fields end where Filled begins; Filled itself is not stored (always 1).
constexpr std::size_t kTickBytes = offsetof(TickRecord, Filled);
constexpr std::size_t kTickEnd = kJournalTickOffset + kTickBytes;
static_assert(kTickEnd == 424);

// What differs between the versions read.
struct Layout {
  std::size_t recordSize;
  std::size_t arrivalOffset;  // 0: none
  std::size_t checksumOffset;
  const Field* fields;
  std::size_t fieldCount;
};

constexpr Layout kLayouts[] = {
    {kJournalRecordSizeV1, 0, 424, kFieldsV1, std::size(kFieldsV1)},
    {kJournalRecordSize, 424, 432, kFieldsV2, std::size(kFieldsV2)},
};
static_assert(std::size(kLayouts) == kJournalVersion);

// The layout of a version read; null for any other.
const Layout* LayoutOf(std::uint32_t version) {
  return version >= 1 && version <= kJournalVersion ? &kLayouts[version - 1] : nullptr;
}

void PutU32(std::string* out, std::uint32_t v) { out->append(reinterpret_cast<const char*>(&v), 4); }
void PutU16(std::string* out, std::uint16_t v) { out->append(reinterpret_cast<const char*>(&v), 2); }

void PutPadded(std::string* out, const char* text, std::size_t width) {
  const std::size_t n = std::min(std::strlen(text), width - 1);
  out->append(text, n);
  out->append(width - n, '\0');
}

std::uint32_t GetU32(const unsigned char* p) {
  std::uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}

std::uint32_t Checksum(const unsigned char* data, const Layout& layout) {
  return Crc32(data, layout.checksumOffset);
}

std::size_t HeaderSizeOf(const Layout& layout) {
  return kJournalFixedHeaderSize + layout.fieldCount * kJournalFieldEntrySize;
}

}  // namespace

std::size_t JournalRecordSize(std::uint32_t version) {
  const Layout* layout = LayoutOf(version);
  return layout != nullptr ? layout->recordSize : 0;
}

std::size_t JournalHeaderSize(std::uint32_t version) {
  const Layout* layout = LayoutOf(version);
  return layout != nullptr ? HeaderSizeOf(*layout) : 0;
}

std::size_t JournalMaxHeaderSize() {
  std::size_t size = 0;
  for (const Layout& layout : kLayouts) size = std::max(size, HeaderSizeOf(layout));
  return size;
}

bool IsJournalRecordBoundary(std::uint64_t offset) {
  for (const Layout& layout : kLayouts) {
    const std::uint64_t header = HeaderSizeOf(layout);
    if (offset >= header && (offset - header) % layout.recordSize == 0) return true;
  }
  return false;
}

std::string JournalHeaderBytes(const char* tradingDay, std::uint32_t version) {
  const Layout& layout = *LayoutOf(version);
  std::string out(kJournalMagic, sizeof(kJournalMagic));
  PutU32(&out, version);
  PutU32(&out, static_cast<std::uint32_t>(HeaderSizeOf(layout)));
  PutU32(&out, static_cast<std::uint32_t>(layout.recordSize));
  PutU32(&out, static_cast<std::uint32_t>(layout.fieldCount));
  out.append(tradingDay, strnlen(tradingDay, 8));
  out.resize(kJournalFixedHeaderSize, '\0');
  for (const Field& f : std::span(layout.fields, layout.fieldCount)) {
    PutPadded(&out, f.name, 24);
    PutU16(&out, static_cast<std::uint16_t>(f.offset));
    PutU16(&out, static_cast<std::uint16_t>(f.size));
    PutPadded(&out, f.type, 4);
  }
  return out;
}

bool CheckJournalHeader(const unsigned char* data, std::size_t size, std::size_t* headerSize, std::string* error,
                        std::uint32_t* fileVersion) {
  if (size < sizeof(kJournalMagic) || std::memcmp(data, kJournalMagic, sizeof(kJournalMagic)) != 0) {
    *error = size < sizeof(kJournalMagic) && std::memcmp(data, kJournalMagic, size) == 0
                 ? "truncated header (" + std::to_string(size) + " bytes)"
                 : "not a tick journal (bad magic)";
    return false;
  }
  if (size < kJournalFixedHeaderSize) {
    *error = "truncated header (" + std::to_string(size) + " bytes)";
    return false;
  }
  const std::uint32_t version = GetU32(data + 8);
  const std::uint32_t declaredHeader = GetU32(data + 12);
  const std::uint32_t recordSize = GetU32(data + 16);
  if (version > kJournalVersion) {
    *error = "format version " + std::to_string(version) + " is newer than this program reads (" +
             std::to_string(kJournalVersion) + ")";
    return false;
  }
  if (version == 0) {
    *error = "format version 0 is not a journal version";
    return false;
  }
  const Layout& layout = *LayoutOf(version);
  if (recordSize != layout.recordSize) {
    *error = "records of " + std::to_string(recordSize) + " bytes, this program reads " +
             std::to_string(layout.recordSize) + "-byte records";
    return false;
  }
  if (declaredHeader != HeaderSizeOf(layout)) {
    *error = "header of " + std::to_string(declaredHeader) + " bytes, expected " + std::to_string(HeaderSizeOf(layout));
    return false;
  }
  if (size < declaredHeader) {
    *error = "truncated header (" + std::to_string(size) + " of " + std::to_string(declaredHeader) + " bytes)";
    return false;
  }
  // The field list must be this program's, byte for byte (the day at 24..31 may be anything).
  const std::string expected = JournalHeaderBytes("", version);
  if (std::memcmp(data + kJournalFixedHeaderSize, expected.data() + kJournalFixedHeaderSize,
                  declaredHeader - kJournalFixedHeaderSize) != 0 ||
      GetU32(data + 20) != layout.fieldCount) {
    *error = "field list differs from format version " + std::to_string(version);
    return false;
  }
  *headerSize = declaredHeader;
  if (fileVersion != nullptr) *fileVersion = version;
  return true;
}

void EncodeJournalRecord(const JournalEntry& entry, std::uint32_t version, unsigned char* out) {
  const Layout& layout = *LayoutOf(version);
  std::memcpy(out, &entry.sequence, 8);
  std::memcpy(out + 8, &entry.writeTimeNs, 8);
  std::memcpy(out + kJournalTickOffset, &entry.tick, kTickBytes);
  if (layout.arrivalOffset != 0) std::memcpy(out + layout.arrivalOffset, &entry.arrivalTimeNs, 8);
  const std::uint32_t crc = Checksum(out, layout);
  std::memcpy(out + layout.checksumOffset, &crc, 4);
  std::memset(out + layout.checksumOffset + 4, 0, layout.recordSize - layout.checksumOffset - 4);
}

void EncodeJournalRecord(const JournalEntry& entry, unsigned char (&out)[kJournalRecordSize]) {
  EncodeJournalRecord(entry, kJournalVersion, out);
}

bool JournalRecordValid(const unsigned char* data, std::uint32_t version) {
  const Layout& layout = *LayoutOf(version);
  if (GetU32(data + layout.checksumOffset) != Checksum(data, layout)) return false;
  // The collector ends every text with its terminator; a record without one is not its record, and
  // no reader may run past the field.
  // Texts shorter than their field end in zeros: the last byte tells nearly every record at once.
  const auto terminated = [data](std::size_t offset, std::size_t size) {
    const unsigned char* field = data + kJournalTickOffset + offset;
    return field[size - 1] == 0 || std::memchr(field, '\0', size) != nullptr;
  };
  return terminated(offsetof(TickRecord, TradingDay), sizeof(TickRecord::TradingDay)) &&
         terminated(offsetof(TickRecord, InstrumentID), sizeof(TickRecord::InstrumentID)) &&
         terminated(offsetof(TickRecord, ExchangeID), sizeof(TickRecord::ExchangeID)) &&
         terminated(offsetof(TickRecord, ExchangeInstID), sizeof(TickRecord::ExchangeInstID)) &&
         terminated(offsetof(TickRecord, UpdateTime), sizeof(TickRecord::UpdateTime)) &&
         terminated(offsetof(TickRecord, ActionDay), sizeof(TickRecord::ActionDay));
}

void DecodeValidJournalRecord(const unsigned char* data, JournalEntry* entry, std::uint32_t version) {
  const Layout& layout = *LayoutOf(version);
  std::memcpy(&entry->sequence, data, 8);
  std::memcpy(&entry->writeTimeNs, data + 8, 8);
  entry->arrivalTimeNs = 0;
  if (layout.arrivalOffset != 0) std::memcpy(&entry->arrivalTimeNs, data + layout.arrivalOffset, 8);
  // The fields come whole from the record; only the bytes after them (Filled and padding) are set.
  std::memcpy(&entry->tick, data + kJournalTickOffset, kTickBytes);
  std::memset(reinterpret_cast<unsigned char*>(&entry->tick) + kTickBytes, 0, sizeof(TickRecord) - kTickBytes);
  entry->tick.Filled = 1;
}

bool DecodeJournalRecord(const unsigned char* data, JournalEntry* entry, std::uint32_t version) {
  if (!JournalRecordValid(data, version)) return false;
  DecodeValidJournalRecord(data, entry, version);
  return true;
}

std::string JournalDirectoryPath(const std::string& root) {
  return root.empty() ? std::string(kJournalDirectory) : root + "/" + kJournalDirectory;
}

std::string JournalDayPath(const std::string& root, const std::string& day) {
  return JournalDirectoryPath(root) + "/" + day + ".qtj";
}

bool IsJournalFileName(const std::string& name, std::string* day) {
  if (name.size() != 12 || name.compare(8, 4, ".qtj") != 0) return false;
  if (!std::all_of(name.begin(), name.begin() + 8, [](char c) { return c >= '0' && c <= '9'; })) return false;
  if (day != nullptr) *day = name.substr(0, 8);
  return true;
}

bool JournalFilePath(const std::string& root, const char* tradingDay, std::string* out) {
  if (!IsSafeNameComponent(tradingDay, kMaxDayLength)) return false;
  *out = JournalDayPath(root, tradingDay);
  return true;
}
