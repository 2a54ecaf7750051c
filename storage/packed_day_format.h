#ifndef QUOTELOOM_STORAGE_PACKED_DAY_FORMAT_H
#define QUOTELOOM_STORAGE_PACKED_DAY_FORMAT_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// The packed day "History/<day>.qth": its header, block headers, footer index and trailer, and the
// bounds a reader holds a file to (docs/tick-files.md, "The packed day"). Pure functions, any thread.

inline constexpr char kPackedDayMagic[8] = {'Q', 'T', 'H', 'P', 'A', 'C', 'K', 'D'};
inline constexpr char kPackedIndexMagic[8] = {'Q', 'T', 'H', 'I', 'N', 'D', 'E', 'X'};
inline constexpr std::uint32_t kPackedDayVersion = 1;
inline constexpr std::size_t kPackedHeaderSize = 64;
inline constexpr std::size_t kPackedBlockHeaderSize = 16;
inline constexpr std::size_t kPackedIndexEntrySize = 32;
inline constexpr std::size_t kPackedTrailerSize = 32;
// Slots of a segment as the packer writes them; a reader takes any count up to the maximum.
inline constexpr std::uint32_t kPackedSegmentSlots = 131072;
inline constexpr std::uint32_t kPackedMaxSegmentSlots = 1u << 20;
inline constexpr std::uint32_t kPackedMaxRawSize = 1u << 28;
inline constexpr std::uint32_t kPackedMaxBlocks = 1u << 24;
inline constexpr std::uint32_t kPackedMaxContracts = 1u << 20;
inline constexpr std::size_t kPackedMaxContractLength = 30;
inline constexpr std::uint32_t kPackedNoContract = 0xFFFFFFFFu;

// How a contract block's column is stored (docs/tick-files.md, "Contract block").
inline constexpr std::uint8_t kMethodInteger = 0;
inline constexpr std::uint8_t kMethodDecimal = 1;
inline constexpr std::uint8_t kMethodXor = 2;
inline constexpr std::uint8_t kMethodDictionary = 3;
inline constexpr std::uint8_t kMethodQuotient = 4;
inline constexpr std::uint8_t kMethodClock = 5;
inline constexpr std::uint8_t kMethodRunningProduct = 6;

enum class PackedBlockKind : std::uint32_t { kJournalHeader = 1, kContract = 2, kVerbatim = 3, kTail = 4 };

struct PackedDayHeader {
  char day[9] = "";
  std::uint32_t journalVersion = 0;
  std::uint32_t recordSize = 0;
  std::uint64_t journalSize = 0;
  std::uint64_t slots = 0;
  std::uint64_t tailSize = 0;
  std::uint32_t segmentSlots = kPackedSegmentSlots;

  std::uint64_t segments() const { return segmentSlots == 0 ? 0 : (slots + segmentSlots - 1) / segmentSlots; }
};

struct PackedBlockHeader {
  std::uint32_t kind = 0;
  std::uint32_t storedSize = 0;
  std::uint32_t rawSize = 0;
  std::uint32_t crc = 0;
};

struct PackedBlockEntry {
  std::uint64_t offset = 0;
  std::uint32_t kind = 0;
  std::uint32_t contract = kPackedNoContract;
  std::uint32_t segment = 0;
  std::uint32_t records = 0;
  std::uint32_t storedSize = 0;
  std::uint32_t crc = 0;
};

struct PackedDayIndex {
  std::vector<PackedBlockEntry> blocks;  // in file order
  std::vector<std::string> contracts;    // InstrumentIDs, numbered from 0 in order of first appearance
};

struct PackedTrailer {
  std::uint64_t indexOffset = 0;
  std::uint32_t indexSize = 0;
  std::uint32_t indexCrc = 0;
};

// CRC-32 (zlib's), the checksum of every part of the file.
std::uint32_t PackedCrc(const void* data, std::size_t size);

std::string EncodePackedDayHeader(const PackedDayHeader& header);
// Checks magic, version, sizes, the journal's version and record size and the header's checksum.
bool DecodePackedDayHeader(const unsigned char* data, std::size_t size, PackedDayHeader* header, std::string* error);

void EncodePackedBlockHeader(const PackedBlockHeader& header, unsigned char (&out)[kPackedBlockHeaderSize]);
PackedBlockHeader DecodePackedBlockHeader(const unsigned char* data);

std::string EncodePackedIndex(const PackedDayIndex& index);
// Checks counts and lengths against the bounds above and that the entries lie in [first, end) one
// after another in file order; the blocks' own contents are checked when they are read.
bool DecodePackedIndex(const unsigned char* data, std::size_t size, std::uint64_t first, std::uint64_t end,
                       PackedDayIndex* index, std::string* error);

void EncodePackedTrailer(const PackedTrailer& trailer, unsigned char (&out)[kPackedTrailerSize]);
bool DecodePackedTrailer(const unsigned char* data, PackedTrailer* trailer, std::string* error);

#endif
