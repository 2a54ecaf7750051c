#ifndef QUOTELOOM_STORAGE_PACKED_DAY_READER_H
#define QUOTELOOM_STORAGE_PACKED_DAY_READER_H

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "storage/journal_format.h"
#include "storage/packed_day_format.h"
#include "storage/segment_buffer.h"

class ContractBlockDecoder;

// Reads a packed day: the contracts of its index, one contract's records without the rest, every
// whole record in the journal's order as the journal reader gives them, or the journal file's bytes.
// Every size, count and checksum is checked before use; a damaged file is refused with the reason.
// One thread at a time.
class PackedDayReader {
 public:
  enum class Result { kRecord, kEnd, kError };

  PackedDayReader();
  ~PackedDayReader();
  PackedDayReader(const PackedDayReader&) = delete;
  PackedDayReader& operator=(const PackedDayReader&) = delete;

  // Opens `path` (without following links or blocking) and checks its header, trailer and index.
  bool Open(const std::string& path, std::string* error);
  // The same on an open descriptor (kept open by the caller), named `name` in messages.
  bool OpenDescriptor(int fd, const std::string& name, std::string* error);
  void Close();

  const PackedDayHeader& header() const { return header_; }
  // InstrumentIDs in order of first appearance in the journal.
  const std::vector<std::string>& contracts() const { return index_.contracts; }

  // Records of each contract of contracts() kept in its blocks, from the index alone. Records kept
  // as they are (damaged, or not given back exactly by columns) are not counted for any contract.
  std::vector<std::uint64_t> ContractRecordCounts() const;

  // Every whole record of `contract` in the journal's order, reading only its blocks.
  bool ReadContract(std::string_view contract, std::vector<JournalEntry>* entries, std::string* error);

  // Leaves `contract`'s records out of Next; its blocks are not read.
  void Skip(std::string_view contract);
  // The next whole record in the journal's order; damaged records are skipped and counted.
  Result Next(JournalEntry* entry, std::string* error);
  std::uint64_t badRecords() const { return badRecords_; }

  // Hands the journal file's bytes to `sink` in order, in pieces; stops with false when the sink
  // returns false (error left as the sink set it) or the file is damaged.
  bool Unpack(const std::function<bool(const unsigned char*, std::size_t)>& sink, std::string* error);

 private:
  bool ReadBlock(const PackedBlockEntry& entry, std::string* payload, std::string* error);
  bool LoadSegment(std::uint64_t segment, std::string* error);
  const unsigned char* VerbatimRecord(std::uint32_t row) const;
  std::string Where(const PackedBlockEntry& entry) const;

  std::string name_;
  int fd_ = -1;
  bool ownsFd_ = false;
  std::uint64_t fileSize_ = 0;
  PackedDayHeader header_;
  PackedDayIndex index_;
  std::vector<std::vector<std::uint32_t>> segmentBlocks_;  // per segment: index entries of kinds 2 and 3
  std::vector<std::vector<std::uint32_t>> contractBlocks_; // per contract: its kind 2 entries
  std::vector<bool> skipped_;
  void* dctx_ = nullptr;  // ZSTD_DCtx
  std::string stored_;

  // The segment Next reads: its decoded contract blocks, verbatim records, and each slot's place.
  std::uint64_t segment_ = 0;
  bool segmentLoaded_ = false;
  std::uint64_t slotInSegment_ = 0;
  std::uint64_t segmentLength_ = 0;
  std::unique_ptr<ContractBlockDecoder> decoder_;
  std::string verbatim_;                  // the segment's verbatim block
  std::size_t verbatimRecords_ = 0;
  // Per slot of the segment: its entry when it came from a contract block, else its row in the
  // verbatim block (slotState_), so that Next reads the segment front to back.
  SegmentBuffer entryMemory_;
  JournalEntry* entries_ = nullptr;  // in entryMemory_, written slot by slot before it is read
  std::vector<std::uint32_t> slotState_;
  std::uint64_t badRecords_ = 0;
  bool done_ = false;
};

#endif
