#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>
#include <unistd.h>

#include <cfloat>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "storage/contract_block_decoder.h"
#include "storage/contract_block_encoder.h"
#include "storage/day_packer.h"
#include "storage/journal_field_table.h"
#include "storage/journal_format.h"
#include "storage/journal_reader.h"
#include "storage/packed_day_reader.h"
#include "storage/packed_day_writer.h"
#include "storage/storage_paths.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kDay = "20240311";

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void WriteFile(const fs::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
}

double Bits(std::uint64_t bits) {
  double d;
  std::memcpy(&d, &bits, 8);
  return d;
}

// A price walk on a 0.2 grid with a book and running totals, as a busy contract sends it.
TickRecord WalkTick(const char* code, int i, std::mt19937& random) {
  TickRecord t{};
  std::snprintf(t.TradingDay, sizeof t.TradingDay, "%s", kDay);
  std::snprintf(t.InstrumentID, sizeof t.InstrumentID, "%s", code);
  std::snprintf(t.ExchangeID, sizeof t.ExchangeID, "%s", code);
  std::snprintf(t.ExchangeInstID, sizeof t.ExchangeInstID, "%s", code);
  std::snprintf(t.ActionDay, sizeof t.ActionDay, "%s", kDay);
  std::snprintf(t.UpdateTime, sizeof t.UpdateTime, "%02d:%02d:%02d", 9 + i / 3600 % 6, i / 60 % 60, i % 60);
  t.UpdateMillisec = (i % 2) * 500;
  const int ticks = 18000 + static_cast<int>(random() % 7) - 3;
  t.LastPrice = ticks * 2 / 10.0;
  t.PreSettlementPrice = 3600.0;
  t.PreClosePrice = 3601.2;
  t.PreOpenInterest = 123456;
  t.OpenPrice = 3599.8;
  t.HighestPrice = 3610.0;
  t.LowestPrice = 3590.4;
  t.Volume = 10 * i + static_cast<int>(random() % 10);
  t.Turnover = t.Volume * 3600.0 * 10;
  t.OpenInterest = 200000 + static_cast<double>(random() % 100);
  t.ClosePrice = -1;
  t.SettlementPrice = DBL_MAX;
  t.UpperLimitPrice = 3852.0;
  t.LowerLimitPrice = 3348.0;
  t.CurrDelta = DBL_MAX;
  double* bids[] = {&t.BidPrice1, &t.BidPrice2, &t.BidPrice3, &t.BidPrice4, &t.BidPrice5};
  double* asks[] = {&t.AskPrice1, &t.AskPrice2, &t.AskPrice3, &t.AskPrice4, &t.AskPrice5};
  int* bidVolumes[] = {&t.BidVolume1, &t.BidVolume2, &t.BidVolume3, &t.BidVolume4, &t.BidVolume5};
  int* askVolumes[] = {&t.AskVolume1, &t.AskVolume2, &t.AskVolume3, &t.AskVolume4, &t.AskVolume5};
  for (int level = 0; level < 5; ++level) {
    *bids[level] = (ticks - 1 - level) * 2 / 10.0;
    *asks[level] = (ticks + level) * 2 / 10.0;
    *bidVolumes[level] = 1 + static_cast<int>(random() % 300);
    *askVolumes[level] = 1 + static_cast<int>(random() % 300);
  }
  t.AveragePrice = t.Turnover / (t.Volume * 10.0);
  return t;
}

// A journal's bytes built record by record, so a test can damage, tear or bend any of them.
class JournalBytes {
 public:
  explicit JournalBytes(std::uint32_t version = kJournalVersion) : version_(version) {
    bytes_ = JournalHeaderBytes(kDay, version);
  }

  void Add(const TickRecord& tick, std::int64_t writeNs, std::int64_t arrivalNs = 0) {
    JournalEntry e;
    e.sequence = ++sequence_;
    e.writeTimeNs = writeNs;
    e.tick = tick;
    e.tick.Filled = 1;
    e.arrivalTimeNs = version_ >= 2 ? arrivalNs : 0;
    std::string record(JournalRecordSize(version_), '\0');
    EncodeJournalRecord(e, version_, reinterpret_cast<unsigned char*>(record.data()));
    bytes_ += record;
  }
  // Flips a byte inside the last record (its checksum then fails).
  void DamageLast() { bytes_[bytes_.size() - 100] ^= 0x40; }
  void Tear(std::size_t bytes) { bytes_ += std::string(bytes, '\x5a'); }
  std::string& bytes() { return bytes_; }

 private:
  std::uint32_t version_;
  std::uint64_t sequence_ = 0;
  std::string bytes_;
};

class PackedDayTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/quoteloom-packed-XXXXXX";
    root_ = mkdtemp(pattern);
    fs::create_directories(root_ / "Journal");
  }
  void TearDown() override { fs::remove_all(root_); }

  fs::path JournalPath() const { return JournalDayPath(root_.string(), kDay); }
  fs::path PackedPath() const { return PackedDayPath(root_.string(), kDay); }

  // Packs the journal and checks every way of reading it back against the journal itself.
  void ExpectRoundTrip(const std::string& journal) {
    WriteFile(JournalPath(), journal);
    PackReport report;
    std::string error;
    ASSERT_TRUE(PackJournalDay(root_, kDay, &report, &error)) << error;
    EXPECT_EQ(report.journal_bytes, journal.size());
    EXPECT_EQ(report.packed_bytes, fs::file_size(PackedPath()));
    ExpectReadsLikeJournal(PackedPath().string(), journal);
  }

  void ExpectReadsLikeJournal(const std::string& packed, const std::string& journal) {
    PackedDayReader reader;
    std::string error;
    ASSERT_TRUE(reader.Open(packed, &error)) << error;
    std::string unpacked;
    ASSERT_TRUE(reader.Unpack(
        [&](const unsigned char* data, std::size_t n) {
          unpacked.append(reinterpret_cast<const char*>(data), n);
          return true;
        },
        &error))
        << error;
    EXPECT_TRUE(unpacked == journal) << "unpacked " << unpacked.size() << " bytes of " << journal.size();

    std::vector<JournalEntry> expected;
    std::uint64_t bad = 0;
    ASSERT_TRUE(ReadWholeJournal(JournalPath().string(), &expected, &error, &bad)) << error;
    std::vector<JournalEntry> got;
    JournalEntry entry;
    PackedDayReader::Result r;
    while ((r = reader.Next(&entry, &error)) == PackedDayReader::Result::kRecord) got.push_back(entry);
    ASSERT_EQ(r, PackedDayReader::Result::kEnd) << error;
    EXPECT_EQ(reader.badRecords(), bad);
    ASSERT_EQ(got.size(), expected.size());
    for (std::size_t i = 0; i < got.size(); ++i) {
      ASSERT_EQ(std::memcmp(&got[i], &expected[i], sizeof got[i]), 0) << "record " << i;
    }

    for (const std::string& contract : reader.contracts()) {
      std::vector<JournalEntry> one;
      ASSERT_TRUE(reader.ReadContract(contract, &one, &error)) << error;
      std::vector<JournalEntry> want;
      for (const JournalEntry& e : expected) {
        if (contract == e.tick.InstrumentID) want.push_back(e);
      }
      ASSERT_EQ(one.size(), want.size()) << contract;
      for (std::size_t i = 0; i < one.size(); ++i) {
        ASSERT_EQ(std::memcmp(&one[i], &want[i], sizeof one[i]), 0) << contract << " record " << i;
      }
    }
  }

  fs::path root_;
};

// A day of several contracts, interleaved, with arrival and write times a few microseconds apart.
std::string MarketDay(int ticks, std::uint32_t version = kJournalVersion) {
  JournalBytes journal(version);
  std::mt19937 random(7);
  const char* codes[] = {"rb2405", "IF2403", "au2406", "m2405"};
  std::int64_t now = 1710118800000000000;
  for (int i = 0; i < ticks; ++i) {
    now += 1000000 * static_cast<std::int64_t>(1 + random() % 300);
    const std::int64_t arrival = now / 1000000 * 1000000;
    journal.Add(WalkTick(codes[random() % 4], i, random), arrival + 20000 + static_cast<std::int64_t>(random() % 9000),
                arrival);
  }
  return journal.bytes();
}

TEST_F(PackedDayTest, MarketDayUnpacksByteForByteInBothVersions) {
  ExpectRoundTrip(MarketDay(3000));
  ExpectRoundTrip(MarketDay(500, 1));
}

TEST_F(PackedDayTest, PacksAMarketDayWellBelowItsJournal) {
  const std::string journal = MarketDay(20000);
  ExpectRoundTrip(journal);
  EXPECT_LT(fs::file_size(PackedPath()) * 10, journal.size());
}

TEST_F(PackedDayTest, DamagedRecordsTornTailAndLoneContractsAreKept) {
  std::mt19937 random(3);
  struct Case {
    const char* name;
    std::uint32_t version;
    bool damageFirst;
    bool damageLast;
    std::size_t tail;
  };
  const Case cases[] = {
      {"damaged first", 2, true, false, 0},
      {"damaged last and torn", 2, false, true, 300},
      {"torn only", 2, false, false, 1},
      {"version 1 damaged and torn", 1, true, true, 431},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    JournalBytes journal(c.version);
    journal.Add(WalkTick("once", 0, random), 1710118800000000000, 1710118800000000000);
    if (c.damageFirst) journal.DamageLast();
    for (int i = 1; i < 40; ++i) journal.Add(WalkTick(i % 2 ? "rb2405" : "IF2403", i, random), 1710118800000000000 + i);
    journal.Add(WalkTick("alone", 41, random), 1710118800000000999, 5);
    if (c.damageLast) journal.DamageLast();
    journal.Tear(c.tail);
    ExpectRoundTrip(journal.bytes());
  }
}

TEST_F(PackedDayTest, HeaderOnlyJournal) { ExpectRoundTrip(JournalHeaderBytes(kDay)); }

// Values no decimal grid holds, each alone and mixed into a grid column, come back bit for bit.
TEST_F(PackedDayTest, OddDoublesAndTextComeBackBitForBit) {
  const double odd[] = {
      std::numeric_limits<double>::quiet_NaN(), Bits(0x7ff8000000000123ull), Bits(0xfff0000000000001ull),
      Bits(0x7ff4000000000000ull), DBL_MAX, -DBL_MAX, -0.0, 0.0, std::numeric_limits<double>::denorm_min(),
      Bits(0x000fffffffffffffull), std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity(),
      1e300, 0.1 + 0.2, 3600.2 * (1 + 1e-15)};
  JournalBytes journal;
  std::mt19937 random(5);
  for (std::size_t i = 0; i < std::size(odd); ++i) {
    TickRecord t = WalkTick("rb2405", static_cast<int>(i), random);
    t.LastPrice = odd[i];
    t.BidPrice1 = odd[std::size(odd) - 1 - i];
    t.AveragePrice = odd[i];
    t.Turnover = odd[(i + 3) % std::size(odd)];
    t.Volume = i % 3 == 0 ? INT32_MIN : INT32_MAX - static_cast<int>(i);
    // Bytes after the terminator, and clock texts that are not quite clocks.
    std::memcpy(t.InstrumentID + 7, "tail", 4);
    const char* clocks[] = {"9:30:00", "09:30:00", "24:61:00", "99:59:59", ""};
    std::snprintf(t.UpdateTime, sizeof t.UpdateTime, "%s", clocks[i % 5]);
    if (i == 4) t.UpdateTime[8] = 0;
    journal.Add(t, INT64_MIN + static_cast<std::int64_t>(i), i % 2 ? INT64_MAX : 0);
  }
  ExpectRoundTrip(journal.bytes());
}

// A whole record whose bytes between fields are not zero is valid but cannot come from columns.
TEST_F(PackedDayTest, ValidRecordWithBytesBetweenFieldsIsKeptVerbatim) {
  JournalBytes journal;
  std::mt19937 random(9);
  for (int i = 0; i < 5; ++i) journal.Add(WalkTick("rb2405", i, random), 1000 + i, 1000);
  std::string& bytes = journal.bytes();
  const std::size_t record = bytes.size() - 2 * kJournalRecordSize;
  bytes[record + kJournalTickOffset + offsetof(TickRecord, Volume) + 4] = 7;  // padding after Volume
  JournalEntry entry;
  // Recompute the checksum the way the journal does, from the record with its padding.
  unsigned char rebuilt[kJournalRecordSize];
  std::memcpy(rebuilt, bytes.data() + record, kJournalRecordSize);
  DecodeValidJournalRecord(rebuilt, &entry);
  EncodeJournalRecord(entry, rebuilt);
  ASSERT_EQ(rebuilt[kJournalTickOffset + offsetof(TickRecord, Volume) + 4], 7);
  std::memcpy(bytes.data() + record, rebuilt, kJournalRecordSize);
  ExpectRoundTrip(bytes);
}

// Several segments of a few slots each, as a long day has, with a contract missing from some.
TEST_F(PackedDayTest, SegmentsRestoreTheJournalOrder) {
  const std::string journal = MarketDay(200);
  WriteFile(JournalPath(), journal);
  const std::size_t header = JournalHeaderSize();
  fs::create_directories(root_ / "History");
  const int fd = ::open(PackedPath().c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
  ASSERT_GE(fd, 0);
  PackedDayWriter writer(3, 7);
  std::string error;
  ASSERT_TRUE(writer.Begin(fd, kDay, kJournalVersion, journal.substr(0, header), journal.size(), &error)) << error;
  ASSERT_TRUE(writer.AddRecords(reinterpret_cast<const unsigned char*>(journal.data()) + header, 200, &error)) << error;
  ASSERT_TRUE(writer.Finish(nullptr, 0, &error)) << error;
  ::close(fd);
  ExpectReadsLikeJournal(PackedPath().string(), journal);

  // Segments are decoded ahead on other threads: one damaged midway still comes after every record
  // before it, in order, and ends the read with its reason, whichever thread met it.
  std::vector<JournalEntry> expected;
  std::uint64_t bad = 0;
  ASSERT_TRUE(ReadWholeJournal(JournalPath().string(), &expected, &error, &bad)) << error;
  std::string damaged = ReadFile(PackedPath());
  damaged[damaged.size() / 2] ^= 0x10;
  WriteFile(PackedPath(), damaged);
  for (int reads = 0; reads < 20; ++reads) {
    PackedDayReader reader;
    ASSERT_TRUE(reader.Open(PackedPath().string(), &error)) << error;
    JournalEntry entry;
    std::size_t n = 0;
    PackedDayReader::Result r;
    while ((r = reader.Next(&entry, &error)) == PackedDayReader::Result::kRecord) {
      ASSERT_LT(n, expected.size());
      ASSERT_EQ(std::memcmp(&entry, &expected[n], sizeof entry), 0) << "record " << n;
      ++n;
    }
    ASSERT_EQ(r, PackedDayReader::Result::kError);
    EXPECT_NE(error.find("checksum"), std::string::npos) << error;
    EXPECT_GT(n, 0u);
    EXPECT_LT(n, expected.size());
    EXPECT_EQ(reader.Next(&entry, &error), PackedDayReader::Result::kEnd);
    // A reader left midway stops its threads.
    if (reads % 2 == 0) {
      PackedDayReader early;
      ASSERT_TRUE(early.Open(PackedPath().string(), &error)) << error;
      ASSERT_EQ(early.Next(&entry, &error), PackedDayReader::Result::kRecord);
    }
  }
}

TEST_F(PackedDayTest, SkippedContractIsNotRead) {
  WriteFile(JournalPath(), MarketDay(400));
  PackReport report;
  std::string error;
  ASSERT_TRUE(PackJournalDay(root_, kDay, &report, &error)) << error;
  PackedDayReader reader;
  ASSERT_TRUE(reader.Open(PackedPath().string(), &error)) << error;
  reader.Skip("rb2405");
  JournalEntry entry;
  int count = 0;
  while (reader.Next(&entry, &error) == PackedDayReader::Result::kRecord) {
    EXPECT_STRNE(entry.tick.InstrumentID, "rb2405");
    ++count;
  }
  EXPECT_GT(count, 200);
  EXPECT_LT(count, 400);
}

TEST_F(PackedDayTest, RefusedJournalLeavesNothingBehind) {
  PackReport report;
  std::string error;
  EXPECT_FALSE(PackJournalDay(root_, kDay, &report, &error));  // no journal
  EXPECT_NE(error.find(kDay), std::string::npos) << error;
  EXPECT_FALSE(PackJournalDay(root_, "2024031", &report, &error));
  WriteFile(JournalPath(), "QTJOURNL");  // a header cut short
  EXPECT_FALSE(PackJournalDay(root_, kDay, &report, &error));
  fs::remove(JournalPath());
  fs::create_symlink("/etc/passwd", JournalPath());
  EXPECT_FALSE(PackJournalDay(root_, kDay, &report, &error));
  EXPECT_FALSE(fs::exists(PackedPath()));
  if (fs::exists(root_ / "History")) {
    EXPECT_TRUE(fs::is_empty(root_ / "History"));
  }
}

// Every cut and every flipped byte of a packed day is refused by Open or by reading, never misread.
// A pack killed midway leaves its temporary behind; the next pack of the day removes those of
// packers that are gone and leaves a live one's and other days' alone.
TEST_F(PackedDayTest, TemporariesOfPackersThatAreGoneAreRemoved) {
  WriteFile(JournalPath(), MarketDay(50));
  fs::create_directories(root_ / "History");
  pid_t gone = ::fork();
  if (gone == 0) _exit(0);
  ASSERT_GT(gone, 0);
  ::waitpid(gone, nullptr, 0);
  const std::string day = kDay;
  const fs::path abandoned = root_ / "History" / ("." + day + ".qth." + std::to_string(gone) + ".tmp");
  const fs::path live = root_ / "History" / ("." + day + ".qth." + std::to_string(::getppid()) + ".tmp");
  const fs::path otherDay = root_ / "History" / (".20240307.qth." + std::to_string(gone) + ".tmp");
  for (const fs::path& path : {abandoned, live, otherDay}) WriteFile(path, "half a pack");
  PackReport report;
  std::string error;
  ASSERT_TRUE(PackJournalDay(root_, kDay, &report, &error)) << error;
  EXPECT_FALSE(fs::exists(abandoned));
  EXPECT_TRUE(fs::exists(live));
  EXPECT_TRUE(fs::exists(otherDay));
  EXPECT_TRUE(fs::exists(PackedPath()));
}

TEST_F(PackedDayTest, TruncatedOrFlippedFilesAreRefused) {
  JournalBytes journal;
  std::mt19937 random(11);
  for (int i = 0; i < 30; ++i) journal.Add(WalkTick(i % 3 ? "rb2405" : "IF2403", i, random), 1000 + i, 1000);
  journal.DamageLast();
  journal.Tear(17);
  ExpectRoundTrip(journal.bytes());
  const std::string good = ReadFile(PackedPath());
  const fs::path bad = root_ / "bad.qth";
  const auto refused = [&](const std::string& bytes) {
    WriteFile(bad, bytes);
    PackedDayReader reader;
    std::string error;
    if (!reader.Open(bad.string(), &error)) return true;
    // Records alone may still be read where only the journal's header or tail is hit.
    JournalEntry entry;
    while (reader.Next(&entry, &error) == PackedDayReader::Result::kRecord) {
    }
    return !reader.Unpack([](const unsigned char*, std::size_t) { return true; }, &error) && !error.empty();
  };
  for (std::size_t size = 0; size < good.size(); size += 1 + size / 7) {
    EXPECT_TRUE(refused(good.substr(0, size))) << "cut at " << size;
  }
  for (std::size_t at = 0; at < good.size(); ++at) {
    std::string flipped = good;
    flipped[at] ^= static_cast<char>(1 << (at % 8));
    EXPECT_TRUE(refused(flipped)) << "flipped byte " << at;
  }
  EXPECT_TRUE(refused(good + "x"));
}

// A block that passes its checksum yet lies (a file made to harm) is refused or read within its bounds.
// `records` (whole journal records) as one contract block at `slots`.
std::string EncodeBlock(ContractBlockEncoder& encoder, const std::vector<std::string>& records,
                        const std::vector<std::uint64_t>& slots) {
  std::vector<const unsigned char*> pointers;
  for (const std::string& r : records) pointers.push_back(reinterpret_cast<const unsigned char*>(r.data()));
  return std::string(encoder.Encode(*JournalFieldTableOf(kJournalVersion), pointers.data(), slots.data(),
                                    pointers.size()));
}

// Every row of a decoded block gives back its record byte for byte.
void ExpectRecordsRebuilt(const ContractBlockDecoder& decoder, const std::vector<std::string>& records) {
  ASSERT_EQ(decoder.rows(), records.size());
  for (std::size_t r = 0; r < records.size(); ++r) {
    JournalEntry entry;
    decoder.Entry(r, &entry);
    unsigned char rebuilt[kJournalRecordSize];
    EncodeJournalRecord(entry, rebuilt);
    EXPECT_EQ(std::memcmp(rebuilt, records[r].data(), kJournalRecordSize), 0) << "row " << r;
  }
}

TEST(ContractBlockCodec, EveryChangedOrCutPayloadIsReadWithinBounds) {
  std::mt19937 random(13);
  std::vector<std::string> records;
  std::vector<std::uint64_t> slots;
  for (int i = 0; i < 12; ++i) {
    JournalEntry e;
    e.sequence = 100 + i;
    e.writeTimeNs = 1710118800000000000 + i * 1000;
    e.arrivalTimeNs = 1710118800000000000;
    e.tick = WalkTick("rb2405", i, random);
    if (i == 3) std::snprintf(e.tick.UpdateTime, sizeof e.tick.UpdateTime, "9:3");
    std::string record(kJournalRecordSize, '\0');
    EncodeJournalRecord(e, reinterpret_cast<unsigned char(&)[kJournalRecordSize]>(*record.data()));
    records.push_back(record);
    slots.push_back(99 + i * 2);
  }
  const JournalFieldTable& table = *JournalFieldTableOf(kJournalVersion);
  ContractBlockEncoder encoder;
  const std::string payload = EncodeBlock(encoder, records, slots);
  ContractBlockDecoder decoder;
  std::string error;
  ASSERT_TRUE(decoder.Decode(table, reinterpret_cast<const unsigned char*>(payload.data()), payload.size(), 99, 130,
                             &error))
      << error;
  ExpectRecordsRebuilt(decoder, records);
  EXPECT_FALSE(decoder.Decode(table, reinterpret_cast<const unsigned char*>(payload.data()), payload.size(), 100, 130,
                              &error));  // a slot before its segment
  int refused = 0;
  const auto tryPayload = [&](const std::string& bent) {
    if (!decoder.Decode(table, reinterpret_cast<const unsigned char*>(bent.data()), bent.size(), 99, 130, &error)) {
      ++refused;
      return;
    }
    JournalEntry entry;
    for (std::size_t r = 0; r < decoder.rows(); ++r) decoder.Entry(r, &entry);
  };
  for (std::size_t size = 0; size < payload.size(); ++size) tryPayload(payload.substr(0, size));
  for (std::size_t at = 0; at < payload.size(); ++at) {
    for (int bit : {0, 3, 7}) {
      std::string bent = payload;
      bent[at] ^= static_cast<char>(1 << bit);
      tryPayload(bent);
    }
  }
  EXPECT_GE(refused, static_cast<int>(payload.size()));  // every cut at least
  // Every method and every reference or operand in every column header.
  const std::size_t columns = table.fields.size() + 1;
  for (std::size_t c = 0; c < columns; ++c) {
    for (int method = 0; method < 8; ++method) {
      for (std::size_t value = 0; value <= columns; ++value) {
        std::string bent = payload;
        bent[8 + c * 16] = static_cast<char>(method);
        bent[8 + c * 16 + 3] = static_cast<char>(value);
        tryPayload(bent);
        bent[8 + c * 16 + 3] = payload[8 + c * 16 + 3];
        bent[8 + c * 16 + 2] = static_cast<char>(value);
        tryPayload(bent);
      }
    }
  }
}

// Columns made to take each shortcut of the encoder (runs of one value, a grid that turns finer
// after hundreds of rows, integers past 2^51, a step of four that turns out to be two, an even
// step going down) come back bit for bit, with one encoder for blocks of very different sizes.
TEST(ContractBlockCodec, EveryShortcutOfTheEncoderRoundTrips) {
  const JournalFieldTable& table = *JournalFieldTableOf(kJournalVersion);
  ContractBlockEncoder encoder;
  ContractBlockDecoder decoder;
  std::mt19937 random(17);
  for (const int n : {600, 5, 70, 600}) {
    SCOPED_TRACE(n);
    std::vector<std::string> records;
    std::vector<std::uint64_t> slots;
    double bid = 3600.0;
    for (int i = 0; i < n; ++i) {
      JournalEntry e;
      e.sequence = 7 + static_cast<std::uint64_t>(i);
      e.writeTimeNs = 1710118800000000000 + i * 977;
      e.arrivalTimeNs = e.writeTimeNs - 50000;
      e.tick = WalkTick("rb2405", i, random);
      e.tick.LastPrice = 4503599627370496.0 + 2.0 * (i % 9);  // 2^52 and up, on the grid of 1
      bid += i % 2 ? 6 : 4;                                    // changes of 4 and 6: a step of 2
      e.tick.BidPrice1 = bid;
      e.tick.AskPrice1 = 3600.0 - 10.0 * (i % 13);             // a step of 10, mostly going down
      e.tick.HighestPrice = i < n - 3 ? 3610.0 : 3610.25;      // the grid turns finer near the end
      e.tick.OpenInterest = i < 300 ? -123456.78 : -123456.78 + 0.05 * i;
      e.tick.Volume = 1000 + 3 * i;
      std::string record(kJournalRecordSize, '\0');
      EncodeJournalRecord(e, reinterpret_cast<unsigned char(&)[kJournalRecordSize]>(*record.data()));
      records.push_back(record);
      slots.push_back(1000 + static_cast<std::uint64_t>(i) * 3);
    }
    const std::string payload = EncodeBlock(encoder, records, slots);
    std::string error;
    ASSERT_TRUE(decoder.Decode(table, reinterpret_cast<const unsigned char*>(payload.data()), payload.size(), 1000,
                               1000 + 3 * static_cast<std::uint64_t>(n), &error))
        << error;
    ExpectRecordsRebuilt(decoder, records);
  }
}

TEST(PackedDayPaths, NamesAndPaths) {
  EXPECT_EQ(PackedDayPath("/w", "20240311"), "/w/History/20240311.qth");
  EXPECT_EQ(PackedDayPath("", "20240311"), "History/20240311.qth");
  std::string day;
  EXPECT_TRUE(IsPackedDayFileName("20240311.qth", &day));
  EXPECT_EQ(day, "20240311");
  for (const char* name : {"2024031.qth", "20240311.qtj", "2024031a.qth", ".20240311.qth.1.tmp", "20240311.qth.tmp"}) {
    EXPECT_FALSE(IsPackedDayFileName(name)) << name;
  }
}

}  // namespace
