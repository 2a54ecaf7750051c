// The archive's files: the collector's tree and formats from exact records, one copy of each tick
// across restarts and neighbouring days, and the repair of what a crash between the appends leaves.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <limits>
#include <cerrno>
#include <cstring>
#include <string>

#include "cluster/archive_writer.h"
#include "storage/journal_reader.h"
#include "tests/cluster/cluster_test_files.h"

namespace fs = std::filesystem;

namespace {

class ArchiveWriterTest : public ::testing::Test {
 protected:
  static ArchiveWriter::Result Store(ArchiveWriter& writer, const JournalEntry& entry) {
    std::string error;
    return writer.Store(entry, &error);
  }
  fs::path TimeStream(const std::string& day) const { return folder_.path() / "DataTimeStream" / (day + ".csv"); }
  fs::path Contract(const std::string& day, const std::string& c) const {
    return folder_.path() / "Data" / day / (c + ".csv");
  }
  // Volumes of the records in the folder's journal of `day`.
  std::vector<int> JournalVolumes(const std::string& day) const {
    std::vector<JournalEntry> entries;
    std::string error;
    EXPECT_TRUE(ReadWholeJournal((folder_.path() / "Journal" / (day + ".qtj")).string(), &entries, &error)) << error;
    std::vector<int> out;
    for (const JournalEntry& e : entries) out.push_back(e.tick.Volume);
    return out;
  }

  TempFolder folder_;
};

TEST_F(ArchiveWriterTest, WritesTheCollectorsLinesAndRecordOfTheStampsTradingDayAndSkipsASecondCopy) {
  ArchiveWriter writer(folder_.path().string());
  const JournalEntry evening = TestTick("rb2405", 1, "20240301210000");  // Friday night: Monday's file
  const JournalEntry other = TestTick("rb2405", 1, "20240301210003");    // the same tick from another collector
  EXPECT_EQ(Store(writer, evening), ArchiveWriter::Result::kWritten);
  EXPECT_EQ(Store(writer, other), ArchiveWriter::Result::kDuplicate);
  const std::string general = ReadText(TimeStream("20240304"));
  const std::string fixed = ReadText(Contract("20240304", "rb2405"));
  EXPECT_EQ(general, TestTickLine("rb2405", 1, "20240301210000"));
  EXPECT_EQ(fixed, TestFixedLine("rb2405", 1, "20240301210000"));
  // The per-contract line keeps what six digits cannot: made from the record, not the time-stream line.
  EXPECT_NE(general.find("4.59877e+09"), std::string::npos) << general;
  EXPECT_NE(fixed.find("4598765433.50,"), std::string::npos) << fixed;
  EXPECT_NE(fixed.find(",1654321.00,"), std::string::npos) << fixed;
  std::vector<JournalEntry> records;
  std::string error;
  ASSERT_TRUE(ReadWholeJournal((folder_.path() / "Journal" / "20240304.qtj").string(), &records, &error)) << error;
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(std::memcmp(&records[0].tick, &evening.tick, sizeof(TickRecord)), 0);
  EXPECT_EQ(records[0].writeTimeNs, evening.writeTimeNs);
  EXPECT_EQ(writer.counters().ticksWritten, 1u);
  EXPECT_EQ(writer.counters().duplicates, 1u);
}

// Codes the collector refuses are refused here too: the same rule, so the archive makes no file a
// collector would not have made.
TEST_F(ArchiveWriterTest, CodesTheCollectorRefusesAreRefused) {
  ArchiveWriter writer(folder_.path().string());
  for (const char* code : {"a\\b", "...", "\xff\xfe", "rb2405.csv", "../x", "..", "a/b", "a,b", " ", "  "}) {
    std::string error;
    EXPECT_EQ(writer.Store(TestTick(code, 1), &error), ArchiveWriter::Result::kRefused) << code;
  }
  // Write times whose day no tool reads back: the smallest a record can hold (day 16770921) and 1890.
  for (const std::int64_t at : {std::numeric_limits<std::int64_t>::min(), std::int64_t{-2500000000} * 1000000000}) {
    JournalEntry entry = TestTick("rb2405", 2);
    entry.writeTimeNs = at;
    std::string error;
    EXPECT_EQ(writer.Store(entry, &error), ArchiveWriter::Result::kRefused) << at;
  }
  EXPECT_EQ(writer.counters().refused, 12u);
  EXPECT_FALSE(fs::exists(folder_.path() / "DataTimeStream"));
  EXPECT_FALSE(fs::exists(folder_.path() / "Data" / "20240301"));
  EXPECT_FALSE(fs::exists(folder_.path() / "Journal" / "20240301.qtj"));
  EXPECT_FALSE(fs::exists(folder_.path() / "x.csv"));
}

// A link where the archive's time-stream file should be: its crash repair must not cut the file the
// link points to, nor append to it; a pipe in a file's place must not hold the archive.
TEST_F(ArchiveWriterTest, ALinkOrAPipeInItsFolderIsNeverFollowedNorWaitedOn) {
  const fs::path outside = folder_.path() / "outside.txt";
  const std::string precious = "precious data without a line end";
  AppendText(outside, precious);
  fs::create_directories(folder_.path() / "archive" / "DataTimeStream");
  fs::create_symlink(outside, folder_.path() / "archive" / "DataTimeStream" / "20240301.csv");
  fs::create_directories(folder_.path() / "archive" / "Data" / "20240304");
  ASSERT_EQ(::mkfifo((folder_.path() / "archive" / "DataTimeStream" / "20240304.csv").c_str(), 0644), 0);
  fs::create_directories(folder_.path() / "archive" / "Journal");
  ASSERT_EQ(::mkfifo((folder_.path() / "archive" / "Journal" / "20240305.qtj").c_str(), 0644), 0);
  ArchiveWriter writer((folder_.path() / "archive").string());
  EXPECT_EQ(Store(writer, TestTick("rb2405", 1, "20240301100000")), ArchiveWriter::Result::kFailed);
  EXPECT_EQ(ReadText(outside), precious);
  EXPECT_EQ(Store(writer, TestTick("rb2405", 2, "20240304100000")), ArchiveWriter::Result::kFailed);
  EXPECT_FALSE(fs::exists(folder_.path() / "archive" / "Data" / "20240304" / "rb2405.csv"));
  EXPECT_EQ(Store(writer, TestTick("rb2405", 3, "20240305100000")), ArchiveWriter::Result::kFailed);
  EXPECT_FALSE(fs::exists(folder_.path() / "archive" / "DataTimeStream" / "20240305.csv"));
}

// A folder of the archive that is a link to a folder elsewhere: nothing is written there, not by the
// store nor by the repair of a later retry; the failure is counted with the reason, what comes before
// it in the archive's order (the day's index, the record, the time-stream line) is written, and once
// the link is gone the retry completes the day.
TEST_F(ArchiveWriterTest, AFolderThatIsALinkLeadsNothingOutsideAndTheRetryCompletesTheDay) {
  struct Case {
    const char* folder;
    bool recordWritten;
    bool timeStreamWritten;
  } cases[] = {
      {"Data/20240301", true, true},
      {"Data", true, true},
      {"DataTimeStream", false, false},  // the day's index is read from it before anything is written
      {"Journal", false, false},
  };
  for (const Case& c : cases) {
    const fs::path work = folder_.path() / c.folder / "work";
    const fs::path outside = folder_.path() / c.folder / "outside";
    fs::create_directories(outside);
    fs::create_directories((work / c.folder).parent_path());
    fs::create_directory_symlink(outside, work / c.folder);
    ArchiveWriter writer(work.string());
    std::string error;
    for (int attempt = 0; attempt < 2; ++attempt) {
      EXPECT_EQ(writer.Store(TestTick("rb2405", 1), &error), ArchiveWriter::Result::kFailed) << c.folder;
      EXPECT_NE(error.find(std::strerror(ELOOP)), std::string::npos) << c.folder << ": " << error;
    }
    EXPECT_EQ(writer.counters().failures, 2u) << c.folder;
    EXPECT_TRUE(fs::is_empty(outside)) << c.folder;
    EXPECT_EQ(fs::is_regular_file(work / "Journal/20240301.qtj"), c.recordWritten) << c.folder;
    EXPECT_EQ(fs::is_regular_file(work / "DataTimeStream/20240301.csv"), c.timeStreamWritten) << c.folder;

    fs::remove(work / c.folder);
    const ArchiveWriter::Result retry = writer.Store(TestTick("rb2405", 1), &error);
    EXPECT_TRUE(retry == ArchiveWriter::Result::kWritten || retry == ArchiveWriter::Result::kDuplicate) << error;
    EXPECT_EQ(ReadText(work / "DataTimeStream/20240301.csv"), TestTickLine("rb2405", 1)) << c.folder;
    EXPECT_EQ(ReadText(work / "Data/20240301/rb2405.csv"), TestFixedLine("rb2405", 1)) << c.folder;
  }
}

// The archive's folder itself may be a link: where it lives is the operator's choice.
TEST_F(ArchiveWriterTest, AFolderGivenAsALinkIsWrittenAsUsual) {
  fs::create_directories(folder_.path() / "real");
  fs::create_directory_symlink(folder_.path() / "real", folder_.path() / "work");
  ArchiveWriter writer((folder_.path() / "work").string());
  EXPECT_EQ(Store(writer, TestTick("rb2405", 1)), ArchiveWriter::Result::kWritten);
  EXPECT_EQ(ReadText(folder_.path() / "real/Data/20240301/rb2405.csv"), TestFixedLine("rb2405", 1));
  EXPECT_EQ(ReadText(folder_.path() / "real/DataTimeStream/20240301.csv"), TestTickLine("rb2405", 1));
}

TEST_F(ArchiveWriterTest, KnowsItsTicksAfterARestartAndAcrossThe1800Boundary) {
  {
    ArchiveWriter writer(folder_.path().string());
    EXPECT_EQ(Store(writer, TestTick("rb2405", 1, "20240304175958")), ArchiveWriter::Result::kWritten);
    EXPECT_EQ(Store(writer, TestTick("cu2404", 2, "20240304100000")), ArchiveWriter::Result::kWritten);
  }
  ArchiveWriter writer(folder_.path().string(), 3);
  // A collector whose clock ran two seconds ahead filed it under the next trading day.
  EXPECT_EQ(Store(writer, TestTick("rb2405", 1, "20240304180000")), ArchiveWriter::Result::kDuplicate);
  EXPECT_EQ(Store(writer, TestTick("cu2404", 2, "20240304100001")), ArchiveWriter::Result::kDuplicate);
  // More days than it holds in memory: the first day is read again from its file when needed.
  for (const char* stamp : {"20240305100000", "20240306100000", "20240307100000"}) {
    EXPECT_EQ(Store(writer, TestTick("rb2405", 9, stamp)), ArchiveWriter::Result::kWritten);
  }
  EXPECT_EQ(Store(writer, TestTick("cu2404", 2, "20240304100002")), ArchiveWriter::Result::kDuplicate);
  EXPECT_EQ(Store(writer, TestTick("cu2404", 3, "20240304100002")), ArchiveWriter::Result::kWritten);
  EXPECT_EQ(JournalVolumes("20240304"), (std::vector<int>{1, 2, 3}));
}

// Record b reached the journal only; record a reached the time-stream file but not the per-contract
// file, whose last line was cut half way; c's time-stream line was cut half way. The load writes
// every missing line again, exactly, from the journal.
TEST_F(ArchiveWriterTest, RepairsACrashBetweenTheAppendsFromTheJournal) {
  const std::string z = TestTickLine("rb2405", 0), a = TestTickLine("rb2405", 1), b = TestTickLine("rb2405", 2);
  const std::string zFixed = TestFixedLine("rb2405", 0), aFixed = TestFixedLine("rb2405", 1);
  AppendTicks(folder_.path(), {TestTick("rb2405", 0), TestTick("rb2405", 1), TestTick("rb2405", 2)});
  AppendText(TimeStream("20240301"), z + a + TestTickLine("rb2405", 3).substr(0, 40));
  AppendText(Contract("20240301", "rb2405"), zFixed + aFixed.substr(0, 10));
  ArchiveWriter writer(folder_.path().string());
  EXPECT_EQ(Store(writer, TestTick("rb2405", 2)), ArchiveWriter::Result::kDuplicate);
  EXPECT_EQ(Store(writer, TestTick("rb2405", 3)), ArchiveWriter::Result::kWritten);
  EXPECT_EQ(ReadText(TimeStream("20240301")), z + a + b + TestTickLine("rb2405", 3));
  EXPECT_EQ(ReadText(Contract("20240301", "rb2405")),
            zFixed + aFixed + TestFixedLine("rb2405", 2) + TestFixedLine("rb2405", 3));
  EXPECT_EQ(JournalVolumes("20240301"), (std::vector<int>{0, 1, 2, 3}));
}

TEST_F(ArchiveWriterTest, AFailedAppendIsReportedAndTheTickWrittenLaterOnce) {
  fs::create_directories(Contract("20240301", "rb2405"));  // a folder where the file should be
  ArchiveWriter writer(folder_.path().string());
  EXPECT_EQ(Store(writer, TestTick("rb2405", 1)), ArchiveWriter::Result::kFailed);
  fs::remove(Contract("20240301", "rb2405"));
  // The record and time-stream line are there; the retry finds the tick held and the repair adds
  // the missing line, exact.
  EXPECT_EQ(Store(writer, TestTick("rb2405", 1)), ArchiveWriter::Result::kDuplicate);
  EXPECT_EQ(ReadText(TimeStream("20240301")), TestTickLine("rb2405", 1));
  EXPECT_EQ(ReadText(Contract("20240301", "rb2405")), TestFixedLine("rb2405", 1));
  EXPECT_EQ(JournalVolumes("20240301"), (std::vector<int>{1}));
}

// A folder filled before the archive kept a journal: its per-contract lines are rebuilt from the
// time-stream line as well as it holds them, and new ticks are journaled from then on.
TEST_F(ArchiveWriterTest, AFolderWithoutAJournalIsRepairedFromItsTimeStreamLines) {
  const std::string a = TestTickLine("rb2405", 1);
  AppendText(TimeStream("20240301"), a);
  ArchiveWriter writer(folder_.path().string());
  EXPECT_EQ(Store(writer, TestTick("rb2405", 1)), ArchiveWriter::Result::kDuplicate);
  StoredTickLine line;
  ASSERT_TRUE(ParseStoredTickLine(a, &line));
  EXPECT_EQ(ReadText(Contract("20240301", "rb2405")), FixedStyleLine(line));
  EXPECT_EQ(Store(writer, TestTick("rb2405", 2)), ArchiveWriter::Result::kWritten);
  EXPECT_EQ(JournalVolumes("20240301"), (std::vector<int>{2}));
}

}  // namespace
