#include "storage/packed_day_writer.h"

#include <unistd.h>
#include <zstd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string_view>

#include "core/errno_text.h"
#include "storage/contract_block_encoder.h"
#include "storage/journal_field_table.h"
#include "storage/journal_format.h"

namespace {

constexpr std::size_t kDrainSize = 4 << 20;
constexpr std::uint32_t kMaxWriterSegmentSlots = 262144;  // keeps every block under the raw bound
constexpr int kMinMatch = 4;

// A slot of the recent names' cache: a multiplicative hash of the name's first 16 bytes and length.
std::size_t RecentSlot(std::string_view name) {
  std::uint64_t word[2] = {0, 0};
  std::memcpy(word, name.data(), std::min<std::size_t>(name.size(), sizeof word));
  const std::uint64_t mixed = (word[0] * 0x9E3779B97F4A7C15ull) ^ (word[1] + name.size());
  return static_cast<std::size_t>((mixed * 0xC2B2AE3D27D4EB4Full) >> 52);  // 12 bits: 4096 slots
}

}  // namespace

PackedDayWriter::PackedDayWriter(int zstdLevel, std::uint32_t segmentSlots)
    : level_(zstdLevel), segmentSlots_(std::clamp<std::uint32_t>(segmentSlots, 1, kMaxWriterSegmentSlots)),
      encoder_(std::make_unique<ContractBlockEncoder>()) {}

PackedDayWriter::~PackedDayWriter() { ZSTD_freeCCtx(static_cast<ZSTD_CCtx*>(cctx_)); }

bool PackedDayWriter::Begin(int fd, const std::string& day, std::uint32_t journalVersion,
                            const std::string& journalHeader, std::uint64_t journalSize, std::string* error) {
  const std::size_t recordSize = JournalRecordSize(journalVersion);
  if (recordSize == 0 || journalHeader.size() != JournalHeaderSize(journalVersion) ||
      journalSize < journalHeader.size()) {
    *error = "not a journal this program packs";
    return false;
  }
  fd_ = fd;
  header_ = PackedDayHeader{};
  std::memcpy(header_.day, day.data(), std::min<std::size_t>(day.size(), 8));
  header_.journalVersion = journalVersion;
  header_.recordSize = static_cast<std::uint32_t>(recordSize);
  header_.journalSize = journalSize;
  header_.slots = (journalSize - journalHeader.size()) / recordSize;
  header_.tailSize = journalSize - journalHeader.size() - header_.slots * recordSize;
  header_.segmentSlots = segmentSlots_;
  index_ = PackedDayIndex{};
  numbers_.clear();
  recent_.fill(0);
  offset_ = 0;
  pending_.clear();
  nextSlot_ = 0;
  damaged_ = 0;
  rows_.clear();
  verbatim_.clear();
  present_.clear();
  if (cctx_ == nullptr) cctx_ = ZSTD_createCCtx();
  if (cctx_ == nullptr) {
    *error = "zstd: out of memory";
    return false;
  }
  // Matches from 4 bytes: the byte planes repeat in short runs, and the file comes out smaller
  // for about the same time.
  auto* cctx = static_cast<ZSTD_CCtx*>(cctx_);
  ZSTD_CCtx_reset(cctx, ZSTD_reset_session_and_parameters);
  ZSTD_CCtx_setParameter(cctx, ZSTD_c_compressionLevel, level_);
  ZSTD_CCtx_setParameter(cctx, ZSTD_c_minMatch, kMinMatch);
  pending_ = EncodePackedDayHeader(header_);
  return PutBlock(PackedBlockKind::kJournalHeader, kPackedNoContract, 0, journalHeader, error);
}

std::uint32_t PackedDayWriter::ContractNumber(std::string_view name) {
  std::uint32_t& recent = recent_[RecentSlot(name)];
  if (recent != 0 && index_.contracts[recent - 1] == name) return recent - 1;
  std::uint32_t number;
  const auto found = numbers_.find(name);
  if (found != numbers_.end()) {
    number = found->second;
  } else {
    number = static_cast<std::uint32_t>(index_.contracts.size());
    numbers_.emplace(std::string(name), number);
    index_.contracts.emplace_back(name);
    rows_.emplace_back();
  }
  recent = number + 1;
  return number;
}

unsigned char* PackedDayWriter::Room(std::size_t* count, std::string* error) {
  const std::uint64_t inSegment = nextSlot_ % segmentSlots_;
  if (inSegment == 0) {
    segment_ = static_cast<unsigned char*>(segmentMemory_.Reserve(std::size_t{segmentSlots_} * header_.recordSize));
    if (segment_ == nullptr) {
      *error = "out of memory for a segment";
      return nullptr;
    }
  }
  *count = static_cast<std::size_t>(
      std::min<std::uint64_t>({*count, segmentSlots_ - inSegment, header_.slots - nextSlot_}));
  return segment_ + inSegment * header_.recordSize;
}

bool PackedDayWriter::AddRecords(const unsigned char* records, std::size_t count, std::string* error) {
  const JournalFieldTable& table = *JournalFieldTableOf(header_.journalVersion);
  const std::size_t size = header_.recordSize;
  if (count > header_.slots - nextSlot_) {
    *error = "more records than the journal's size holds";
    return false;
  }
  for (std::size_t r = 0; r < count; ++r) {
    const std::uint64_t inSegment = nextSlot_ % segmentSlots_;
    if (inSegment == 0) {
      segment_ = static_cast<unsigned char*>(segmentMemory_.Reserve(std::size_t{segmentSlots_} * size));
      if (segment_ == nullptr) {
        *error = "out of memory for a segment";
        return false;
      }
    }
    unsigned char* at = segment_ + inSegment * size;
    if (at != records + r * size) std::memcpy(at, records + r * size, size);
    const bool valid = JournalRecordValid(at, header_.journalVersion);
    // The name must end inside the field for the index to hold it; a 31-byte code is kept verbatim.
    const auto* id = reinterpret_cast<const char*>(at + kJournalTickOffset + offsetof(TickRecord, InstrumentID));
    const std::size_t idLength = strnlen(id, sizeof(TickRecord::InstrumentID));
    if (valid && JournalRecordGapsZero(table, at) && idLength <= kPackedMaxContractLength) {
      const std::uint32_t contract = ContractNumber(std::string_view(id, idLength));
      if (rows_[contract].empty()) present_.push_back(contract);
      rows_[contract].push_back(static_cast<std::uint32_t>(inSegment));
    } else {
      if (!valid) ++damaged_;
      verbatim_.push_back(static_cast<std::uint32_t>(inSegment));
    }
    ++nextSlot_;
    if (nextSlot_ % segmentSlots_ == 0 || nextSlot_ == header_.slots) {
      if (!FlushSegment(error)) return false;
    }
  }
  return true;
}

bool PackedDayWriter::FlushSegment(std::string* error) {
  const JournalFieldTable& table = *JournalFieldTableOf(header_.journalVersion);
  const std::size_t size = header_.recordSize;
  const std::uint64_t first = (nextSlot_ - 1) / segmentSlots_ * segmentSlots_;
  std::sort(present_.begin(), present_.end());
  std::vector<const unsigned char*> records;
  std::vector<std::uint64_t> slots;
  for (std::uint32_t contract : present_) {
    std::vector<std::uint32_t>& rows = rows_[contract];
    records.resize(rows.size());
    slots.resize(rows.size());
    for (std::size_t i = 0; i < rows.size(); ++i) {
      records[i] = segment_ + std::size_t{rows[i]} * size;
      slots[i] = first + rows[i];
    }
    const std::string_view payload = encoder_->Encode(table, records.data(), slots.data(), rows.size());
    if (!PutBlock(PackedBlockKind::kContract, contract, static_cast<std::uint32_t>(rows.size()), payload, error)) {
      return false;
    }
    rows.clear();
  }
  present_.clear();
  if (!verbatim_.empty()) {
    payload_.clear();
    const auto m = static_cast<std::uint32_t>(verbatim_.size());
    payload_.append(reinterpret_cast<const char*>(&m), 4);
    for (std::uint32_t row : verbatim_) {
      const std::uint64_t slot = first + row;
      payload_.append(reinterpret_cast<const char*>(&slot), 8);
    }
    for (std::uint32_t row : verbatim_) {
      payload_.append(reinterpret_cast<const char*>(segment_ + std::size_t{row} * size), size);
    }
    if (!PutBlock(PackedBlockKind::kVerbatim, kPackedNoContract, m, payload_, error)) return false;
    verbatim_.clear();
  }
  return true;
}

bool PackedDayWriter::PutBlock(PackedBlockKind kind, std::uint32_t contract, std::uint32_t records,
                               std::string_view payload, std::string* error) {
  if (payload.size() > kPackedMaxRawSize) {
    *error = "block too large to pack";
    return false;
  }
  stored_.resize(ZSTD_compressBound(payload.size()));
  const std::size_t stored =
      ZSTD_compress2(static_cast<ZSTD_CCtx*>(cctx_), stored_.data(), stored_.size(), payload.data(), payload.size());
  if (ZSTD_isError(stored)) {
    *error = std::string("zstd: ") + ZSTD_getErrorName(stored);
    return false;
  }
  PackedBlockEntry entry;
  entry.offset = bytesWritten();
  entry.kind = static_cast<std::uint32_t>(kind);
  entry.contract = contract;
  const bool segmented = kind == PackedBlockKind::kContract || kind == PackedBlockKind::kVerbatim;
  entry.segment = segmented ? static_cast<std::uint32_t>((nextSlot_ - 1) / segmentSlots_) : 0;
  entry.records = records;
  entry.storedSize = static_cast<std::uint32_t>(stored);
  entry.crc = PackedCrc(stored_.data(), stored);
  index_.blocks.push_back(entry);
  PackedBlockHeader header{entry.kind, entry.storedSize, static_cast<std::uint32_t>(payload.size()), entry.crc};
  unsigned char bytes[kPackedBlockHeaderSize];
  EncodePackedBlockHeader(header, bytes);
  return Write(bytes, sizeof bytes, error) && Write(stored_.data(), stored, error);
}

bool PackedDayWriter::Write(const void* data, std::size_t size, std::string* error) {
  pending_.append(static_cast<const char*>(data), size);
  return pending_.size() < kDrainSize || Drain(error);
}

bool PackedDayWriter::Drain(std::string* error) {
  std::size_t done = 0;
  while (done < pending_.size()) {
    const ssize_t n = ::write(fd_, pending_.data() + done, pending_.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      *error = "write: " + ErrnoText(n < 0 ? errno : EIO);
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  offset_ += pending_.size();
  pending_.clear();
  return true;
}

bool PackedDayWriter::Finish(const unsigned char* tail, std::size_t tailSize, std::string* error) {
  if (nextSlot_ != header_.slots || tailSize != header_.tailSize) {
    *error = "the journal's records and tail do not match its size";
    return false;
  }
  if (tailSize > 0 &&
      !PutBlock(PackedBlockKind::kTail, kPackedNoContract, 0, std::string(reinterpret_cast<const char*>(tail), tailSize),
                error)) {
    return false;
  }
  const std::string index = EncodePackedIndex(index_);
  PackedTrailer trailer{bytesWritten(), static_cast<std::uint32_t>(index.size()), PackedCrc(index.data(), index.size())};
  if (index.size() > UINT32_MAX) {
    *error = "index too large";
    return false;
  }
  unsigned char bytes[kPackedTrailerSize];
  EncodePackedTrailer(trailer, bytes);
  return Write(index.data(), index.size(), error) && Write(bytes, sizeof bytes, error) && Drain(error);
}
