// The archive's files: the collector's tree and formats, one copy of each tick across restarts and
// neighbouring days, and the repair of what a crash between the two appends leaves.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>

#include "cluster/archive_writer.h"
#include "cluster/stored_tick_line.h"
#include "tests/cluster/cluster_test_files.h"

namespace fs = std::filesystem;

namespace {

class ArchiveWriterTest : public ::testing::Test {
 protected:
  ArchiveWriter::Result Store(ArchiveWriter& writer, const std::string& text) {
    StoredTickLine line;
    EXPECT_TRUE(ParseStoredTickLine(text, &line)) << text;
    std::string error;
    return writer.Store(line, &error);
  }
  fs::path TimeStream(const std::string& day) const { return folder_.path() / "DataTimeStream" / (day + ".csv"); }
  fs::path Contract(const std::string& day, const std::string& c) const {
    return folder_.path() / "Data" / day / (c + ".csv");
  }
  static std::string Fixed(const std::string& text) {
    StoredTickLine line;
    EXPECT_TRUE(ParseStoredTickLine(text, &line));
    return FixedStyleLine(line);
  }

  TempFolder folder_;
};

TEST_F(ArchiveWriterTest, WritesBothFilesOfTheStampsTradingDayAndSkipsASecondCopy) {
  ArchiveWriter writer(folder_.path().string());
  const std::string evening = TestTickLine("rb2405", 1, "20240301210000");  // Friday night: Monday's file
  const std::string other = TestTickLine("rb2405", 1, "20240301210003");    // the same tick from another collector
  EXPECT_EQ(Store(writer, evening), ArchiveWriter::Result::kWritten);
  EXPECT_EQ(Store(writer, other), ArchiveWriter::Result::kDuplicate);
  EXPECT_EQ(ReadText(TimeStream("20240304")), evening);
  EXPECT_EQ(ReadText(Contract("20240304", "rb2405")), Fixed(evening));
  EXPECT_EQ(writer.counters().ticksWritten, 1u);
  EXPECT_EQ(writer.counters().duplicates, 1u);
}

// Codes the collector refuses are refused here too: the same rule, so the archive makes no file a
// collector would not have made.
TEST_F(ArchiveWriterTest, CodesTheCollectorRefusesAreRefused) {
  ArchiveWriter writer(folder_.path().string());
  for (const char* code : {"a\\b", "...", "\xff\xfe", "rb 2405", "rb2405.csv"}) {
    StoredTickLine line;
    const std::string text = TestTickLine(code, 1);
    if (!ParseStoredTickLine(text, &line)) continue;  // refused even earlier
    std::string error;
    const bool space = std::string(code).find(' ') != std::string::npos;
    EXPECT_EQ(writer.Store(line, &error), space ? ArchiveWriter::Result::kWritten : ArchiveWriter::Result::kRefused)
        << code;
    if (!space) {
      EXPECT_NE(error.find("collector refuses"), std::string::npos) << code << ": " << error;
    }
  }
  EXPECT_EQ(writer.counters().refused, 4u);
  EXPECT_FALSE(fs::exists(folder_.path() / "Data" / "20240301" / "....csv"));
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
  ArchiveWriter writer((folder_.path() / "archive").string());
  EXPECT_EQ(Store(writer, TestTickLine("rb2405", 1, "20240301100000")), ArchiveWriter::Result::kFailed);
  EXPECT_EQ(ReadText(outside), precious);
  EXPECT_EQ(Store(writer, TestTickLine("rb2405", 2, "20240304100000")), ArchiveWriter::Result::kFailed);
  EXPECT_FALSE(fs::exists(folder_.path() / "archive" / "Data" / "20240304" / "rb2405.csv"));
}

TEST_F(ArchiveWriterTest, KnowsItsTicksAfterARestartAndAcrossThe1800Boundary) {
  {
    ArchiveWriter writer(folder_.path().string());
    EXPECT_EQ(Store(writer, TestTickLine("rb2405", 1, "20240304175958")), ArchiveWriter::Result::kWritten);
    EXPECT_EQ(Store(writer, TestTickLine("cu2404", 2, "20240304100000")), ArchiveWriter::Result::kWritten);
  }
  ArchiveWriter writer(folder_.path().string(), 3);
  // A collector whose clock ran two seconds ahead filed it under the next trading day.
  EXPECT_EQ(Store(writer, TestTickLine("rb2405", 1, "20240304180000")), ArchiveWriter::Result::kDuplicate);
  EXPECT_EQ(Store(writer, TestTickLine("cu2404", 2, "20240304100001")), ArchiveWriter::Result::kDuplicate);
  // More days than it holds in memory: the first day is read again from its file when needed.
  for (const char* stamp : {"20240305100000", "20240306100000", "20240307100000"}) {
    EXPECT_EQ(Store(writer, TestTickLine("rb2405", 9, stamp)), ArchiveWriter::Result::kWritten);
  }
  EXPECT_EQ(Store(writer, TestTickLine("cu2404", 2, "20240304100002")), ArchiveWriter::Result::kDuplicate);
  EXPECT_EQ(Store(writer, TestTickLine("cu2404", 3, "20240304100002")), ArchiveWriter::Result::kWritten);
}

TEST_F(ArchiveWriterTest, RepairsACrashBetweenTheTwoAppendsAndCutsPartialLines) {
  const std::string a = TestTickLine("rb2405", 1), b = TestTickLine("rb2405", 2), c = TestTickLine("rb2405", 3);
  // b reached the time-stream file but not the per-contract file; c was cut half way.
  AppendText(TimeStream("20240301"), a + b + c.substr(0, 40));
  AppendText(Contract("20240301", "rb2405"), Fixed(a) + Fixed(b).substr(0, 10));
  ArchiveWriter writer(folder_.path().string());
  EXPECT_EQ(Store(writer, b), ArchiveWriter::Result::kDuplicate);
  EXPECT_EQ(Store(writer, c), ArchiveWriter::Result::kWritten);
  EXPECT_EQ(ReadText(TimeStream("20240301")), a + b + c);
  EXPECT_EQ(ReadText(Contract("20240301", "rb2405")), Fixed(a) + Fixed(b) + Fixed(c));
  EXPECT_EQ(writer.counters().repairedLines, 3u);
}

TEST_F(ArchiveWriterTest, RefusesCodesThatCannotNameAFileAndStampsThatAreNoDate) {
  ArchiveWriter writer(folder_.path().string());
  for (const std::string& bad : {TestTickLine("../x", 1), TestTickLine("..", 1), TestTickLine("a/b", 1),
                                 TestTickLine("rb2405", 1, "20241332000000")}) {
    EXPECT_EQ(Store(writer, bad), ArchiveWriter::Result::kRefused) << bad;
  }
  EXPECT_FALSE(fs::exists(folder_.path() / "DataTimeStream"));
  EXPECT_FALSE(fs::exists(folder_.path() / "x.csv"));
}

TEST_F(ArchiveWriterTest, AFailedAppendIsReportedAndTheTickWrittenLater) {
  const std::string a = TestTickLine("rb2405", 1);
  fs::create_directories(Contract("20240301", "rb2405"));  // a folder where the file should be
  ArchiveWriter writer(folder_.path().string());
  EXPECT_EQ(Store(writer, a), ArchiveWriter::Result::kFailed);
  fs::remove(Contract("20240301", "rb2405"));
  // The time-stream line is there; the retry finds it held and the repair adds the missing line.
  EXPECT_EQ(Store(writer, a), ArchiveWriter::Result::kDuplicate);
  EXPECT_EQ(ReadText(TimeStream("20240301")), a);
  EXPECT_EQ(ReadText(Contract("20240301", "rb2405")), Fixed(a));
}

}  // namespace
