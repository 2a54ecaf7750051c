// The publisher's follower over real journals: whole records only, days in order and back to a day
// that grows again, a journal replaced, shortened or rewritten under it, damaged records and foreign
// files skipped and counted; and its state file.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "cluster/publish_state.h"
#include "cluster/state_saver.h"
#include "cluster/journal_follower.h"
#include "tests/cluster/cluster_test_files.h"

namespace fs = std::filesystem;

namespace {

// True once the saver reports a failed write (bounded wait).
bool WaitUntilError(StateSaver& saver) {
  for (int i = 0; i < 200; ++i) {
    if (!saver.TakeError().empty()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

std::string RecordBytes(const JournalEntry& e) {
  unsigned char record[kJournalRecordSize];
  EncodeJournalRecord(e, record);
  return std::string(reinterpret_cast<const char*>(record), sizeof(record));
}

class FollowerTest : public ::testing::Test {
 protected:
  fs::path Day(const std::string& day) const { return folder_.path() / "Journal" / (day + ".qtj"); }
  // Ticks with volumes first..last-1 written on `day` (before 18:00, so filed under it).
  void Write(const std::string& day, int first, int last) {
    std::vector<JournalEntry> ticks;
    for (int n = first; n < last; ++n) ticks.push_back(TestTick("rb2405", n, day + "100000"));
    AppendTicks(folder_.path(), ticks);
  }
  // The volumes of every record handed out until nothing is new (bounded rounds).
  std::vector<int> Drain(std::size_t maxRecords = 1000) {
    std::vector<int> out;
    for (int round = 0; round < 1000; ++round) {
      JournalFollower::Batch batch;
      if (!follower_.Next(maxRecords, &batch)) break;
      for (const auto& e : batch.entries) out.push_back(e.tick.Volume);
      EXPECT_EQ(batch.end, follower_.position());
    }
    return out;
  }
  static std::vector<int> Range(int first, int last) {
    std::vector<int> v;
    for (int n = first; n < last; ++n) v.push_back(n);
    return v;
  }

  TempFolder folder_;
  JournalFollower follower_{folder_.path().string()};
};

TEST_F(FollowerTest, HandsOutOnlyWholeRecordsInBatchesAndThePartialOneOnceItIsComplete) {
  Write("20240301", 0, 5);
  const std::string next = RecordBytes({6, TestTick("rb2405", 5).writeTimeNs, TestTick("rb2405", 5).tick});
  AppendText(Day("20240301"), next.substr(0, 100));
  follower_.Start({}, "");
  EXPECT_EQ(Drain(2), Range(0, 5));
  EXPECT_EQ(follower_.position().offset, JournalHeaderSize() + 5 * kJournalRecordSize);
  EXPECT_EQ(follower_.position().sequence, 5u);
  AppendText(Day("20240301"), next.substr(100));
  EXPECT_EQ(Drain(), Range(5, 6));
  EXPECT_EQ(follower_.counters().damagedRecords, 0u);
}

// A named pipe, a link or a file that is no journal of this format where a day's journal should be
// is never read (a pipe without a writer would hold the open for ever), counted once, and passed by.
TEST_F(FollowerTest, APipeALinkOrAForeignFileInPlaceOfADayIsRefusedWithoutWaiting) {
  fs::create_directories(folder_.path() / "Journal");
  ASSERT_EQ(::mkfifo(Day("20240301").c_str(), 0644), 0);
  Write("20240229", 0, 2);
  fs::create_symlink(Day("20240229"), Day("20240304"));
  std::string newer = JournalHeaderBytes("20240305");
  newer[8] = kJournalVersion + 1;  // a later format version
  AppendText(Day("20240305"), newer + std::string(kJournalRecordSize, 'x'));
  AppendText(Day("20240306"), std::string(JournalHeaderSize() + kJournalRecordSize, 'x'));
  Write("20240307", 10, 12);
  follower_.Start({}, "20240301");
  EXPECT_EQ(Drain(), Range(10, 12));
  EXPECT_EQ(follower_.counters().filesRefused, 4u);
  EXPECT_EQ(follower_.position().day, "20240307");
  EXPECT_TRUE(Drain().empty());  // refused days are not come back to
  // Nor are they backlog: only the followed day's records count.
  EXPECT_EQ(follower_.BytesAfter(JournalPosition{"20240301"}), fs::file_size(Day("20240307")) - JournalHeaderSize());
}

// A later day's journal appears (a clock step), then the collector writes to the earlier day again:
// those records are handed out too, the later day goes on where it was, and until they are read the
// backlog counts them.
TEST_F(FollowerTest, AnEarlierDayThatGrowsAfterALaterOneAppearedIsFollowedStill) {
  Write("20240301", 0, 3);
  Write("20240304", 100, 102);
  follower_.Start({}, "20240301");
  EXPECT_EQ(Drain(), (std::vector<int>{0, 1, 2, 100, 101}));
  Write("20240301", 3, 5);
  AppendText(Day("20240301"), std::string(10, 'x'));  // and a torn record, which is no growth
  EXPECT_EQ(follower_.FinishedDaysBacklog(), 2 * kJournalRecordSize);
  Write("20240304", 102, 103);
  const std::vector<int> got = Drain();
  EXPECT_EQ(got, (std::vector<int>{3, 4, 102})) << got.size();
  EXPECT_EQ(follower_.FinishedDaysBacklog(), 0u);
  EXPECT_EQ(follower_.counters().daysResumed, 1u);
}

TEST_F(FollowerTest, WithoutStateStartsAtTheNewestDayAndFromDayAtThatDay) {
  Write("20240229", 0, 2);
  Write("20240301", 2, 4);
  follower_.Start({}, "");
  EXPECT_EQ(Drain(), Range(2, 4));
  JournalFollower again(folder_.path().string());
  again.Start({}, "20240101");
  JournalFollower::Batch batch;
  std::vector<int> got;
  while (again.Next(100, &batch)) {
    for (const auto& e : batch.entries) got.push_back(e.tick.Volume);
  }
  EXPECT_EQ(got, Range(0, 4));
}

TEST_F(FollowerTest, AJournalReplacedShortenedOrRewrittenUnderItIsReadAgainFromItsStart) {
  Write("20240301", 0, 3);
  follower_.Start({}, "");
  EXPECT_EQ(Drain(), Range(0, 3));
  // Replaced by a new file (another inode).
  fs::rename(Day("20240301"), folder_.path() / "old.qtj");
  Write("20240301", 10, 12);
  EXPECT_EQ(Drain(), Range(10, 12));
  EXPECT_EQ(follower_.counters().filesReplaced, 1u);
  // Shortened in place.
  ASSERT_EQ(::truncate(Day("20240301").c_str(), static_cast<off_t>(JournalHeaderSize() + kJournalRecordSize)), 0);
  EXPECT_EQ(Drain(), Range(10, 11));
  // Rewritten in place to the same length: the record before the position is another one now.
  Write("20240301", 20, 21);
  const std::string text = ReadText(Day("20240301"));
  std::string rewritten = text.substr(0, JournalHeaderSize()) + RecordBytes({7, 1, TestTick("rb2405", 30).tick}) +
                          RecordBytes({8, 1, TestTick("rb2405", 31).tick});
  {
    std::ofstream out(Day("20240301"), std::ios::binary | std::ios::in);
    out.write(rewritten.data(), static_cast<std::streamsize>(rewritten.size()));
  }
  EXPECT_EQ(Drain(), (std::vector<int>{30, 31}));
  EXPECT_EQ(follower_.counters().filesTruncated, 2u);
}

TEST_F(FollowerTest, DamagedRecordsAreSkippedAndCountedAndRewindGoesBack) {
  Write("20240301", 0, 4);
  std::string text = ReadText(Day("20240301"));
  text[JournalHeaderSize() + kJournalRecordSize + 40] ^= 0x01;  // record 1's contract code
  std::ofstream(Day("20240301"), std::ios::binary | std::ios::trunc) << text;
  follower_.Start({}, "");
  JournalFollower::Batch first;
  ASSERT_TRUE(follower_.Next(1, &first));
  EXPECT_EQ(Drain(), (std::vector<int>{2, 3}));
  EXPECT_EQ(follower_.counters().damagedRecords, 1u);
  follower_.Rewind(first.end);
  EXPECT_EQ(Drain(), (std::vector<int>{2, 3}));
}

// A day journaled by an older collector (version 1) is followed like a new one; its records are handed
// on in the layout written now, with no arrival time, and a damaged one is skipped and counted.
TEST_F(FollowerTest, AVersionOneJournalIsFollowedAndHandedOnInTheCurrentLayout) {
  fs::create_directories(folder_.path() / "Journal");
  std::string old = JournalHeaderBytes("20240301", 1);
  for (int n = 0; n < 4; ++n) {
    unsigned char record[kJournalRecordSizeV1];
    JournalEntry e = TestTick("rb2405", n, "20240301100000");
    e.sequence = static_cast<std::uint64_t>(n + 1);
    EncodeJournalRecord(e, 1, record);
    old.append(reinterpret_cast<const char*>(record), sizeof record);
  }
  old[JournalHeaderSize(1) + 2 * kJournalRecordSizeV1 + 40] ^= 0x01;  // record 3's contract code
  AppendText(Day("20240301"), old + "torn");
  Write("20240304", 10, 12);
  follower_.Start({}, "20240301");
  std::vector<JournalEntry> got;
  for (int round = 0; round < 100; ++round) {
    JournalFollower::Batch batch;
    if (!follower_.Next(2, &batch)) break;
    for (std::size_t i = 0; i < batch.entries.size(); ++i) {
      JournalEntry decoded;
      ASSERT_TRUE(DecodeJournalRecord(batch.records[i], &decoded));
      EXPECT_EQ(decoded.sequence, batch.entries[i].sequence);
      EXPECT_EQ(decoded.tick.Volume, batch.entries[i].tick.Volume);
      got.push_back(decoded);
    }
  }
  std::vector<int> volumes;
  for (const JournalEntry& e : got) volumes.push_back(e.tick.Volume);
  EXPECT_EQ(volumes, (std::vector<int>{0, 1, 3, 10, 11}));
  EXPECT_EQ(got[0].arrivalTimeNs, 0);
  EXPECT_EQ(follower_.counters().damagedRecords, 1u);
  EXPECT_EQ(follower_.counters().filesRefused, 0u);
  EXPECT_EQ(follower_.position().day, "20240304");
}

TEST(PublishStateTest, SavesAndLoadsAPositionAndRefusesAForeignFileOrAPipe) {
  TempFolder folder;
  const std::string path = (folder.path() / "state").string();
  PublishState state(path);
  JournalPosition p;
  std::string error, note;
  ASSERT_TRUE(state.Load(&p, &error));
  EXPECT_TRUE(p.day.empty());
  const JournalPosition saved{"20240301", JournalHeaderSize() + 3 * kJournalRecordSize, 2049, 131, 3};
  ASSERT_TRUE(state.Save(saved, &error)) << error;
  ASSERT_TRUE(state.Load(&p, &error, &note)) << error;
  EXPECT_EQ(p, saved);
  EXPECT_TRUE(note.empty());
  EXPECT_FALSE(fs::exists(path + ".tmp"));
  // A state of the time-stream publisher: its day again from the start, said in a note.
  std::ofstream(path, std::ios::trunc) << R"({"day":"20240301","offset":5000,"device":1,"inode":2,"tail":""})";
  ASSERT_TRUE(state.Load(&p, &error, &note)) << error;
  EXPECT_EQ(p, (JournalPosition{"20240301"}));
  EXPECT_NE(note.find("again from its start"), std::string::npos) << note;
  for (const char* text : {"not json", "{\"day\":\"2024\",\"offset\":1}", "{\"offset\":1}", "[]",
                           "{\"file\":\"journal\",\"day\":\"20240301\",\"offset\":1000}",
                           "{\"file\":\"journal\",\"day\":\"20261399\",\"offset\":0}"}) {
    std::ofstream(path, std::ios::trunc) << text;
    EXPECT_FALSE(state.Load(&p, &error)) << text;
    EXPECT_NE(error.find(path), std::string::npos);
  }
  EXPECT_FALSE(PublishState((folder.path() / "missing" / "state").string()).Save(saved, &error));
  const fs::path pipe = folder.path() / "pipe";
  ASSERT_EQ(::mkfifo(pipe.c_str(), 0644), 0);
  EXPECT_FALSE(PublishState(pipe.string()).Load(&p, &error));
  EXPECT_NE(error.find("not a regular file"), std::string::npos) << error;
}

TEST(StateSaverTest, TheFileEndsWithTheLastPositionPosted) {
  TempFolder folder;
  PublishState state((folder.path() / "state").string());
  const std::uint64_t header = JournalHeaderSize();
  {
    StateSaver saver(state);
    for (std::uint64_t n = 1; n <= 500; ++n) saver.Post({"20240301", header + n * kJournalRecordSize, 1, 2, n});
  }
  JournalPosition p;
  std::string error;
  ASSERT_TRUE(state.Load(&p, &error)) << error;
  EXPECT_EQ(p.sequence, 500u);

  PublishState unwritable((folder.path() / "missing" / "state").string());
  StateSaver saver(unwritable);
  saver.Post({"20240301", header, 1, 2, 0});
  EXPECT_TRUE(WaitUntilError(saver));
}

}  // namespace
