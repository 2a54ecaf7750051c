#ifndef QUOTELOOM_STORAGE_PACKED_DAY_WRITER_H
#define QUOTELOOM_STORAGE_PACKED_DAY_WRITER_H

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "storage/packed_day_format.h"
#include "storage/segment_buffer.h"

class ContractBlockEncoder;

// Writes a packed day from a journal's bytes handed to it in order: its header, every record slot,
// then the torn tail. Holds one segment of records at a time. One thread.
class PackedDayWriter {
 public:
  // `zstdLevel` trades packing speed for size; `segmentSlots` (tests use few) up to the maximum.
  explicit PackedDayWriter(int zstdLevel = 3, std::uint32_t segmentSlots = kPackedSegmentSlots);
  ~PackedDayWriter();
  PackedDayWriter(const PackedDayWriter&) = delete;
  PackedDayWriter& operator=(const PackedDayWriter&) = delete;

  // Starts the file on `fd` (written from its current offset, which must be 0) for a journal of
  // `journalSize` bytes whose header (checked already) is `journalHeader`.
  bool Begin(int fd, const std::string& day, std::uint32_t journalVersion, const std::string& journalHeader,
             std::uint64_t journalSize, std::string* error);
  // Where the next record slots are kept, for reading them there without a copy: room for
  // `*count`, which it lowers to what the segment and the journal have left. Null when out of memory.
  unsigned char* Room(std::size_t* count, std::string* error);
  // The next `count` record slots, `count` × the record size bytes (from Room or anywhere else).
  bool AddRecords(const unsigned char* records, std::size_t count, std::string* error);
  // The bytes after the last whole slot (fewer than a record), then the index and trailer.
  bool Finish(const unsigned char* tail, std::size_t tailSize, std::string* error);

  std::uint64_t damaged() const { return damaged_; }
  std::uint64_t bytesWritten() const { return offset_ + pending_.size(); }

 private:
  bool FlushSegment(std::string* error);
  bool PutBlock(PackedBlockKind kind, std::uint32_t contract, std::uint32_t records, std::string_view payload,
                std::string* error);
  bool Write(const void* data, std::size_t size, std::string* error);
  bool Drain(std::string* error);
  std::uint32_t ContractNumber(std::string_view name);

  const int level_;
  const std::uint32_t segmentSlots_;
  int fd_ = -1;
  PackedDayHeader header_;
  PackedDayIndex index_;
  std::uint64_t offset_ = 0;    // bytes on disk
  std::string pending_;         // bytes not yet on disk
  std::uint64_t nextSlot_ = 0;
  std::uint64_t damaged_ = 0;

  // The segment being gathered: its records' bytes, each contract's rows and the kept ones.
  SegmentBuffer segmentMemory_;
  unsigned char* segment_ = nullptr;               // in segmentMemory_
  std::vector<std::vector<std::uint32_t>> rows_;   // per contract number: rows of segment_
  std::vector<std::uint32_t> verbatim_;
  std::vector<std::uint32_t> present_;             // contracts with rows in this segment
  // Looked up by a string_view of the record's bytes, without making a string of them.
  struct NameHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view name) const { return std::hash<std::string_view>{}(name); }
  };
  std::unordered_map<std::string, std::uint32_t, NameHash, std::equal_to<>> numbers_;  // InstrumentID to number
  // Contract number + 1 (0 for none) of names seen lately, by a cheap hash: most records find theirs
  // here without the map.
  std::array<std::uint32_t, 4096> recent_{};
  std::unique_ptr<ContractBlockEncoder> encoder_;
  void* cctx_ = nullptr;                           // ZSTD_CCtx
  std::string payload_;
  std::string stored_;
};

#endif
