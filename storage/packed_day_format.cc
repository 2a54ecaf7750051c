#include "storage/packed_day_format.h"


#include <cstring>

#include "storage/crc32.h"
#include "storage/journal_format.h"

namespace {

template <typename T>
void Put(std::string* out, T v) {
  out->append(reinterpret_cast<const char*>(&v), sizeof v);
}

template <typename T>
T Get(const unsigned char* p) {
  T v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

}  // namespace

std::uint32_t PackedCrc(const void* data, std::size_t size) {
  return Crc32(data, size);
}

std::string EncodePackedDayHeader(const PackedDayHeader& header) {
  std::string out(kPackedDayMagic, sizeof kPackedDayMagic);
  Put<std::uint32_t>(&out, kPackedDayVersion);
  Put<std::uint32_t>(&out, kPackedHeaderSize);
  char day[8] = {};
  std::memcpy(day, header.day, strnlen(header.day, 8));
  out.append(day, 8);
  Put(&out, header.journalVersion);
  Put(&out, header.recordSize);
  Put(&out, header.journalSize);
  Put(&out, header.slots);
  Put(&out, header.tailSize);
  Put(&out, header.segmentSlots);
  Put(&out, PackedCrc(out.data(), out.size()));
  return out;
}

bool DecodePackedDayHeader(const unsigned char* data, std::size_t size, PackedDayHeader* header,
                           std::string* error) {
  if (size < kPackedHeaderSize || std::memcmp(data, kPackedDayMagic, sizeof kPackedDayMagic) != 0) {
    *error = "not a packed day (bad magic or too short)";
    return false;
  }
  if (Get<std::uint32_t>(data + 60) != PackedCrc(data, 60)) {
    *error = "header checksum does not match";
    return false;
  }
  const std::uint32_t version = Get<std::uint32_t>(data + 8);
  if (version != kPackedDayVersion || Get<std::uint32_t>(data + 12) != kPackedHeaderSize) {
    *error = "packed day format version " + std::to_string(version) + " is not read by this program";
    return false;
  }
  PackedDayHeader h;
  std::memcpy(h.day, data + 16, 8);
  h.day[8] = '\0';
  h.journalVersion = Get<std::uint32_t>(data + 24);
  h.recordSize = Get<std::uint32_t>(data + 28);
  h.journalSize = Get<std::uint64_t>(data + 32);
  h.slots = Get<std::uint64_t>(data + 40);
  h.tailSize = Get<std::uint64_t>(data + 48);
  h.segmentSlots = Get<std::uint32_t>(data + 56);
  const std::size_t recordSize = JournalRecordSize(h.journalVersion);
  if (recordSize == 0 || recordSize != h.recordSize) {
    *error = "journal version " + std::to_string(h.journalVersion) + " with " + std::to_string(h.recordSize) +
             "-byte records is not read by this program";
    return false;
  }
  const std::uint64_t journalHeader = JournalHeaderSize(h.journalVersion);
  if (h.segmentSlots == 0 || h.segmentSlots > kPackedMaxSegmentSlots || h.tailSize >= recordSize ||
      h.journalSize < journalHeader || h.slots != (h.journalSize - journalHeader) / recordSize ||
      h.tailSize != h.journalSize - journalHeader - h.slots * recordSize) {
    *error = "header sizes do not add up";
    return false;
  }
  *header = h;
  return true;
}

void EncodePackedBlockHeader(const PackedBlockHeader& header, unsigned char (&out)[kPackedBlockHeaderSize]) {
  std::memcpy(out, &header.kind, 4);
  std::memcpy(out + 4, &header.storedSize, 4);
  std::memcpy(out + 8, &header.rawSize, 4);
  std::memcpy(out + 12, &header.crc, 4);
}

PackedBlockHeader DecodePackedBlockHeader(const unsigned char* data) {
  PackedBlockHeader h;
  h.kind = Get<std::uint32_t>(data);
  h.storedSize = Get<std::uint32_t>(data + 4);
  h.rawSize = Get<std::uint32_t>(data + 8);
  h.crc = Get<std::uint32_t>(data + 12);
  return h;
}

std::string EncodePackedIndex(const PackedDayIndex& index) {
  std::string out;
  out.reserve(8 + index.blocks.size() * kPackedIndexEntrySize + index.contracts.size() * 8);
  Put(&out, static_cast<std::uint32_t>(index.blocks.size()));
  for (const PackedBlockEntry& b : index.blocks) {
    Put(&out, b.offset);
    Put(&out, b.kind);
    Put(&out, b.contract);
    Put(&out, b.segment);
    Put(&out, b.records);
    Put(&out, b.storedSize);
    Put(&out, b.crc);
  }
  Put(&out, static_cast<std::uint32_t>(index.contracts.size()));
  for (const std::string& name : index.contracts) {
    out.push_back(static_cast<char>(name.size()));
    out += name;
  }
  return out;
}

bool DecodePackedIndex(const unsigned char* data, std::size_t size, std::uint64_t first, std::uint64_t end,
                       PackedDayIndex* index, std::string* error) {
  const auto fail = [error](const std::string& why) {
    *error = "index: " + why;
    return false;
  };
  if (size < 8) return fail("too short");
  const std::uint32_t blocks = Get<std::uint32_t>(data);
  if (blocks > kPackedMaxBlocks || (size - 8) / kPackedIndexEntrySize < blocks) return fail("block count out of range");
  PackedDayIndex out;
  out.blocks.resize(blocks);
  std::uint64_t at = first;
  for (std::uint32_t i = 0; i < blocks; ++i) {
    const unsigned char* p = data + 4 + i * kPackedIndexEntrySize;
    PackedBlockEntry& b = out.blocks[i];
    b.offset = Get<std::uint64_t>(p);
    b.kind = Get<std::uint32_t>(p + 8);
    b.contract = Get<std::uint32_t>(p + 12);
    b.segment = Get<std::uint32_t>(p + 16);
    b.records = Get<std::uint32_t>(p + 20);
    b.storedSize = Get<std::uint32_t>(p + 24);
    b.crc = Get<std::uint32_t>(p + 28);
    if (b.kind < 1 || b.kind > 4) return fail("block " + std::to_string(i) + " of unknown kind");
    if (b.offset != at || b.storedSize > end - at || end - at - b.storedSize < kPackedBlockHeaderSize) {
      return fail("block " + std::to_string(i) + " does not follow the one before it inside the file");
    }
    at += kPackedBlockHeaderSize + b.storedSize;
  }
  if (at != end) return fail("blocks do not reach the index");
  std::size_t pos = 4 + static_cast<std::size_t>(blocks) * kPackedIndexEntrySize;
  const std::uint32_t contracts = Get<std::uint32_t>(data + pos);
  pos += 4;
  if (contracts > kPackedMaxContracts || contracts > size - pos) return fail("contract count out of range");
  out.contracts.resize(contracts);
  for (std::uint32_t c = 0; c < contracts; ++c) {
    if (pos >= size) return fail("contract list cut short");
    const std::size_t length = data[pos++];
    if (length > kPackedMaxContractLength || length > size - pos) return fail("contract name out of range");
    out.contracts[c].assign(reinterpret_cast<const char*>(data + pos), length);
    pos += length;
  }
  if (pos != size) return fail("bytes after the contract list");
  for (const PackedBlockEntry& b : out.blocks) {
    const bool contractBlock = b.kind == static_cast<std::uint32_t>(PackedBlockKind::kContract);
    if (contractBlock ? b.contract >= contracts : b.contract != kPackedNoContract) {
      return fail("block at " + std::to_string(b.offset) + " names no listed contract");
    }
  }
  *index = std::move(out);
  return true;
}

void EncodePackedTrailer(const PackedTrailer& trailer, unsigned char (&out)[kPackedTrailerSize]) {
  std::memset(out, 0, sizeof out);
  std::memcpy(out, &trailer.indexOffset, 8);
  std::memcpy(out + 8, &trailer.indexSize, 4);
  std::memcpy(out + 12, &trailer.indexCrc, 4);
  const std::uint32_t crc = PackedCrc(out, 16);
  std::memcpy(out + 16, &crc, 4);
  std::memcpy(out + 24, kPackedIndexMagic, 8);
}

bool DecodePackedTrailer(const unsigned char* data, PackedTrailer* trailer, std::string* error) {
  if (std::memcmp(data + 24, kPackedIndexMagic, 8) != 0 || Get<std::uint32_t>(data + 16) != PackedCrc(data, 16) ||
      Get<std::uint32_t>(data + 20) != 0) {
    *error = "trailer damaged or missing (the file is cut short?)";
    return false;
  }
  trailer->indexOffset = Get<std::uint64_t>(data);
  trailer->indexSize = Get<std::uint32_t>(data + 8);
  trailer->indexCrc = Get<std::uint32_t>(data + 12);
  return true;
}
