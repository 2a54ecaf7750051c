// The publisher's follower over real files: whole lines only, days in order, a file replaced or
// shortened under it, malformed lines skipped and counted; and its state file.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <random>
#include <thread>
#include <string>
#include <vector>

#include "cluster/publish_state.h"
#include "cluster/state_saver.h"
#include "cluster/time_stream_follower.h"
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

class FollowerTest : public ::testing::Test {
 protected:
  fs::path Day(const std::string& day) const { return folder_.path() / "DataTimeStream" / (day + ".csv"); }

  // Every line handed out until nothing is new (a few rounds), as text.
  std::vector<std::string> Drain(std::size_t maxBytes = 1 << 20) {
    std::vector<std::string> out;
    for (int round = 0; round < 1000; ++round) {
      TimeStreamFollower::Batch batch;
      if (!follower_.Next(maxBytes, &batch)) break;
      for (const auto& line : batch.lines) out.emplace_back(line.text);
      EXPECT_EQ(batch.end, follower_.position());
    }
    return out;
  }

  TempFolder folder_;
  TimeStreamFollower follower_{folder_.path().string()};
};

TEST_F(FollowerTest, HandsOutOnlyWholeLinesAndThePartialOneOnceItIsComplete) {
  const std::string a = TestTickLine("rb2405", 1), b = TestTickLine("rb2405", 2);
  AppendText(Day("20240301"), a + b.substr(0, 20));
  follower_.Start({}, "");
  EXPECT_EQ(Drain(), std::vector<std::string>{a});
  EXPECT_EQ(follower_.position().offset, a.size());
  AppendText(Day("20240301"), b.substr(20, b.size() - 21));  // all but the LF
  EXPECT_TRUE(Drain().empty());
  AppendText(Day("20240301"), "\n");
  EXPECT_EQ(Drain(), std::vector<std::string>{b});
  EXPECT_EQ(follower_.counters().malformedLines, 0u);
}

// A named pipe or a link where a day's file should be is never opened for reading (a pipe without a
// writer would hold the open for ever) nor followed out of the folder; it is counted once.
TEST_F(FollowerTest, APipeOrALinkInPlaceOfADayFileIsRefusedWithoutWaiting) {
  const fs::path outside = folder_.path() / "outside.csv";
  AppendText(outside, TestTickLine("rb2405", 1));
  for (const bool pipe : {true, false}) {
    const fs::path work = folder_.path() / (pipe ? "pipe" : "link");
    fs::create_directories(work / "DataTimeStream");
    const fs::path file = work / "DataTimeStream" / "20240301.csv";
    if (pipe) {
      ASSERT_EQ(::mkfifo(file.c_str(), 0644), 0);
    } else {
      fs::create_symlink(outside, file);
    }
    TimeStreamFollower follower(work.string());
    follower.Start({}, "20240301");
    for (int i = 0; i < 3; ++i) {
      TimeStreamFollower::Batch batch;
      follower.Next(1 << 20, &batch);
      EXPECT_TRUE(batch.lines.empty()) << pipe;
    }
    EXPECT_EQ(follower.counters().filesRefused, 1u) << pipe;
    EXPECT_NE(follower.lastFault().find("20240301.csv"), std::string::npos) << follower.lastFault();
  }
}

// Stopped inside an over-long line whose tail looks like a tick line: after a restart from the saved
// state the tail is still part of the long line, never published as a tick.
TEST_F(FollowerTest, ARestartInsideAnOverlongLineStillSkipsItsTail) {
  const std::string good = TestTickLine("rb2405", 1), lookalike = TestTickLine("cu2404", 9);
  AppendText(Day("20240301"), good + std::string(6000, 'z'));
  follower_.Start({}, "20240301");
  EXPECT_EQ(Drain(), std::vector<std::string>{good});
  EXPECT_EQ(follower_.counters().malformedLines, 1u);
  const PublishState state((folder_.path() / "state").string());
  std::string error;
  ASSERT_TRUE(state.Save(follower_.position(), &error)) << error;
  FollowPosition saved;
  ASSERT_TRUE(state.Load(&saved, &error)) << error;
  EXPECT_TRUE(saved.insideLongLine);

  AppendText(Day("20240301"), lookalike + good);
  TimeStreamFollower restarted(folder_.path().string());
  restarted.Start(saved, "");
  std::vector<std::string> lines;
  for (int i = 0; i < 5; ++i) {
    TimeStreamFollower::Batch batch;
    if (!restarted.Next(1 << 20, &batch)) break;
    for (const StoredTickLine& line : batch.lines) lines.emplace_back(line.text);
  }
  EXPECT_EQ(lines, std::vector<std::string>{good});
}

// A pipe in place of the state file is refused at once instead of holding the publisher at its start.
TEST_F(FollowerTest, AStateFileThatIsAPipeIsRefusedWithoutWaiting) {
  const fs::path path = folder_.path() / "state";
  ASSERT_EQ(::mkfifo(path.c_str(), 0644), 0);
  FollowPosition position;
  std::string error;
  EXPECT_FALSE(PublishState(path.string()).Load(&position, &error));
  EXPECT_NE(error.find("not a regular file"), std::string::npos) << error;
}

// A later day's file appears (a clock step, a late line), then the collector writes to the earlier
// day again: those lines are published too, the later day goes on where it was, and until they are
// read the backlog counts them.
TEST_F(FollowerTest, AnEarlierDayThatGrowsAfterALaterOneAppearedIsFollowedStill) {
  const std::string a = TestTickLine("rb2405", 1), b = TestTickLine("rb2405", 2), c = TestTickLine("cu2404", 3),
                    d = TestTickLine("cu2404", 4);
  AppendText(Day("20240301"), a);
  AppendText(Day("20240304"), c);
  follower_.Start({}, "20240301");
  EXPECT_EQ(Drain(), (std::vector<std::string>{a, c}));
  EXPECT_EQ(follower_.position().day, "20240304");
  AppendText(Day("20240301"), b);
  EXPECT_EQ(follower_.FinishedDaysBacklog(), b.size());
  AppendText(Day("20240304"), d);
  EXPECT_EQ(Drain(), (std::vector<std::string>{b, d}));
  EXPECT_EQ(follower_.FinishedDaysBacklog(), 0u);
  EXPECT_EQ(follower_.counters().daysResumed, 1u);
  EXPECT_EQ(follower_.position().day, "20240304");
  EXPECT_EQ(follower_.position().offset, c.size() + d.size());
}

TEST_F(FollowerTest, SkipsAndCountsMalformedLinesNeverHandingOutPartOfOne) {
  const std::string good = TestTickLine("rb2405", 1);
  AppendText(Day("20240301"), "garbage\r\n" + good + good.substr(0, 30) + good + "x,y\n" +
                                  std::string(6000, 'z') + "\r\n" + good);
  follower_.Start({}, "");
  EXPECT_EQ(Drain(100), (std::vector<std::string>{good, good}));
  // "garbage", a cut line glued to the next, "x,y" and the over-long one.
  EXPECT_EQ(follower_.counters().malformedLines, 4u);
  EXPECT_EQ(follower_.position().offset, fs::file_size(Day("20240301")));
}

TEST_F(FollowerTest, MovesToTheNextDayOnceItExistsAndCountsALeftPartialLine) {
  AppendText(Day("20240301"), TestTickLine("rb2405", 1) + "2024030109");
  follower_.Start({}, "20240301");
  EXPECT_EQ(Drain().size(), 1u);
  AppendText(Day("20240304"), TestTickLine("rb2405", 2));
  AppendText(Day("20240305"), TestTickLine("rb2405", 3));
  std::this_thread::sleep_for(std::chrono::milliseconds(250));  // the listing is cached that long
  EXPECT_EQ(Drain().size(), 2u);
  EXPECT_EQ(follower_.position().day, "20240305");
  EXPECT_EQ(follower_.counters().daysFinished, 2u);
  EXPECT_EQ(follower_.counters().malformedLines, 1u);
}

TEST_F(FollowerTest, WithoutStateStartsAtTheNewestDayAndFromDayAtThatDay) {
  AppendText(Day("20240229"), TestTickLine("rb2405", 1));
  AppendText(Day("20240301"), TestTickLine("rb2405", 2));
  follower_.Start({}, "");
  EXPECT_EQ(Drain(), std::vector<std::string>{TestTickLine("rb2405", 2)});
  TimeStreamFollower again(folder_.path().string());
  again.Start({}, "20240101");
  TimeStreamFollower::Batch batch;
  ASSERT_TRUE(again.Next(1 << 20, &batch));
  EXPECT_EQ(batch.end.day, "20240229");
}

TEST_F(FollowerTest, ReadsAFileReplacedOrShortenedUnderItAgainFromItsStart) {
  const std::string a = TestTickLine("rb2405", 1), b = TestTickLine("rb2405", 2), c = TestTickLine("rb2405", 3);
  AppendText(Day("20240301"), a + b);
  follower_.Start({}, "");
  EXPECT_EQ(Drain().size(), 2u);

  fs::resize_file(Day("20240301"), a.size());
  EXPECT_EQ(Drain(), std::vector<std::string>{a});
  // Rewritten in place to the same length: the bytes before the position tell.
  fs::resize_file(Day("20240301"), 0);
  AppendText(Day("20240301"), c);
  EXPECT_EQ(Drain(), std::vector<std::string>{c});
  EXPECT_EQ(follower_.counters().filesTruncated, 2u);

  const fs::path replacement = folder_.path() / "replacement.csv";
  AppendText(replacement, a + b + c);
  fs::rename(replacement, Day("20240301"));
  EXPECT_EQ(Drain(), (std::vector<std::string>{a, b, c}));
  EXPECT_EQ(follower_.counters().filesReplaced, 1u);
}

TEST_F(FollowerTest, RewindGoesBackToAnAcknowledgedPosition) {
  AppendText(Day("20240301"), TestTickLine("rb2405", 1));
  follower_.Start({}, "");
  TimeStreamFollower::Batch first;
  ASSERT_TRUE(follower_.Next(1 << 20, &first));
  const FollowPosition acknowledged = first.end;
  AppendText(Day("20240301"), TestTickLine("rb2405", 2));
  EXPECT_EQ(Drain().size(), 1u);
  follower_.Rewind(acknowledged);
  EXPECT_EQ(Drain(), std::vector<std::string>{TestTickLine("rb2405", 2)});
}

// Random appends in random pieces, mixed with malformed lines: the lines handed out are exactly
// the good ones, in order, whatever the cut points and batch sizes.
TEST_F(FollowerTest, RandomPiecesGiveExactlyTheGoodLinesInOrder) {
  std::mt19937 random(5);
  std::vector<std::string> expected, got;
  std::string pending;
  follower_.Start({}, "20240301");
  AppendText(Day("20240301"), "");
  for (int i = 0; i < 3000; ++i) {
    if (random() % 7 == 0) {
      pending += random() % 2 ? "bad,line\r\n" : TestTickLine("rb2405", i).substr(3);
    } else {
      expected.push_back(TestTickLine(i % 3 ? "rb2405" : "IO2403-C-3800", i));
      pending += expected.back();
    }
    if (random() % 5 == 0) {
      const std::size_t cut = random() % (pending.size() + 1);
      AppendText(Day("20240301"), pending.substr(0, cut));
      pending.erase(0, cut);
      for (auto& line : Drain(64 + random() % 4000)) got.push_back(line);
    }
  }
  AppendText(Day("20240301"), pending);
  for (auto& line : Drain()) got.push_back(line);
  EXPECT_EQ(got, expected);
}

TEST(PublishStateTest, SavesAndLoadsAPositionAndRefusesAForeignFile) {
  TempFolder folder;
  const std::string path = (folder.path() / "state").string();
  PublishState state(path);
  FollowPosition p;
  std::string error;
  ASSERT_TRUE(state.Load(&p, &error));
  EXPECT_TRUE(p.day.empty());
  const FollowPosition saved{"20240301", 12345, 2049, 131, std::string("a\r\n\0\xff", 5)};
  ASSERT_TRUE(state.Save(saved, &error)) << error;
  ASSERT_TRUE(state.Load(&p, &error)) << error;
  EXPECT_EQ(p, saved);
  EXPECT_FALSE(fs::exists(path + ".tmp"));
  for (const char* text : {"not json", "{\"day\":\"2024\",\"offset\":1}", "{\"offset\":1}", "[]"}) {
    std::ofstream(path, std::ios::trunc) << text;
    EXPECT_FALSE(state.Load(&p, &error)) << text;
    EXPECT_NE(error.find(path), std::string::npos);
  }
  EXPECT_FALSE(PublishState((folder.path() / "missing" / "state").string()).Save(saved, &error));
}

TEST(StateSaverTest, TheFileEndsWithTheLastPositionPosted) {
  TempFolder folder;
  PublishState state((folder.path() / "state").string());
  {
    StateSaver saver(state);
    for (std::uint64_t offset = 1; offset <= 500; ++offset) saver.Post({"20240301", offset, 1, 2, {}});
  }
  FollowPosition p;
  std::string error;
  ASSERT_TRUE(state.Load(&p, &error)) << error;
  EXPECT_EQ(p.offset, 500u);

  PublishState unwritable((folder.path() / "missing" / "state").string());
  StateSaver saver(unwritable);
  saver.Post({"20240301", 1, 1, 2, {}});
  EXPECT_TRUE(WaitUntilError(saver));
}

}  // namespace
