#include "storage/packed_day_reader.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "core/errno_text.h"
#include "core/open_regular_file.h"
#include "storage/contract_block_decoder.h"
#include "storage/journal_field_table.h"
#include "storage/packed_segment_ahead.h"

namespace {

constexpr std::size_t kUnpackChunk = 1 << 20;

bool IsKind(const PackedBlockEntry& entry, PackedBlockKind kind) {
  return entry.kind == static_cast<std::uint32_t>(kind);
}

}  // namespace

PackedDayReader::PackedDayReader() = default;

PackedDayReader::~PackedDayReader() { Close(); }

void PackedDayReader::Close() {
  ahead_.reset();  // its threads read the file
  current_ = nullptr;
  if (ownsFd_ && layout_.fd >= 0) ::close(layout_.fd);
  layout_.fd = -1;
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
  layout_.name = name;
  const auto fail = [&](const std::string& why) {
    *error = name + ": " + why;
    layout_.fd = -1;
    return false;
  };
  struct stat info;
  if (::fstat(fd, &info) != 0) return fail(ErrnoText(errno));
  layout_.fd = fd;
  fileSize_ = static_cast<std::uint64_t>(info.st_size);
  if (fileSize_ < kPackedHeaderSize + kPackedTrailerSize) return fail("too short for a packed day");
  unsigned char head[kPackedHeaderSize];
  unsigned char tail[kPackedTrailerSize];
  std::string why;
  if (!ReadPackedAt(fd, 0, head, sizeof head, &why) ||
      !ReadPackedAt(fd, fileSize_ - sizeof tail, tail, sizeof tail, &why)) {
    return fail(why);
  }
  PackedDayHeader& header = layout_.header;
  PackedDayIndex& dayIndex = layout_.index;
  if (!DecodePackedDayHeader(head, sizeof head, &header, &why)) return fail(why);
  PackedTrailer trailer;
  if (!DecodePackedTrailer(tail, &trailer, &why)) return fail(why);
  const std::uint64_t indexEnd = fileSize_ - kPackedTrailerSize;
  if (trailer.indexOffset < kPackedHeaderSize || trailer.indexOffset > indexEnd ||
      indexEnd - trailer.indexOffset != trailer.indexSize) {
    return fail("the trailer's index lies outside the file");
  }
  std::string index(trailer.indexSize, '\0');
  if (!ReadPackedAt(fd, trailer.indexOffset, index.data(), index.size(), &why)) return fail(why);
  if (PackedCrc(index.data(), index.size()) != trailer.indexCrc) return fail("index checksum does not match");
  if (!DecodePackedIndex(reinterpret_cast<const unsigned char*>(index.data()), index.size(), kPackedHeaderSize,
                         trailer.indexOffset, &dayIndex, &why)) {
    return fail(why);
  }

  // The blocks' order and counts as the header promises them.
  const std::uint64_t segments = header.segments();
  const auto& blocks = dayIndex.blocks;
  if (blocks.empty() || !IsKind(blocks.front(), PackedBlockKind::kJournalHeader))
    return fail("no journal header block");
  const bool hasTail = header.tailSize > 0;
  if (hasTail != IsKind(blocks.back(), PackedBlockKind::kTail) || (hasTail && blocks.size() < 2)) {
    return fail("tail block missing or unexpected");
  }
  std::vector<std::vector<std::uint32_t>>& segmentBlocks = layout_.segmentBlocks;
  std::vector<std::vector<std::uint32_t>>& contractBlocks = layout_.contractBlocks;
  segmentBlocks.assign(segments, {});
  contractBlocks.assign(dayIndex.contracts.size(), {});
  std::vector<std::uint64_t> recordsIn(segments, 0);
  std::uint64_t lastSegment = 0;
  bool verbatimSeen = false;
  const std::size_t last = blocks.size() - (hasTail ? 1 : 0);
  for (std::size_t i = 1; i < last; ++i) {
    const PackedBlockEntry& b = blocks[i];
    const bool contract = IsKind(b, PackedBlockKind::kContract);
    if (!contract && !IsKind(b, PackedBlockKind::kVerbatim))
      return fail("block " + std::to_string(i) + " out of place");
    if (b.segment >= segments || b.segment < lastSegment || b.records == 0 || b.records > header.segmentSlots) {
      return fail("block " + std::to_string(i) + " names a segment or record count out of range");
    }
    if (b.segment != lastSegment) verbatimSeen = false;
    if (verbatimSeen) return fail("block " + std::to_string(i) + " after its segment's verbatim block");
    verbatimSeen = !contract;
    lastSegment = b.segment;
    recordsIn[b.segment] += b.records;
    segmentBlocks[b.segment].push_back(static_cast<std::uint32_t>(i));
    if (contract) contractBlocks[b.contract].push_back(static_cast<std::uint32_t>(i));
  }
  for (std::uint64_t s = 0; s < segments; ++s) {
    const std::uint64_t length = std::min<std::uint64_t>(header.segmentSlots, header.slots - s * header.segmentSlots);
    if (recordsIn[s] != length) return fail("segment " + std::to_string(s) + " does not hold all its records");
  }
  skipped_.assign(dayIndex.contracts.size(), false);
  segment_ = 0;
  slotInSegment_ = 0;
  badRecords_ = 0;
  done_ = false;
  return true;
}

void PackedDayReader::StartAhead() {
  if (!ahead_) {
    ahead_ = std::make_unique<PackedSegmentAhead>(layout_, skipped_, segment_, layout_.header.segments(),
                                                  PackedSegmentAhead::ThreadsFor(layout_));
  }
}

void PackedDayReader::Skip(std::string_view contract) {
  for (std::size_t c = 0; c < layout_.index.contracts.size(); ++c) {
    if (layout_.index.contracts[c] == contract) skipped_[c] = true;
  }
}

PackedDayReader::Result PackedDayReader::Next(JournalEntry* entry, std::string* error) {
  const std::uint32_t version = layout_.header.journalVersion;
  for (;;) {
    if (done_ || layout_.fd < 0) return Result::kEnd;
    if (current_ == nullptr) {
      StartAhead();
      std::string why;
      current_ = ahead_->Next(&why);
      if (current_ == nullptr) {
        done_ = true;
        if (why.empty()) return Result::kEnd;
        *error = why;
        return Result::kError;
      }
      segment_ = current_->number;
      slotInSegment_ = 0;
    }
    const PackedSegment& segment = *current_;
    while (slotInSegment_ < segment.length) {
      const std::uint64_t s = slotInSegment_++;
      const std::uint32_t state = segment.slotState[s];
      if (state == PackedSegment::kEntrySlot) {
        *entry = segment.entries[s];
        return Result::kRecord;
      }
      if (state == PackedSegment::kEmptySlot) continue;
      if (DecodeJournalRecord(segment.VerbatimRecord(state, layout_.header.recordSize), entry, version)) {
        return Result::kRecord;
      }
      ++badRecords_;
    }
    current_ = nullptr;
    ++segment_;
  }
}

std::vector<std::uint64_t> PackedDayReader::ContractRecordCounts() const {
  std::vector<std::uint64_t> counts(layout_.index.contracts.size(), 0);
  for (const PackedBlockEntry& entry : layout_.index.blocks) {
    if (entry.kind == static_cast<std::uint32_t>(PackedBlockKind::kContract) && entry.contract < counts.size()) {
      counts[entry.contract] += entry.records;
    }
  }
  return counts;
}

bool PackedDayReader::ReadContract(std::string_view contract, std::vector<JournalEntry>* entries, std::string* error) {
  entries->clear();
  const PackedDayHeader& header = layout_.header;
  const std::vector<std::string>& contracts = layout_.index.contracts;
  const auto it = std::find(contracts.begin(), contracts.end(), contract);
  if (layout_.fd < 0 || it == contracts.end()) return true;
  const std::size_t number = static_cast<std::size_t>(it - contracts.begin());
  const JournalFieldTable& table = *JournalFieldTableOf(header.journalVersion);
  ContractBlockDecoder& decoder = loader_.decoder();
  std::string payload;
  std::vector<std::uint64_t> slots;
  for (std::uint32_t i : layout_.contractBlocks[number]) {
    const PackedBlockEntry& b = layout_.index.blocks[i];
    const std::uint64_t first = std::uint64_t{b.segment} * header.segmentSlots;
    const std::uint64_t end = std::min(header.slots, first + header.segmentSlots);
    std::string why;
    if (!loader_.ReadBlock(layout_, b, &payload, error)) return false;
    if (!decoder.Decode(table, reinterpret_cast<const unsigned char*>(payload.data()), payload.size(), first, end,
                        &why)) {
      *error = PackedBlockPlace(layout_, b) + why;
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
  for (const PackedBlockEntry& b : layout_.index.blocks) {
    if (!IsKind(b, PackedBlockKind::kVerbatim)) continue;
    if (!loader_.ReadBlock(layout_, b, &kept, error)) return false;
    const std::size_t m = b.records;
    if (kept.size() != 4 + m * (8 + header.recordSize)) {
      *error = PackedBlockPlace(layout_, b) + "verbatim records do not add up";
      return false;
    }
    for (std::size_t r = 0; r < m; ++r) {
      const auto* record = reinterpret_cast<const unsigned char*>(kept.data()) + 4 + m * 8 + r * header.recordSize;
      JournalEntry entry;
      if (!DecodeJournalRecord(record, &entry, header.journalVersion)) continue;
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
  if (layout_.fd < 0) {
    *error = "no packed day open";
    return false;
  }
  const PackedDayHeader& header = layout_.header;
  const std::vector<PackedBlockEntry>& blocks = layout_.index.blocks;
  std::string out;
  if (!loader_.ReadBlock(layout_, blocks.front(), &out, error)) return false;
  if (out.size() != JournalHeaderSize(header.journalVersion)) {
    *error = PackedBlockPlace(layout_, blocks.front()) + "journal header of the wrong size";
    return false;
  }
  const std::size_t size = header.recordSize;
  out.reserve(kUnpackChunk + size);
  {
    PackedSegmentAhead ahead(layout_, std::vector<bool>(layout_.index.contracts.size(), false), 0, header.segments(),
                             PackedSegmentAhead::ThreadsFor(layout_));
    for (std::uint64_t s = 0; s < header.segments(); ++s) {
      const PackedSegment* segment = ahead.Next(error);
      if (segment == nullptr) return false;
      for (std::uint64_t i = 0; i < segment->length; ++i) {
        const std::size_t at = out.size();
        out.resize(at + size);
        auto* record = reinterpret_cast<unsigned char*>(out.data() + at);
        const std::uint32_t state = segment->slotState[i];
        if (state == PackedSegment::kEntrySlot) {
          EncodeJournalRecord(segment->entries[i], header.journalVersion, record);
        } else {
          std::memcpy(record, segment->VerbatimRecord(state, size), size);
        }
        if (out.size() >= kUnpackChunk) {
          if (!sink(reinterpret_cast<const unsigned char*>(out.data()), out.size())) return false;
          out.clear();
        }
      }
    }
  }
  if (header.tailSize > 0) {
    std::string tail;
    if (!loader_.ReadBlock(layout_, blocks.back(), &tail, error)) return false;
    if (tail.size() != header.tailSize) {
      *error = PackedBlockPlace(layout_, blocks.back()) + "tail of the wrong size";
      return false;
    }
    out += tail;
  }
  return out.empty() || sink(reinterpret_cast<const unsigned char*>(out.data()), out.size());
}
