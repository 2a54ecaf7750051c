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
#include "storage/packed_segment_loader.h"

class PackedSegmentAhead;

// Reads a packed day: the contracts of its index, one contract's records without the rest, every whole record
// in the journal's order as the journal reader gives them, or the journal file's bytes. Every size, count and
// checksum is checked before use; a damaged file is refused with the reason. Next and Unpack decode the
// segments ahead on threads of their own (storage/packed_segment_ahead). One thread at a time.
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

  const PackedDayHeader& header() const { return layout_.header; }
  // InstrumentIDs in order of first appearance in the journal.
  const std::vector<std::string>& contracts() const { return layout_.index.contracts; }

  // Records of each contract of contracts() kept in its blocks, from the index alone. Records kept as they
  // are (damaged, or not given back exactly by columns) are not counted for any contract.
  std::vector<std::uint64_t> ContractRecordCounts() const;

  // Every whole record of `contract` in the journal's order, reading only its blocks.
  bool ReadContract(std::string_view contract, std::vector<JournalEntry>* entries, std::string* error);

  // Leaves `contract`'s records out of Next; its blocks are not read. Called before the first Next.
  void Skip(std::string_view contract);
  // The next whole record in the journal's order; damaged records are skipped and counted.
  Result Next(JournalEntry* entry, std::string* error);
  std::uint64_t badRecords() const { return badRecords_; }

  // Hands the journal file's bytes to `sink` in order, in pieces; stops with false when the sink returns
  // false (error left as the sink set it) or the file is damaged.
  bool Unpack(const std::function<bool(const unsigned char*, std::size_t)>& sink, std::string* error);

 private:
  // Starts decoding segments from segment_ on, unless it runs already.
  void StartAhead();

  bool ownsFd_ = false;
  std::uint64_t fileSize_ = 0;
  PackedDayLayout layout_;
  std::vector<bool> skipped_;
  PackedSegmentLoader loader_;  // for one contract's reads and the blocks outside segments

  // The segment Next reads and the slot it is at.
  std::unique_ptr<PackedSegmentAhead> ahead_;
  std::uint64_t segment_ = 0;
  const PackedSegment* current_ = nullptr;
  std::uint64_t slotInSegment_ = 0;
  std::uint64_t badRecords_ = 0;
  bool done_ = false;
};

#endif
