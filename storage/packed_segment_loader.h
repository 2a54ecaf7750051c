#ifndef QUOTELOOM_STORAGE_PACKED_SEGMENT_LOADER_H
#define QUOTELOOM_STORAGE_PACKED_SEGMENT_LOADER_H

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "storage/journal_format.h"
#include "storage/packed_day_format.h"
#include "storage/segment_buffer.h"

class ContractBlockDecoder;

// An open packed day as its index lays it out: what every thread decoding its blocks shares, read only once
// the file is open.
struct PackedDayLayout {
  int fd = -1;
  std::string name;
  PackedDayHeader header;
  PackedDayIndex index;
  std::vector<std::vector<std::uint32_t>> segmentBlocks;   // per segment: index entries of kinds 2 and 3
  std::vector<std::vector<std::uint32_t>> contractBlocks;  // per contract: its kind 2 entries
};

// One segment's records in journal order: the entries decoded from its contract blocks and the rows of its
// verbatim block, each slot told apart by slotState.
struct PackedSegment {
  static constexpr std::uint32_t kEntrySlot = 0xFFFFFFFFu;
  static constexpr std::uint32_t kEmptySlot = 0xFFFFFFFEu;

  std::uint64_t number = 0;
  std::uint64_t length = 0;
  JournalEntry* entries = nullptr;       // per slot, written where slotState says kEntrySlot
  std::vector<std::uint32_t> slotState;  // kEntrySlot, kEmptySlot or a row of the verbatim block
  std::string verbatim;                  // the segment's verbatim block
  std::size_t verbatimRecords = 0;
  SegmentBuffer entryMemory;

  const unsigned char* VerbatimRecord(std::uint32_t row, std::size_t recordSize) const {
    return reinterpret_cast<const unsigned char*>(verbatim.data()) + 4 + verbatimRecords * 8 +
           std::size_t{row} * recordSize;
  }
};

// Reads and checks a packed day's blocks and decodes whole segments. Every size, count and checksum is
// checked before use. One thread; each thread decoding a day has its own.
class PackedSegmentLoader {
 public:
  PackedSegmentLoader();
  ~PackedSegmentLoader();
  PackedSegmentLoader(const PackedSegmentLoader&) = delete;
  PackedSegmentLoader& operator=(const PackedSegmentLoader&) = delete;

  // The block's payload, its checksum and frame checked.
  bool ReadBlock(const PackedDayLayout& layout, const PackedBlockEntry& entry, std::string* payload,
                 std::string* error);
  // Segment `segment` into `out`, leaving out the blocks of contracts marked in `skipped`.
  bool Load(const PackedDayLayout& layout, std::uint64_t segment, const std::vector<bool>& skipped, PackedSegment* out,
            std::string* error);
  // The decoder of the block last read by Load's caller through ReadBlock, for one contract's reads.
  ContractBlockDecoder& decoder() { return *decoder_; }

 private:
  void* dctx_ = nullptr;  // ZSTD_DCtx
  std::string stored_;
  std::string payload_;
  std::unique_ptr<ContractBlockDecoder> decoder_;
};

// Reads `size` bytes at `offset`, retrying after signals and short reads; false with the reason
// ("read: " and the error, or `early` when the file ends before them).
bool ReadPackedAt(int fd, std::uint64_t offset, void* out, std::size_t size, std::string* error,
                  const char* early = "read: the file ends early");

// Where `entry` lies, for messages.
std::string PackedBlockPlace(const PackedDayLayout& layout, const PackedBlockEntry& entry);

#endif
