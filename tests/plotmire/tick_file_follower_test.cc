#include "plotmire/tick_file_follower.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <future>
#include <string>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string Line(const char* time, const char* last, int volume) {
  return std::string("20240301090507,rb2405,20240301,20240301,") + time + ",0," + last + "," +
         std::to_string(volume) +
         ",3750.00,3700.00,3710.00,-1.00,37251.23,3726.00,15,3725.00,30,3950.00,3500.00,1654321.00,"
         "4598765432.00,3720.00,1650000.00,3722.00\r\n";
}

// "09:MM:SS" of the i-th second after 09:00:00.
std::string Time(int i) {
  char text[16];
  std::snprintf(text, sizeof(text), "09:%02d:%02d", i / 60 % 60, i % 60);
  return text;
}

// The process's peak resident memory in KiB, after resetting it to the present figure; -1 where
// the kernel does not offer that.
int64_t ResetPeakMemory() {
  std::ofstream clear("/proc/self/clear_refs");
  clear << "5";
  clear.flush();
  return clear ? 0 : -1;
}

int64_t PeakMemoryKiB() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("VmHWM:", 0) == 0) return std::stoll(line.substr(6));
  }
  return -1;
}

int64_t MemoryKiB() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("VmRSS:", 0) == 0) return std::stoll(line.substr(6));
  }
  return -1;
}

class TickFileFollowerTest : public ::testing::Test {
 protected:
  void Append(const std::string& bytes) {
    QFile f(path_);
    ASSERT_TRUE(f.open(QIODevice::Append));
    ASSERT_EQ(f.write(bytes.data(), static_cast<qint64>(bytes.size())), static_cast<qint64>(bytes.size()));
  }
  void Rewrite(const std::string& bytes) {
    QFile f(path_);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes.data(), static_cast<qint64>(bytes.size()));
  }

  QTemporaryDir dir_;
  QString path_ = dir_.filePath("rb2405.csv");
};

TEST_F(TickFileFollowerTest, AMissingFileIsReportedUntilItAppears) {
  TickFileFollower follower(path_);
  EXPECT_EQ(follower.Poll().status, TickFileFollower::Status::kMissing);
  Rewrite("");
  auto empty = follower.Poll();
  EXPECT_EQ(empty.status, TickFileFollower::Status::kRead);
  EXPECT_TRUE(empty.ticks.empty());
  Append(Line("09:00:00", "3725.00", 10));
  auto first = follower.Poll();
  ASSERT_EQ(first.ticks.size(), 1u);
  EXPECT_EQ(first.ticks[0].volume, 10);
}

TEST_F(TickFileFollowerTest, OnlyNewBytesAreReadAndAnUnfinishedLineWaitsForItsEnd) {
  const std::string second = Line("09:00:01", "3726.00", 20);
  Rewrite(Line("09:00:00", "3725.00", 10) + second.substr(0, 40));
  TickFileFollower follower(path_);
  auto a = follower.Poll();
  ASSERT_EQ(a.ticks.size(), 1u);
  EXPECT_TRUE(follower.Poll().ticks.empty()) << "nothing new, the half line still waits";
  Append(second.substr(40, second.size() - 41));  // all but the LF
  EXPECT_TRUE(follower.Poll().ticks.empty());
  Append("\n" + Line("09:00:02", "3727.00", 30));
  auto b = follower.Poll();
  ASSERT_EQ(b.ticks.size(), 2u);
  EXPECT_DOUBLE_EQ(b.ticks[0].last, 3726.0);
  EXPECT_EQ(b.ticks[1].volume, 30);
  EXPECT_EQ(follower.lines(), 3);
  EXPECT_EQ(follower.malformed_lines(), 0);
}

TEST_F(TickFileFollowerTest, MalformedLinesAreSkippedAndCounted) {
  Rewrite(Line("09:00:00", "3725.00", 10) + "garbage\r\n" + Line("09:00:01", "oops", 11) + "\r\n" +
          Line("09:00:02", "3727.00", 12) + std::string(70000, 'x') + "\r\n" + Line("09:00:03", "3728.00", 13));
  TickFileFollower follower(path_);
  auto r = follower.Poll();
  EXPECT_EQ(r.ticks.size(), 3u);
  EXPECT_EQ(follower.malformed_lines(), 3) << "the blank line is not counted";
  EXPECT_EQ(follower.first_malformed_line(), 2);
  EXPECT_NE(follower.first_malformed_reason().find("fields"), std::string::npos);
}

TEST_F(TickFileFollowerTest, AnOverlongLineArrivingInPiecesIsCountedOnce) {
  TickFileFollower follower(path_);
  Rewrite(std::string(40000, 'x'));
  follower.Poll();
  Append(std::string(40000, 'y'));
  follower.Poll();
  Append("\r\n" + Line("09:00:00", "3725.00", 10));
  auto r = follower.Poll();
  EXPECT_EQ(r.ticks.size(), 1u);
  EXPECT_EQ(follower.malformed_lines(), 1);
  EXPECT_EQ(follower.first_malformed_reason(), "line too long");
}

TEST_F(TickFileFollowerTest, AFileThatShrankIsReadAgainFromItsStart) {
  Rewrite(Line("09:00:00", "3725.00", 10) + Line("09:00:01", "3726.00", 11) + "bad\r\n");
  TickFileFollower follower(path_);
  EXPECT_EQ(follower.Poll().ticks.size(), 2u);
  Rewrite(Line("21:00:00", "3800.00", 5));
  auto r = follower.Poll();
  EXPECT_EQ(r.status, TickFileFollower::Status::kRestarted);
  ASSERT_EQ(r.ticks.size(), 1u);
  EXPECT_DOUBLE_EQ(r.ticks[0].last, 3800.0);
  EXPECT_EQ(follower.malformed_lines(), 0);
}

TEST_F(TickFileFollowerTest, AFileReplacedByAnotherIsReadAgainFromItsStart) {
  Rewrite(Line("09:00:00", "3725.00", 10));
  TickFileFollower follower(path_);
  ASSERT_EQ(follower.Poll().ticks.size(), 1u);

  // Replaced by a longer file under the same name, as a copy or an editor's save does.
  const QString other = dir_.filePath("other.csv");
  {
    QFile f(other);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    const std::string night = Line("21:00:00", "3800.00", 5) + Line("21:00:01", "3801.00", 6);
    f.write(night.data(), static_cast<qint64>(night.size()));
  }
  ASSERT_EQ(::rename(QFile::encodeName(other).constData(), QFile::encodeName(path_).constData()), 0);
  auto replaced = follower.Poll();
  EXPECT_EQ(replaced.status, TickFileFollower::Status::kRestarted);
  ASSERT_EQ(replaced.ticks.size(), 2u);
  EXPECT_DOUBLE_EQ(replaced.ticks[0].last, 3800.0);
  EXPECT_EQ(follower.malformed_lines(), 0);

  // Gone for a while and back, longer than before: read from its start, since the chart forgot it.
  ASSERT_TRUE(QFile::remove(path_));
  EXPECT_EQ(follower.Poll().status, TickFileFollower::Status::kMissing);
  Rewrite(Line("09:00:00", "3725.00", 10) + Line("09:00:01", "3726.00", 11) + Line("09:00:02", "3727.00", 12));
  auto back = follower.Poll();
  ASSERT_EQ(back.ticks.size(), 3u);
  EXPECT_DOUBLE_EQ(back.ticks[0].last, 3725.0);
  EXPECT_EQ(follower.malformed_lines(), 0);
}

TEST_F(TickFileFollowerTest, ANamedPipeInPlaceOfTheFileIsRefusedWithoutBlocking) {
  const QByteArray fifo = QFile::encodeName(path_);
  ASSERT_EQ(::mkfifo(fifo.constData(), 0600), 0);
  TickFileFollower follower(path_);
  auto polled = std::async(std::launch::async, [&] { return follower.Poll(); });
  if (polled.wait_for(std::chrono::seconds(5)) != std::future_status::ready) {
    // Let the blocked open go, so that the test ends and reports the hang.
    const int writer = ::open(fifo.constData(), O_RDWR | O_NONBLOCK);
    polled.wait();
    if (writer >= 0) ::close(writer);
    FAIL() << "Poll blocked on a named pipe";
  }
  EXPECT_EQ(polled.get().status, TickFileFollower::Status::kUnreadable);
  EXPECT_NE(follower.error_text().indexOf("named pipe"), -1) << follower.error_text().toStdString();
}

// A link is not followed, even to a readable tick file.
TEST_F(TickFileFollowerTest, AFolderOrALinkInPlaceOfTheFileIsUnreadable) {
  const QString target = QDir(dir_.path()).filePath("elsewhere.csv");
  QFile file(target);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write(QByteArray::fromStdString(Line("09:00:00", "3725.00", 10)));
  file.close();
  for (const bool link : {false, true}) {
    QFile::remove(path_);
    QDir(dir_.path()).rmdir("rb2405.csv");
    ASSERT_TRUE(link ? QFile::link(target, path_) : QDir(dir_.path()).mkdir("rb2405.csv"));
    TickFileFollower follower(path_);
    const auto polled = follower.Poll();
    EXPECT_EQ(polled.status, TickFileFollower::Status::kUnreadable) << link;
    EXPECT_TRUE(polled.ticks.empty()) << link;
    EXPECT_NE(follower.error_text().indexOf(link ? "symbolic link" : "folder"), -1)
        << follower.error_text().toStdString();
  }
}

TEST_F(TickFileFollowerTest, ABigFileIsReadABoundedStepPerPoll) {
  std::string lines;
  for (int i = 0; i < 10; ++i) lines += Line(Time(i).c_str(), "3725.00", i);
  Rewrite(lines);
  TickFileFollower follower(path_, {.max_ticks = 1000, .bytes_per_poll = 1000});
  std::vector<ChartTick> ticks;
  int polls = 0;
  do {
    const int64_t before = follower.size();
    auto step = follower.Poll();
    EXPECT_LE(follower.size() - before, 1000);
    ticks.insert(ticks.end(), step.ticks.begin(), step.ticks.end());
  } while (++polls < 20 && follower.unread() > 0);
  EXPECT_EQ(polls, static_cast<int>((lines.size() + 999) / 1000));
  ASSERT_EQ(ticks.size(), 10u);
  for (int i = 0; i < 10; ++i) EXPECT_EQ(ticks[i].volume, i);
  EXPECT_EQ(follower.size(), static_cast<int64_t>(lines.size()));
}

TEST_F(TickFileFollowerTest, AnEndlessLineIsSkippedWithoutBeingHeldAndTheLinesAfterItAreRead) {
  // 64 MiB without a line end, still being written, then its end and two good lines.
  const std::string piece(1 << 20, 'x');
  for (int i = 0; i < 64; ++i) Append(piece);
  const int64_t memory_before = MemoryKiB();
  const bool peak_known = ResetPeakMemory() == 0 && PeakMemoryKiB() > 0;
  TickFileFollower follower(path_);
  int polls = 0;
  do {
    const int64_t before = follower.size();
    EXPECT_TRUE(follower.Poll().ticks.empty());
    EXPECT_LE(follower.size() - before, follower.limits().bytes_per_poll);
    EXPECT_LE(follower.held_line_bytes(), TickFileFollower::kMaxLineLength);
  } while (follower.unread() > 0 && ++polls < 100);
  EXPECT_EQ(follower.size(), 64 << 20);
  EXPECT_GE(polls, 15) << "read in steps";
  EXPECT_EQ(follower.malformed_lines(), 0) << "not counted before its end arrives";
  Append("\r\n" + Line("09:00:00", "3725.00", 10) + Line("09:00:01", "3726.00", 11));
  auto r = follower.Poll();
  ASSERT_EQ(r.ticks.size(), 2u);
  EXPECT_EQ(r.ticks[1].volume, 11);
  EXPECT_EQ(follower.malformed_lines(), 1);
  EXPECT_EQ(follower.first_malformed_reason(), "line too long");
  if (peak_known) {
    EXPECT_LT(PeakMemoryKiB() - memory_before, 16 << 10) << "the line's 64 MiB were held";
  }
}

TEST_F(TickFileFollowerTest, BeyondItsTickLimitTheFileIsNotReadUntilItIsReplaced) {
  std::string lines;
  for (int i = 0; i < 5; ++i) lines += Line(Time(i).c_str(), "3725.00", i);
  Rewrite(lines.substr(0, lines.size() / 5 * 3));
  TickFileFollower follower(path_, {.max_ticks = 3});
  EXPECT_EQ(follower.Poll().ticks.size(), 3u);
  EXPECT_FALSE(follower.full()) << "exactly the limit";

  Append(lines.substr(lines.size() / 5 * 3));
  EXPECT_TRUE(follower.Poll().ticks.empty());
  EXPECT_TRUE(follower.full());
  EXPECT_EQ(follower.unread(), 0);
  Append(lines);
  EXPECT_TRUE(follower.Poll().ticks.empty()) << "nothing more is taken";
  EXPECT_EQ(follower.ticks_taken(), 3);

  Rewrite(Line("21:00:00", "3800.00", 5) + Line("21:00:01", "3801.00", 6));
  auto again = follower.Poll();
  EXPECT_EQ(again.status, TickFileFollower::Status::kRestarted);
  EXPECT_EQ(again.ticks.size(), 2u);
  EXPECT_FALSE(follower.full());
}

}  // namespace

namespace {

// In a day folder the chart draws the market only: the close pushed again on subscription and a
// counter's test data are read past, neither drawn nor malformed.
TEST(TickFileFollowerMarketTest, StaleSnapshotsAndTestDataAreLeftOutOfTheChart) {
  QTemporaryDir dir;
  ASSERT_TRUE(QDir(dir.path()).mkpath("Data/20240301"));
  const QString path = dir.path() + "/Data/20240301/rb2405.csv";
  std::string text = Line("09:05:07", "3725.00", 10);  // written 09:05:07: a session tick
  std::string stale = Line("15:00:00", "3720.00", 5);   // yesterday's close, written at 09:05:07
  std::string test = Line("19:00:00", "3720.00", 5);
  std::string invalid = Line("99:99:99", "3720.00", 5);
  std::ofstream(path.toStdString(), std::ios::binary) << stale << text << test << invalid;
  TickFileFollower follower(path);
  std::vector<ChartTick> ticks;
  ASSERT_EQ(follower.Poll(&ticks), TickFileFollower::Status::kRead);
  ASSERT_EQ(ticks.size(), 1u);
  EXPECT_EQ(ticks[0].time_of_day, 9 * 3600 + 5 * 60 + 7);
  EXPECT_EQ(follower.not_market_lines(), 3);
  EXPECT_EQ(follower.malformed_lines(), 0);
}

}  // namespace
