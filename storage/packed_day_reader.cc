#include "storage/packed_day_reader.h"

#include <sys/stat.h>
#include <unistd.h>
#include <zstd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "core/errno_text.h"
#include "core/open_regular_file.h"
#include "storage/contract_block_decoder.h"
#include "storage/journal_field_table.h"

namespace {

constexpr std::uint32_t kEntrySlot = 0xFFFFFFFFu;
constexpr std::uint32_t kEmptySlot = 0xFFFFFFFEu;
constexpr std::size_t kUnpackChunk = 1 << 20;

bool ReadAt(int fd, std::uint64_t offset, void* out, std::size_t size, std::string* error) {
  auto* p = static_cast<unsigned char*>(out);
  while (size > 0) {
    const ssize_t n = ::pread(fd, p, size, static_cast<off_t>(offset));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      *error = n < 0 ? "read: " + ErrnoText(errno) : "read: the file ends early";
      return false;
    }
    p += n;
    offset += static_cast<std::uint64_t>(n);
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

bool IsKind(const PackedBlockEntry& entry, PackedBlockKind kind) {
  return entry.kind == static_cast<std::uint32_t>(kind);
}

}  // namespace

PackedDayReader::PackedDayReader() = default;

PackedDayReader::~PackedDayReader() {
  Close();
  ZSTD_freeDCtx(static_cast<ZSTD_DCtx*>(dctx_));
}

void PackedDayReader::Close() {
  if (ownsFd_ && fd_ >= 0) ::close(fd_);
  fd_ = -1;
  ownsFd_ = false;
}

bool PackedDayReader::Open(const std::string& path, std::string* error) {
  Close();
  int openError = 0;
  const int fd = OpenRegularFile(path.c_str(), O_RDONLY, 0, &openError);
  if (fd < 0) {
    *error = path + ": " + OpenErrorText(openError);
    return false;
  }
  if (!OpenDescriptor(fd, path, error)) {
    ::close(fd);
    return false;
  }
  ownsFd_ = true;
  return true;
}

bool PackedDayReader::OpenDescriptor(int fd, const std::string& name, std::string* error) {
  Close();
  name_ = name;
  const auto fail = [&](const std::string& why) {
    *error = name + ": " + why;
    fd_ = -1;
    return false;
  };
  struct stat info;
  if (::fstat(fd, &info) != 0) return fail(ErrnoText(errno));
  fd_ = fd;
  fileSize_ = static_cast<std::uint64_t>(info.st_size);
  if (fileSize_ < kPackedHeaderSize + kPackedTrailerSize) return fail("too short for a packed day");
  unsigned char head[kPackedHeaderSize];
  unsigned char tail[kPackedTrailerSize];
  std::string why;
  if (!ReadAt(fd, 0, head, sizeof head, &why) || !ReadAt(fd, fileSize_ - sizeof tail, tail, sizeof tail, &why)) {
    return fail(why);
  }
  if (!DecodePackedDayHeader(head, sizeof head, &header_, &why)) return fail(why);
  PackedTrailer trailer;
  if (!DecodePackedTrailer(tail, &trailer, &why)) return fail(why);
  const std::uint64_t indexEnd = fileSize_ - kPackedTrailerSize;
  if (trailer.indexOffset < kPackedHeaderSize || trailer.indexOffset > indexEnd ||
      indexEnd - trailer.indexOffset != trailer.indexSize) {
    return fail("the trailer's index lies outside the file");
  }
  std::string index(trailer.indexSize, '\0');
  if (!ReadAt(fd, trailer.indexOffset, index.data(), index.size(), &why)) return fail(why);
  if (PackedCrc(index.data(), index.size()) != trailer.indexCrc) return fail("index checksum does not match");
  if (!DecodePackedIndex(reinterpret_cast<const unsigned char*>(index.data()), index.size(), kPackedHeaderSize,
                         trailer.indexOffset, &index_, &why)) {
    return fail(why);
  }

  // The blocks' order and counts as the header promises them.
  const std::uint64_t segments = header_.segments();
  const auto& blocks = index_.blocks;
  if (blocks.empty() || !IsKind(blocks.front(), PackedBlockKind::kJournalHeader)) return fail("no journal header block");
  const bool hasTail = header_.tailSize > 0;
  if (hasTail != IsKind(blocks.back(), PackedBlockKind::kTail) || (hasTail && blocks.size() < 2)) {
    return fail("tail block missing or unexpected");
  }
  segmentBlocks_.assign(segments, {});
  contractBlocks_.assign(index_.contracts.size(), {});
  std::vector<std::uint64_t> recordsIn(segments, 0);
  std::uint64_t lastSegment = 0;
  bool verbatimSeen = false;
  const std::size_t last = blocks.size() - (hasTail ? 1 : 0);
  for (std::size_t i = 1; i < last; ++i) {
    const PackedBlockEntry& b = blocks[i];
    const bool contract = IsKind(b, PackedBlockKind::kContract);
    if (!contract && !IsKind(b, PackedBlockKind::kVerbatim)) return fail("block " + std::to_string(i) + " out of place");
    if (b.segment >= segments || b.segment < lastSegment || b.records == 0 || b.records > header_.segmentSlots) {
      return fail("block " + std::to_string(i) + " names a segment or record count out of range");
    }
    if (b.segment != lastSegment) verbatimSeen = false;
    if (verbatimSeen) return fail("block " + std::to_string(i) + " after its segment's verbatim block");
    verbatimSeen = !contract;
    lastSegment = b.segment;
    recordsIn[b.segment] += b.records;
    segmentBlocks_[b.segment].push_back(static_cast<std::uint32_t>(i));
    if (contract) contractBlocks_[b.contract].push_back(static_cast<std::uint32_t>(i));
  }
  for (std::uint64_t s = 0; s < segments; ++s) {
    const std::uint64_t length = std::min<std::uint64_t>(header_.segmentSlots, header_.slots - s * header_.segmentSlots);
    if (recordsIn[s] != length) return fail("segment " + std::to_string(s) + " does not hold all its records");
  }
  skipped_.assign(index_.contracts.size(), false);
  segment_ = 0;
  segmentLoaded_ = false;
  badRecords_ = 0;
  done_ = false;
  if (dctx_ == nullptr) dctx_ = ZSTD_createDCtx();
  if (dctx_ == nullptr) return fail("zstd: out of memory");
  return true;
}

std::string PackedDayReader::Where(const PackedBlockEntry& entry) const {
  return name_ + ": block at " + std::to_string(entry.offset) + ": ";
}

bool PackedDayReader::ReadBlock(const PackedBlockEntry& entry, std::string* payload, std::string* error) {
  unsigned char head[kPackedBlockHeaderSize];
  std::string why;
  if (!ReadAt(fd_, entry.offset, head, sizeof head, &why)) {
    *error = Where(entry) + why;
    return false;
  }
  const PackedBlockHeader h = DecodePackedBlockHeader(head);
  if (h.kind != entry.kind || h.storedSize != entry.storedSize || h.crc != entry.crc || h.rawSize > kPackedMaxRawSize) {
    *error = Where(entry) + "header differs from the index";
    return false;
  }
  stored_.resize(h.storedSize);
  if (!ReadAt(fd_, entry.offset + sizeof head, stored_.data(), stored_.size(), &why)) {
    *error = Where(entry) + why;
    return false;
  }
  if (PackedCrc(stored_.data(), stored_.size()) != h.crc) {
    *error = Where(entry) + "checksum does not match";
    return false;
  }
  if (ZSTD_getFrameContentSize(stored_.data(), stored_.size()) != h.rawSize) {
    *error = Where(entry) + "frame size differs from the block's";
    return false;
  }
  payload->resize(h.rawSize);
  const std::size_t n =
      ZSTD_decompressDCtx(static_cast<ZSTD_DCtx*>(dctx_), payload->data(), payload->size(), stored_.data(), stored_.size());
  if (ZSTD_isError(n) || n != h.rawSize) {
    *error = Where(entry) + "frame does not decompress to its size";
    return false;
  }
  return true;
}

bool PackedDayReader::LoadSegment(std::uint64_t segment, std::string* error) {
  const JournalFieldTable& table = *JournalFieldTableOf(header_.journalVersion);
  const std::uint64_t first = segment * header_.segmentSlots;
  segmentLength_ = std::min<std::uint64_t>(header_.segmentSlots, header_.slots - first);
  slotState_.assign(segmentLength_, kEmptySlot);
  entries_ = static_cast<JournalEntry*>(entryMemory_.Reserve(segmentLength_ * sizeof(JournalEntry)));
  if (entries_ == nullptr) {
    *error = name_ + ": out of memory for a segment";
    return false;
  }
  verbatimRecords_ = 0;
  if (!decoder_) decoder_ = std::make_unique<ContractBlockDecoder>();
  const bool skipping = std::find(skipped_.begin(), skipped_.end(), true) != skipped_.end();
  std::string payload;
  const auto place = [&](std::uint64_t slot, std::uint32_t state) {
    std::uint32_t& at = slotState_[slot - first];
    if (at != kEmptySlot) return false;
    at = state;
    return true;
  };
  for (std::uint32_t i : segmentBlocks_[segment]) {
    const PackedBlockEntry& b = index_.blocks[i];
    const bool contract = IsKind(b, PackedBlockKind::kContract);
    if (contract && skipped_[b.contract]) continue;
    if (!ReadBlock(b, contract ? &payload : &verbatim_, error)) return false;
    if (contract) {
      ContractBlockDecoder& d = *decoder_;
      std::string why;
      if (!d.Decode(table, reinterpret_cast<const unsigned char*>(payload.data()), payload.size(), first,
                    first + segmentLength_, &why)) {
        *error = Where(b) + why;
        return false;
      }
      if (d.rows() != b.records) {
        *error = Where(b) + "record count differs from the index";
        return false;
      }
      for (std::size_t r = 0; r < d.rows(); ++r) {
        if (!place(d.slot(r), kEntrySlot)) {
          *error = Where(b) + "a slot held by two blocks";
          return false;
        }
        d.Entry(r, &entries_[d.slot(r) - first]);
      }
      continue;
    }
    const std::size_t m = b.records;
    std::uint32_t declared = 0;
    if (verbatim_.size() >= 4) std::memcpy(&declared, verbatim_.data(), 4);
    if (verbatim_.size() < 4 || m != declared || verbatim_.size() != 4 + m * (8 + header_.recordSize)) {
      *error = Where(b) + "verbatim records do not add up";
      return false;
    }
    verbatimRecords_ = m;
    for (std::size_t r = 0; r < m; ++r) {
      std::uint64_t slot;
      std::memcpy(&slot, verbatim_.data() + 4 + r * 8, 8);
      if (slot < first || slot >= first + segmentLength_ || !place(slot, static_cast<std::uint32_t>(r))) {
        *error = Where(b) + "verbatim slot out of place";
        return false;
      }
    }
  }
  if (!skipping && std::find(slotState_.begin(), slotState_.end(), kEmptySlot) != slotState_.end()) {
    *error = name_ + ": segment " + std::to_string(segment) + " leaves a slot out";
    return false;
  }
  segment_ = segment;
  slotInSegment_ = 0;
  segmentLoaded_ = true;
  return true;
}

const unsigned char* PackedDayReader::VerbatimRecord(std::uint32_t row) const {
  return reinterpret_cast<const unsigned char*>(verbatim_.data()) + 4 + verbatimRecords_ * 8 +
         std::size_t{row} * header_.recordSize;
}

void PackedDayReader::Skip(std::string_view contract) {
  for (std::size_t c = 0; c < index_.contracts.size(); ++c) {
    if (index_.contracts[c] == contract) skipped_[c] = true;
  }
}

PackedDayReader::Result PackedDayReader::Next(JournalEntry* entry, std::string* error) {
  for (;;) {
    if (done_ || fd_ < 0) return Result::kEnd;
    if (!segmentLoaded_) {
      if (segment_ >= header_.segments()) {
        done_ = true;
        return Result::kEnd;
      }
      if (!LoadSegment(segment_, error)) return Result::kError;
    }
    while (slotInSegment_ < segmentLength_) {
      const std::uint64_t s = slotInSegment_++;
      const std::uint32_t state = slotState_[s];
      if (state == kEmptySlot) continue;
      if (state == kEntrySlot) {
        *entry = entries_[s];
        return Result::kRecord;
      }
      if (DecodeJournalRecord(VerbatimRecord(state), entry, header_.journalVersion)) return Result::kRecord;
      ++badRecords_;
    }
    segmentLoaded_ = false;
    ++segment_;
  }
}

std::vector<std::uint64_t> PackedDayReader::ContractRecordCounts() const {
  std::vector<std::uint64_t> counts(index_.contracts.size(), 0);
  for (const PackedBlockEntry& entry : index_.blocks) {
    if (entry.kind == static_cast<std::uint32_t>(PackedBlockKind::kContract) && entry.contract < counts.size()) {
      counts[entry.contract] += entry.records;
    }
  }
  return counts;
}

bool PackedDayReader::ReadContract(std::string_view contract, std::vector<JournalEntry>* entries, std::string* error) {
  entries->clear();
  const auto it = std::find(index_.contracts.begin(), index_.contracts.end(), contract);
  if (fd_ < 0 || it == index_.contracts.end()) return true;
  const std::size_t number = static_cast<std::size_t>(it - index_.contracts.begin());
  const JournalFieldTable& table = *JournalFieldTableOf(header_.journalVersion);
  ContractBlockDecoder decoder;
  std::string payload;
  std::vector<std::uint64_t> slots;
  for (std::uint32_t i : contractBlocks_[number]) {
    const PackedBlockEntry& b = index_.blocks[i];
    const std::uint64_t first = std::uint64_t{b.segment} * header_.segmentSlots;
    const std::uint64_t end = std::min(header_.slots, first + header_.segmentSlots);
    std::string why;
    if (!ReadBlock(b, &payload, error)) return false;
    if (!decoder.Decode(table, reinterpret_cast<const unsigned char*>(payload.data()), payload.size(), first, end, &why)) {
      *error = Where(b) + why;
      return false;
    }
    for (std::size_t r = 0; r < decoder.rows(); ++r) {
      entries->emplace_back();
      decoder.Entry(r, &entries->back());
      slots.push_back(decoder.slot(r));
    }
  }
  // Whole records the columns could not give back exactly are in the verbatim blocks.
  bool merged = false;
  std::string kept;
  for (const PackedBlockEntry& b : index_.blocks) {
    if (!IsKind(b, PackedBlockKind::kVerbatim)) continue;
    if (!ReadBlock(b, &kept, error)) return false;
    const std::size_t m = b.records;
    if (kept.size() != 4 + m * (8 + header_.recordSize)) {
      *error = Where(b) + "verbatim records do not add up";
      return false;
    }
    for (std::size_t r = 0; r < m; ++r) {
      const auto* record = reinterpret_cast<const unsigned char*>(kept.data()) + 4 + m * 8 + r * header_.recordSize;
      JournalEntry entry;
      if (!DecodeJournalRecord(record, &entry, header_.journalVersion)) continue;
      const char* id = entry.tick.InstrumentID;
      if (std::string_view(id, strnlen(id, sizeof entry.tick.InstrumentID)) != contract) continue;
      std::uint64_t slot;
      std::memcpy(&slot, kept.data() + 4 + r * 8, 8);
      entries->push_back(entry);
      slots.push_back(slot);
      merged = true;
    }
  }
  if (merged) {
    std::vector<std::size_t> order(entries->size());
    for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return slots[a] < slots[b]; });
    std::vector<JournalEntry> sorted;
    sorted.reserve(order.size());
    for (std::size_t i : order) sorted.push_back((*entries)[i]);
    entries->swap(sorted);
  }
  return true;
}

bool PackedDayReader::Unpack(const std::function<bool(const unsigned char*, std::size_t)>& sink, std::string* error) {
  if (fd_ < 0) {
    *error = "no packed day open";
    return false;
  }
  std::fill(skipped_.begin(), skipped_.end(), false);
  std::string out;
  if (!ReadBlock(index_.blocks.front(), &out, error)) return false;
  if (out.size() != JournalHeaderSize(header_.journalVersion)) {
    *error = Where(index_.blocks.front()) + "journal header of the wrong size";
    return false;
  }
  const std::size_t size = header_.recordSize;
  for (std::uint64_t s = 0; s < header_.segments(); ++s) {
    if (!LoadSegment(s, error)) return false;
    for (std::uint64_t i = 0; i < segmentLength_; ++i) {
      const std::size_t at = out.size();
      out.resize(at + size);
      auto* record = reinterpret_cast<unsigned char*>(out.data() + at);
      if (slotState_[i] == kEntrySlot) {
        EncodeJournalRecord(entries_[i], header_.journalVersion, record);
      } else {
        std::memcpy(record, VerbatimRecord(slotState_[i]), size);
      }
      if (out.size() >= kUnpackChunk) {
        if (!sink(reinterpret_cast<const unsigned char*>(out.data()), out.size())) return false;
        out.clear();
      }
    }
  }
  segmentLoaded_ = false;
  segment_ = 0;
  done_ = false;
  if (header_.tailSize > 0) {
    std::string tail;
    if (!ReadBlock(index_.blocks.back(), &tail, error)) return false;
    if (tail.size() != header_.tailSize) {
      *error = Where(index_.blocks.back()) + "tail of the wrong size";
      return false;
    }
    out += tail;
  }
  return out.empty() || sink(reinterpret_cast<const unsigned char*>(out.data()), out.size());
}
