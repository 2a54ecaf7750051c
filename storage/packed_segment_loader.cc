#include "storage/packed_segment_loader.h"

#include <unistd.h>
#include <zstd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "core/errno_text.h"
#include "storage/contract_block_decoder.h"
#include "storage/journal_field_table.h"

bool ReadPackedAt(int fd, std::uint64_t offset, void* out, std::size_t size, std::string* error, const char* early) {
  auto* p = static_cast<unsigned char*>(out);
  while (size > 0) {
    const ssize_t n = ::pread(fd, p, size, static_cast<off_t>(offset));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      *error = n < 0 ? "read: " + ErrnoText(errno) : std::string(early);
      return false;
    }
    p += n;
    offset += static_cast<std::uint64_t>(n);
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

std::string PackedBlockPlace(const PackedDayLayout& layout, const PackedBlockEntry& entry) {
  return layout.name + ": block at " + std::to_string(entry.offset) + ": ";
}

PackedSegmentLoader::PackedSegmentLoader() : decoder_(std::make_unique<ContractBlockDecoder>()) {}

PackedSegmentLoader::~PackedSegmentLoader() { ZSTD_freeDCtx(static_cast<ZSTD_DCtx*>(dctx_)); }

bool PackedSegmentLoader::ReadBlock(const PackedDayLayout& layout, const PackedBlockEntry& entry, std::string* payload,
                                    std::string* error) {
  if (dctx_ == nullptr && (dctx_ = ZSTD_createDCtx()) == nullptr) {
    *error = layout.name + ": zstd: out of memory";
    return false;
  }
  unsigned char head[kPackedBlockHeaderSize];
  std::string why;
  if (!ReadPackedAt(layout.fd, entry.offset, head, sizeof head, &why)) {
    *error = PackedBlockPlace(layout, entry) + why;
    return false;
  }
  const PackedBlockHeader h = DecodePackedBlockHeader(head);
  if (h.kind != entry.kind || h.storedSize != entry.storedSize || h.crc != entry.crc || h.rawSize > kPackedMaxRawSize) {
    *error = PackedBlockPlace(layout, entry) + "header differs from the index";
    return false;
  }
  stored_.resize(h.storedSize);
  if (!ReadPackedAt(layout.fd, entry.offset + sizeof head, stored_.data(), stored_.size(), &why)) {
    *error = PackedBlockPlace(layout, entry) + why;
    return false;
  }
  if (PackedCrc(stored_.data(), stored_.size()) != h.crc) {
    *error = PackedBlockPlace(layout, entry) + "checksum does not match";
    return false;
  }
  if (ZSTD_getFrameContentSize(stored_.data(), stored_.size()) != h.rawSize) {
    *error = PackedBlockPlace(layout, entry) + "frame size differs from the block's";
    return false;
  }
  payload->resize(h.rawSize);
  const std::size_t n = ZSTD_decompressDCtx(static_cast<ZSTD_DCtx*>(dctx_), payload->data(), payload->size(),
                                            stored_.data(), stored_.size());
  if (ZSTD_isError(n) || n != h.rawSize) {
    *error = PackedBlockPlace(layout, entry) + "frame does not decompress to its size";
    return false;
  }
  return true;
}

bool PackedSegmentLoader::Load(const PackedDayLayout& layout, std::uint64_t segment, const std::vector<bool>& skipped,
                               PackedSegment* out, std::string* error) {
  const PackedDayHeader& header = layout.header;
  const JournalFieldTable& table = *JournalFieldTableOf(header.journalVersion);
  const std::uint64_t first = segment * header.segmentSlots;
  out->number = segment;
  out->length = std::min<std::uint64_t>(header.segmentSlots, header.slots - first);
  out->slotState.assign(out->length, PackedSegment::kEmptySlot);
  out->entries = static_cast<JournalEntry*>(out->entryMemory.Reserve(out->length * sizeof(JournalEntry)));
  if (out->entries == nullptr) {
    *error = layout.name + ": out of memory for a segment";
    return false;
  }
  out->verbatimRecords = 0;
  const bool skipping = std::find(skipped.begin(), skipped.end(), true) != skipped.end();
  std::uint32_t* const state = out->slotState.data();
  for (std::uint32_t i : layout.segmentBlocks[segment]) {
    const PackedBlockEntry& b = layout.index.blocks[i];
    const bool contract = b.kind == static_cast<std::uint32_t>(PackedBlockKind::kContract);
    if (contract && skipped[b.contract]) continue;
    if (!ReadBlock(layout, b, contract ? &payload_ : &out->verbatim, error)) return false;
    if (contract) {
      ContractBlockDecoder& d = *decoder_;
      std::string why;
      if (!d.Decode(table, reinterpret_cast<const unsigned char*>(payload_.data()), payload_.size(), first,
                    first + out->length, &why)) {
        *error = PackedBlockPlace(layout, b) + why;
        return false;
      }
      if (d.rows() != b.records) {
        *error = PackedBlockPlace(layout, b) + "record count differs from the index";
        return false;
      }
      for (std::size_t r = 0; r < d.rows(); ++r) {
        std::uint32_t& at = state[d.slot(r) - first];
        if (at != PackedSegment::kEmptySlot) {
          *error = PackedBlockPlace(layout, b) + "a slot held by two blocks";
          return false;
        }
        at = PackedSegment::kEntrySlot;
      }
      d.Entries(out->entries, first);
      continue;
    }
    const std::size_t m = b.records;
    const std::string& verbatim = out->verbatim;
    std::uint32_t declared = 0;
    if (verbatim.size() >= 4) std::memcpy(&declared, verbatim.data(), 4);
    if (verbatim.size() < 4 || m != declared || verbatim.size() != 4 + m * (8 + header.recordSize)) {
      *error = PackedBlockPlace(layout, b) + "verbatim records do not add up";
      return false;
    }
    out->verbatimRecords = m;
    for (std::size_t r = 0; r < m; ++r) {
      std::uint64_t slot;
      std::memcpy(&slot, verbatim.data() + 4 + r * 8, 8);
      if (slot < first || slot >= first + out->length || state[slot - first] != PackedSegment::kEmptySlot) {
        *error = PackedBlockPlace(layout, b) + "verbatim slot out of place";
        return false;
      }
      state[slot - first] = static_cast<std::uint32_t>(r);
    }
  }
  if (!skipping &&
      std::find(out->slotState.begin(), out->slotState.end(), PackedSegment::kEmptySlot) != out->slotState.end()) {
    *error = layout.name + ": segment " + std::to_string(segment) + " leaves a slot out";
    return false;
  }
  return true;
}
