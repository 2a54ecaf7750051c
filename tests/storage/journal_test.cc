#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cfloat>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "storage/journal_format.h"
#include "storage/journal_reader.h"
#include "storage/journal_writer.h"
#include "queue/ring_queue_api_inter.h"
#include "storage/posix_file_env.h"
#include "storage/tick_writer_thread.h"
#include "tests/support/fake_clock.h"
#include "tests/support/log_watch.h"
#include "tests/support/tick_fixtures.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

using TimePoint = JournalWriter::TimePoint;

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

// A bond-futures tick with values the CSV files cannot hold: half ticks, sums above a million, the
// vendor's "not set" marker and a NaN with a payload.
TickRecord HostileValuesTick(int n) {
  TickRecord r = ExampleRb2405Record();
  std::snprintf(r.InstrumentID, sizeof(r.InstrumentID), "T2703");
  r.LastPrice = 92.005 + n * 0.005;
  r.Turnover = 4598765432.125 + n;
  r.OpenInterest = 1234567 + n;
  r.AskPrice1 = DBL_MAX;
  std::uint64_t nanBits = 0x7ff8000000000123ull;
  std::memcpy(&r.CurrDelta, &nanBits, sizeof(double));
  r.Volume = n;
  return r;
}

bool SameBytes(const TickRecord& a, const TickRecord& b) { return std::memcmp(&a, &b, sizeof(TickRecord)) == 0; }

// Every test works in a fresh directory, since the journal's path is relative.
class JournalTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/quoteloom-journal-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    previous_ = fs::current_path();
    fs::current_path(dir_);
  }
  void TearDown() override {
    fs::current_path(previous_);
    fs::remove_all(dir_);
  }

  std::vector<JournalEntry> ReadAll(const std::string& path, std::uint64_t* bad = nullptr) {
    std::vector<JournalEntry> entries;
    std::string error;
    EXPECT_TRUE(ReadWholeJournal(path, &entries, &error, bad)) << error;
    return entries;
  }

  fs::path dir_;
  fs::path previous_;
  TimePoint t0_ = TimePoint{} + 100s;
};

TEST_F(JournalTest, RecordsReadBackBitForBitWithSequenceAndWriteTime) {
  {
    JournalWriter writer(JournalSync::kEvery);
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(writer.Append("20240301", HostileValuesTick(i), 1000 + i, t0_));
    EXPECT_EQ(writer.recordsWritten(), 3u);
  }
  const std::string file = ReadFile("Journal/20240301.qtj");
  EXPECT_EQ(file.size(), JournalHeaderSize() + 3 * kJournalRecordSize);
  EXPECT_EQ(file.substr(0, 8), "QTJOURNL");
  EXPECT_EQ(file.substr(24, 8), "20240301");
  const std::vector<JournalEntry> entries = ReadAll("Journal/20240301.qtj");
  ASSERT_EQ(entries.size(), 3u);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(entries[i].sequence, static_cast<std::uint64_t>(i + 1));
    EXPECT_EQ(entries[i].writeTimeNs, 1000 + i);
    EXPECT_TRUE(SameBytes(entries[i].tick, HostileValuesTick(i))) << i;
  }
}

// A record whose checksum is right but whose text runs to the end of its field is no record the
// collector writes: refused, so no reader runs past the field.
TEST_F(JournalTest, ARecordWithAnUnterminatedTextIsRefusedDespiteItsChecksum) {
  JournalEntry entry;
  entry.tick = HostileValuesTick(0);
  unsigned char record[kJournalRecordSize];
  JournalEntry back;
  for (std::size_t field : {offsetof(TickRecord, InstrumentID), offsetof(TickRecord, UpdateTime),
                            offsetof(TickRecord, ActionDay), offsetof(TickRecord, TradingDay)}) {
    EncodeJournalRecord(entry, record);
    ASSERT_TRUE(DecodeJournalRecord(record, &back));
    TickRecord full = entry.tick;
    std::memset(reinterpret_cast<char*>(&full) + field, 'A', field == offsetof(TickRecord, InstrumentID) ? 31 : 9);
    EncodeJournalRecord({1, 0, full}, record);
    EXPECT_FALSE(DecodeJournalRecord(record, &back)) << field;
  }
}

TEST_F(JournalTest, ReopeningCutsATornLastRecordAndContinuesTheSequence) {
  {
    JournalWriter writer(JournalSync::kNone);
    for (int i = 0; i < 2; ++i) ASSERT_TRUE(writer.Append("20240301", HostileValuesTick(i), i, t0_));
  }
  // A crash in the middle of the third write leaves part of it.
  std::string file = ReadFile("Journal/20240301.qtj");
  WriteFile("Journal/20240301.qtj", file + std::string(144, '\x5a'));  // a third of a version 1 record
  EXPECT_EQ(ReadAll("Journal/20240301.qtj").size(), 2u);  // readers ignore the partial record

  LogWatch log;
  {
    JournalWriter writer(JournalSync::kNone);
    ASSERT_TRUE(writer.Append("20240301", HostileValuesTick(7), 7, t0_));
  }
  const std::vector<JournalEntry> entries = ReadAll("Journal/20240301.qtj");
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_EQ(entries[2].sequence, 3u);
  EXPECT_TRUE(SameBytes(entries[2].tick, HostileValuesTick(7)));
  EXPECT_EQ((fs::file_size("Journal/20240301.qtj") - JournalHeaderSize()) % kJournalRecordSize, 0u);
  const auto lines = log.NewLines(LogTab::NetworkLog);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find("144"), std::string::npos) << lines[0];
}

TEST_F(JournalTest, ATornHeaderIsWrittenAgainButAForeignFileIsNeverTouched) {
  fs::create_directory("Journal");
  WriteFile("Journal/20240301.qtj", JournalHeaderBytes("20240301").substr(0, 40));
  WriteFile("Journal/20240302.qtj", "somebody's notes\n");
  JournalWriter writer(JournalSync::kNone);
  EXPECT_TRUE(writer.Append("20240301", HostileValuesTick(0), 0, t0_));
  EXPECT_FALSE(writer.Append("20240302", HostileValuesTick(0), 0, t0_));
  writer.Close();
  EXPECT_EQ(ReadAll("Journal/20240301.qtj").size(), 1u);
  EXPECT_EQ(ReadFile("Journal/20240302.qtj"), "somebody's notes\n");
  EXPECT_EQ(writer.failures(), 1u);
}

// Everything a reader must refuse, with the words of its message.
TEST_F(JournalTest, EveryBadHeaderIsRefusedWithItsReason) {
  const std::string good = JournalHeaderBytes("20240301");
  auto withU32 = [&](std::size_t at, std::uint32_t v) {
    std::string h = good;
    std::memcpy(h.data() + at, &v, 4);
    return h;
  };
  std::string badField = good;
  badField[40] = 'X';
  struct Case {
    const char* name;
    std::string bytes;
    const char* reason;
  } cases[] = {
      {"bad magic", "QTJOURNX" + good.substr(8), "bad magic"},
      {"csv file", "20240301090507,rb2405,20240301\r\n", "bad magic"},
      {"newer version", withU32(8, kJournalVersion + 1), "newer"},
      {"version 0", withU32(8, 0), "version 0"},
      {"truncated fixed part", good.substr(0, 20), "truncated header"},
      {"truncated magic", good.substr(0, 5), "truncated header"},
      {"truncated field list", good.substr(0, 600), "truncated header"},
      {"empty file", "", "truncated header"},
      {"other record size", withU32(16, 416), "records of 416 bytes"},
      {"other header size", withU32(12, 2048), "header of 2048 bytes"},
      {"other field list", badField, "field list"},
  };
  for (const Case& c : cases) {
    WriteFile("bad.qtj", c.bytes);
    JournalReader reader;
    std::string error;
    EXPECT_FALSE(reader.Open("bad.qtj", &error)) << c.name;
    EXPECT_NE(error.find(c.reason), std::string::npos) << c.name << ": " << error;
    EXPECT_NE(error.find("bad.qtj"), std::string::npos) << c.name << ": " << error;
    // The writer refuses to append to it too, and leaves it as it was.
    fs::create_directories("Journal");
    WriteFile("Journal/20240303.qtj", c.bytes);
    JournalWriter writer(JournalSync::kNone);
    if (!c.bytes.empty() && c.bytes != good.substr(0, c.bytes.size())) {
      EXPECT_FALSE(writer.Append("20240303", HostileValuesTick(0), 0, t0_)) << c.name;
      EXPECT_EQ(ReadFile("Journal/20240303.qtj"), c.bytes) << c.name;
    }
  }
}

TEST_F(JournalTest, AReaderFollowsAGrowingFileAndSkipsDamagedRecords) {
  JournalWriter writer(JournalSync::kNone);
  ASSERT_TRUE(writer.Append("20240301", HostileValuesTick(0), 0, t0_));
  JournalReader reader;
  std::string error;
  ASSERT_TRUE(reader.Open("Journal/20240301.qtj", &error)) << error;
  JournalEntry e;
  EXPECT_EQ(reader.Next(&e, &error), JournalReader::Result::kRecord);
  EXPECT_EQ(reader.Next(&e, &error), JournalReader::Result::kEnd);
  ASSERT_TRUE(writer.Append("20240301", HostileValuesTick(1), 1, t0_));
  ASSERT_TRUE(writer.Append("20240301", HostileValuesTick(2), 2, t0_));
  writer.Close();
  // Flip a byte of the second record: its checksum no longer matches.
  {
    const int fd = ::open("Journal/20240301.qtj", O_RDWR);
    const char x = 'x';
    ASSERT_EQ(::pwrite(fd, &x, 1, JournalHeaderSize() + kJournalRecordSize + 100), 1);
    ::close(fd);
  }
  EXPECT_EQ(reader.Next(&e, &error), JournalReader::Result::kRecord);
  EXPECT_EQ(e.sequence, 3u);
  EXPECT_EQ(reader.badRecords(), 1u);
  EXPECT_EQ(reader.Next(&e, &error), JournalReader::Result::kEnd);
  EXPECT_EQ(reader.offset(), JournalHeaderSize() + 3 * kJournalRecordSize);
  EXPECT_FALSE(reader.Seek(reader.offset() - 1));
  ASSERT_TRUE(reader.Seek(JournalHeaderSize()));
  EXPECT_EQ(reader.Next(&e, &error), JournalReader::Result::kRecord);
  EXPECT_EQ(e.sequence, 1u);
}

// Reading ahead on a thread returns what the plain reader returns: every record in order over many
// blocks, damaged ones skipped and counted, the partial last record left, growth after the end read,
// and a reader dropped halfway stops its thread.
TEST_F(JournalTest, ReadingAheadReturnsWhatThePlainReaderReturns) {
  constexpr int kRecords = 2600;  // five blocks and a part
  {
    JournalWriter writer(JournalSync::kNone);
    for (int i = 0; i < kRecords; ++i) ASSERT_TRUE(writer.Append("20240301", HostileValuesTick(i), i, t0_));
  }
  const std::string path = "Journal/20240301.qtj";
  {
    const int fd = ::open(path.c_str(), O_RDWR);
    for (int damaged : {0, 511, 512, 1700}) {
      const char x = 'x';
      ASSERT_EQ(::pwrite(fd, &x, 1, JournalHeaderSize() + damaged * kJournalRecordSize + 200), 1);
    }
    ASSERT_EQ(::pwrite(fd, "torn", 4, JournalHeaderSize() + kRecords * kJournalRecordSize), 4);
    ::close(fd);
  }
  const auto readAll = [&path](bool ahead, std::uint64_t* bad, std::uint64_t* partial) {
    JournalReader reader;
    std::string error;
    EXPECT_TRUE(reader.Open(path, &error)) << error;
    if (ahead) reader.ReadAhead();
    std::vector<std::uint64_t> sequences;
    JournalEntry e;
    JournalReader::Result r;
    while ((r = reader.Next(&e, &error)) == JournalReader::Result::kRecord) {
      EXPECT_TRUE(SameBytes(e.tick, HostileValuesTick(static_cast<int>(e.sequence) - 1))) << e.sequence;
      sequences.push_back(e.sequence);
    }
    EXPECT_EQ(r, JournalReader::Result::kEnd) << error;
    *bad = reader.badRecords();
    *partial = reader.partialBytes();
    return sequences;
  };
  std::uint64_t bad = 0, partial = 0, aheadBad = 0, aheadPartial = 0;
  const std::vector<std::uint64_t> plain = readAll(false, &bad, &partial);
  EXPECT_EQ(readAll(true, &aheadBad, &aheadPartial), plain);
  EXPECT_EQ(plain.size(), kRecords - 4u);
  EXPECT_EQ(plain.front(), 2u);
  EXPECT_EQ(plain[510], 514u);
  EXPECT_EQ(aheadBad, 4u);
  EXPECT_EQ(aheadPartial, 4u);

  // Past the end it reads on as the plain reader does.
  JournalReader reader;
  std::string error;
  ASSERT_TRUE(reader.Open(path, &error)) << error;
  reader.ReadAhead();
  JournalEntry e;
  while (reader.Next(&e, &error) == JournalReader::Result::kRecord) {
  }
  {
    const int fd = ::open(path.c_str(), O_RDWR);
    ASSERT_EQ(::ftruncate(fd, static_cast<off_t>(JournalHeaderSize() + kRecords * kJournalRecordSize)), 0);
    ::close(fd);
    JournalWriter writer(JournalSync::kNone);
    ASSERT_TRUE(writer.Append("20240301", HostileValuesTick(kRecords), kRecords, t0_));
  }
  ASSERT_EQ(reader.Next(&e, &error), JournalReader::Result::kRecord);
  EXPECT_EQ(e.sequence, kRecords + 1u);

  // Dropped after a few records: the destructor stops the thread that is still reading ahead.
  JournalReader early;
  ASSERT_TRUE(early.Open(path, &error)) << error;
  early.ReadAhead();
  ASSERT_EQ(early.Next(&e, &error), JournalReader::Result::kRecord);
}

// What stands in place of the journal costs only journal records: counted, one log line per burst,
// and the writer recovers once the place is usable again.
TEST_F(JournalTest, FailuresAreCountedAndLoggedOncePerBurst) {
  struct Case {
    const char* name;
    void (*plant)();
  } cases[] = {
      {"fifo", [] { ASSERT_EQ(::mkfifo("Journal/20240301.qtj", 0644), 0); }},
      {"directory", [] { fs::create_directory("Journal/20240301.qtj"); }},
      {"symlink", [] { fs::create_symlink("/etc/passwd", "Journal/20240301.qtj"); }},
  };
  for (const Case& c : cases) {
    fs::remove_all("Journal");
    fs::create_directory("Journal");
    c.plant();
    LogWatch log;
    JournalWriter writer(JournalSync::kSecond);
    for (int i = 0; i < 50; ++i) EXPECT_FALSE(writer.Append("20240301", HostileValuesTick(i), i, t0_ + i * 1ms));
    EXPECT_EQ(writer.failures(), 50u) << c.name;
    EXPECT_EQ(log.NewLines(LogTab::NetworkLog).size(), 1u) << c.name;
    fs::remove_all("Journal/20240301.qtj");
    EXPECT_TRUE(writer.Append("20240301", HostileValuesTick(0), 0, t0_ + 6s)) << c.name;
    EXPECT_EQ(log.NewLines(LogTab::NetworkLog).size(), 2u) << c.name;  // the burst's end with its count
  }
}

// A full disk that takes part of a record: the part is cut off, so the file keeps whole records.
TEST_F(JournalTest, APartialWriteIsCutOff) {
  JournalWriter writer(JournalSync::kNone);
  ASSERT_TRUE(writer.Append("20240301", HostileValuesTick(0), 0, t0_));
  static int calls;
  calls = 0;
  writer.SetWriteForTesting([](int fd, const void* data, std::size_t size) -> ssize_t {
    if (++calls == 1) return ::write(fd, data, size / 2);
    errno = ENOSPC;
    return -1;
  });
  EXPECT_FALSE(writer.Append("20240301", HostileValuesTick(1), 1, t0_));
  writer.SetWriteForTesting([](int fd, const void* data, std::size_t size) { return ::write(fd, data, size); });
  EXPECT_TRUE(writer.Append("20240301", HostileValuesTick(2), 2, t0_));
  writer.Close();
  const std::vector<JournalEntry> entries = ReadAll("Journal/20240301.qtj");
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[1].sequence, 2u);
  EXPECT_TRUE(SameBytes(entries[1].tick, HostileValuesTick(2)));
  EXPECT_EQ(writer.failures(), 1u);
}

TEST_F(JournalTest, EachTradingDayHasItsOwnFile) {
  JournalWriter writer(JournalSync::kSecond);
  ASSERT_TRUE(writer.Append("20240301", HostileValuesTick(0), 0, t0_));
  ASSERT_TRUE(writer.Append("20240304", HostileValuesTick(1), 1, t0_));
  ASSERT_TRUE(writer.Append("20240301", HostileValuesTick(2), 2, t0_));  // a late tick of the earlier day
  writer.Close();
  const std::vector<JournalEntry> first = ReadAll("Journal/20240301.qtj");
  ASSERT_EQ(first.size(), 2u);
  EXPECT_EQ(first[1].sequence, 2u);
  EXPECT_EQ(ReadAll("Journal/20240304.qtj").size(), 1u);
  EXPECT_FALSE(writer.Append("../x", HostileValuesTick(0), 0, t0_));
}

// The writer thread keeps the journal beside the CSV files; a journal that cannot be written costs
// neither a CSV line nor a count of the CSV side.
TEST_F(JournalTest, TheTickWriterJournalsEveryStoredTickAndSurvivesAJournalFailure) {
  for (const bool broken : {false, true}) {
    fs::remove_all(dir_ / "Journal");
    fs::remove_all(dir_ / "DataTimeStream");
    fs::remove_all(dir_ / "Data");
    if (broken) WriteFile("Journal", "a file where the folder should be");
    std::unique_ptr<CTRingQueueApi_inter> queue(
        static_cast<CTRingQueueApi_inter*>(CTRingQueueApi::CreateFtdcCTRingQueueApi()));
    queue->InitQueue(64);
    FakeClock clock;
    clock.Set(FakeClock::At(2024, 3, 1, 6, 9, 5, 7));
    PosixFileEnv env;
    std::mutex fileLock;
    JournalWriter journal(JournalSync::kSecond);
    TickWriterThread writer(*queue, clock, env, nullptr, fileLock, &journal);
    for (int i = 0; i < 20; ++i) {
      TickRecord r = HostileValuesTick(i);
      queue->Push(&r);
    }
    writer.Start();
    writer.StopWhenDrained();
    const TickWriterThread::Counters c = writer.counters();
    EXPECT_EQ(c.ticksWritten, 20u) << broken;
    EXPECT_EQ(c.linesLost + c.fallbackLines, 0u) << broken;
    EXPECT_EQ(c.journalRecords, broken ? 0u : 20u);
    EXPECT_EQ(c.journalFailures, broken ? 20u : 0u);
    if (!broken) {
      const std::vector<JournalEntry> entries = ReadAll("Journal/20240301.qtj");
      ASSERT_EQ(entries.size(), 20u);
      for (int i = 0; i < 20; ++i) EXPECT_TRUE(SameBytes(entries[i].tick, HostileValuesTick(i))) << i;
    }
  }
}

// A journal of version 1 (a collector from before arrival times) and one of version 2 are read by the
// same reader, plainly and ahead; the writer goes on with version 1 records in a version 1 journal.
TEST_F(JournalTest, VersionOneAndTwoJournalsAreReadByTheSameReader) {
  fs::create_directory("Journal");
  std::string old = JournalHeaderBytes("20240301", 1);
  for (int i = 0; i < 3; ++i) {
    unsigned char record[kJournalRecordSizeV1];
    EncodeJournalRecord(JournalEntry{static_cast<std::uint64_t>(i + 1), 1000 + i, HostileValuesTick(i), 7}, 1, record);
    old.append(reinterpret_cast<const char*>(record), sizeof record);
  }
  old[JournalHeaderSize(1) + kJournalRecordSizeV1 + 100] ^= 0x10;  // record 2 damaged
  WriteFile("Journal/20240301.qtj", old + "torn");
  {
    JournalWriter writer(JournalSync::kNone);
    ASSERT_TRUE(writer.Append("20240301", HostileValuesTick(3), 1003, t0_, 5003));
    ASSERT_TRUE(writer.Append("20240302", HostileValuesTick(4), 1004, t0_, 5004));
    ASSERT_TRUE(writer.Append("20240302", HostileValuesTick(5), 1005, t0_));
  }
  EXPECT_EQ(fs::file_size("Journal/20240301.qtj"), JournalHeaderSize(1) + 4 * kJournalRecordSizeV1);
  EXPECT_EQ(fs::file_size("Journal/20240302.qtj"), JournalHeaderSize(2) + 2 * kJournalRecordSize);
  struct Expected {
    const char* path;
    std::uint32_t version;
    std::vector<int> ticks;
    std::vector<std::int64_t> arrivals;  // as read: 0 where none was recorded
  };
  const Expected files[] = {
      {"Journal/20240301.qtj", 1, {0, 2, 3}, {0, 0, 0}},
      {"Journal/20240302.qtj", 2, {4, 5}, {5004, 0}},
  };
  for (const bool ahead : {false, true}) {
    for (const Expected& f : files) {
      JournalReader reader;
      std::string error;
      ASSERT_TRUE(reader.Open(f.path, &error)) << error;
      EXPECT_EQ(reader.version(), f.version);
      if (ahead) reader.ReadAhead();
      std::vector<JournalEntry> got;
      JournalEntry e;
      while (reader.Next(&e, &error) == JournalReader::Result::kRecord) got.push_back(e);
      ASSERT_EQ(got.size(), f.ticks.size()) << f.path << " " << error;
      EXPECT_EQ(reader.badRecords(), f.version == 1 ? 1u : 0u);
      for (std::size_t i = 0; i < got.size(); ++i) {
        EXPECT_TRUE(SameBytes(got[i].tick, HostileValuesTick(f.ticks[i]))) << f.path << " " << i;
        EXPECT_EQ(got[i].writeTimeNs, 1000 + f.ticks[i]);
        EXPECT_EQ(got[i].arrivalTimeNs, f.arrivals[i]);
        EXPECT_EQ(ArrivalOrWriteTimeNs(got[i]), f.arrivals[i] != 0 ? f.arrivals[i] : got[i].writeTimeNs);
      }
    }
  }
}

// The intake stamps the arrival on the record; a writer six minutes behind journals that arrival, not
// its own clock.
TEST_F(JournalTest, TheTickWriterJournalsTheArrivalStampedOnTheRecord) {
  std::unique_ptr<CTRingQueueApi_inter> queue(static_cast<CTRingQueueApi_inter*>(CTRingQueueApi::CreateFtdcCTRingQueueApi()));
  queue->InitQueue(64);
  constexpr long long kArrival = 1709254800123000000LL;  // 2024-03-01 09:00:00.123 China time
  constexpr long long kSixMinutes = 360LL * 1000000000LL;
  FakeClock clock;
  ClockReading later = FakeClock::At(2024, 3, 1, 6, 9, 6, 0);
  later.unixNanoseconds = kArrival + kSixMinutes + 456789;
  clock.Set(later);
  PosixFileEnv env;
  std::mutex fileLock;
  JournalWriter journal(JournalSync::kNone);
  TickWriterThread writer(*queue, clock, env, nullptr, fileLock, &journal);
  for (int i = 0; i < 3; ++i) {
    TickRecord r = HostileValuesTick(i);
    if (i != 2) SetTickArrival(&r, kArrival + i * 1000000);
    queue->Push(&r);
  }
  writer.Start();
  writer.StopWhenDrained();
  const std::vector<JournalEntry> entries = ReadAll("Journal/20240301.qtj");
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_EQ(entries[0].arrivalTimeNs, kArrival);
  EXPECT_EQ(entries[1].arrivalTimeNs, kArrival + 1000000);
  EXPECT_EQ(entries[2].arrivalTimeNs, 0) << "not stamped: not known";
  for (const JournalEntry& e : entries) EXPECT_EQ(e.writeTimeNs, later.unixNanoseconds);
}

std::uint64_t Bits(double v) {
  std::uint64_t b;
  std::memcpy(&b, &v, sizeof b);
  return b;
}

// The Python reader of docs/tick-files.md, run as it is printed there, reads a real journal and gives
// the same values, bit for bit, and ignores a partial last record.
TEST_F(JournalTest, ThePythonReaderOfTheDocsReadsARealJournal) {
  {
    JournalWriter writer(JournalSync::kNone);
    for (int i = 0; i < 4; ++i) ASSERT_TRUE(writer.Append("20240301", HostileValuesTick(i), 1700000000123456789 + i, t0_));
  }
  WriteFile("Journal/20240301.qtj", ReadFile("Journal/20240301.qtj") + std::string(100, '\1'));
  const std::string doc = ReadFile(fs::path(QUOTELOOM_SOURCE_DIR) / "docs" / "tick-files.md");
  const std::size_t begin = doc.find("```python\n");
  ASSERT_NE(begin, std::string::npos);
  const std::size_t end = doc.find("```", begin + 10);
  WriteFile("reader.py",
            doc.substr(begin + 10, end - begin - 10) +
                "import sys\n"
                "bits = lambda v: struct.unpack('<Q', struct.pack('<d', v))[0]\n"
                "for t in read_journal(sys.argv[1]):\n"
                "    print(t['Sequence'], t['WriteTimeNs'], t['InstrumentID'], t['UpdateTime'], t['Volume'],\n"
                "          *[bits(t[k]) for k in ('LastPrice', 'Turnover', 'OpenInterest', 'AskPrice1', 'BidPrice5')])\n");
  FILE* p = ::popen("python3 reader.py Journal/20240301.qtj 2>&1", "r");
  ASSERT_NE(p, nullptr);
  std::string out;
  char buffer[4096];
  while (std::fgets(buffer, sizeof buffer, p) != nullptr) out += buffer;
  ASSERT_EQ(::pclose(p), 0) << out;
  std::string expected;
  for (int i = 0; i < 4; ++i) {
    const TickRecord t = HostileValuesTick(i);
    expected += std::to_string(i + 1) + " " + std::to_string(1700000000123456789 + i) + " T2703 09:05:07 " +
                std::to_string(i) + " " + std::to_string(Bits(t.LastPrice)) + " " + std::to_string(Bits(t.Turnover)) +
                " " + std::to_string(Bits(t.OpenInterest)) + " " + std::to_string(Bits(t.AskPrice1)) + " " +
                std::to_string(Bits(t.BidPrice5)) + "\n";
  }
  EXPECT_EQ(out, expected);
}

}  // namespace
