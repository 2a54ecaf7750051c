#include "plotmire/session_axis.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <vector>

namespace {

int Clock(int h, int m, int s = 0) { return h * 3600 + m * 60 + s; }

std::vector<int> Keys(std::initializer_list<int> clock_times) {
  std::vector<int> keys;
  for (int t : clock_times) keys.push_back(SessionAxis::SessionKey(t));
  std::sort(keys.begin(), keys.end());
  return keys;
}

TEST(SessionAxisTest, TheNightSessionComesFirstAndRunsPastMidnight) {
  EXPECT_EQ(SessionAxis::SessionKey(Clock(18, 0)), 0);
  EXPECT_LT(SessionAxis::SessionKey(Clock(21, 0)), SessionAxis::SessionKey(Clock(23, 59)));
  EXPECT_LT(SessionAxis::SessionKey(Clock(23, 59)), SessionAxis::SessionKey(Clock(0, 30)));
  EXPECT_LT(SessionAxis::SessionKey(Clock(2, 30)), SessionAxis::SessionKey(Clock(9, 0)));
  EXPECT_LT(SessionAxis::SessionKey(Clock(15, 0)), SessionAxis::SessionKey(Clock(17, 59, 59)));
}

TEST(SessionAxisTest, LongBreaksAreCutOutAndShortQuietStretchesStay) {
  SessionAxis axis;
  // 21:00-21:01, quiet 3 minutes, 21:05, then the overnight break to 09:00, then the 10:15 break.
  axis.Build(Keys({Clock(21, 0), Clock(21, 1, 30), Clock(21, 5), Clock(9, 0), Clock(10, 14, 59), Clock(10, 30)}));
  auto at = [&](int h, int m, int s = 0) { return axis.Position(SessionAxis::SessionKey(Clock(h, m, s)), 0); };
  EXPECT_DOUBLE_EQ(at(21, 0), 0.0);
  EXPECT_DOUBLE_EQ(at(21, 1, 30), 1.5);
  EXPECT_DOUBLE_EQ(at(21, 5), 5.0) << "the three quiet minutes keep their width";
  EXPECT_DOUBLE_EQ(at(9, 0), 6.0) << "overnight is cut out";
  EXPECT_DOUBLE_EQ(at(10, 30), 8.0) << "10:15-10:30 is cut out too";
  EXPECT_EQ(axis.minutes(), 9);
  EXPECT_EQ(axis.Breaks(), (std::vector<double>{6.0, 7.0, 8.0}));
  EXPECT_EQ(axis.ClockText(6.5).toStdString(), "09:00");
  EXPECT_DOUBLE_EQ(axis.Position(SessionAxis::SessionKey(Clock(9, 0, 30)), 500), 6.0 + 30.5 / 60);
}

TEST(SessionAxisTest, LabelsAreRoundTimesAndSessionStartsWithoutCrowding) {
  SessionAxis axis;
  std::vector<int> keys;
  auto add_session = [&](int from, int to) {
    for (int t = from; t < to; t += 60) keys.push_back(SessionAxis::SessionKey(t));
  };
  add_session(Clock(20, 59), Clock(23, 0) + 1);
  add_session(Clock(9, 0), Clock(10, 15));
  add_session(Clock(10, 30), Clock(11, 30));
  add_session(Clock(13, 30), Clock(15, 0) + 1);
  std::sort(keys.begin(), keys.end());
  axis.Build(keys);
  auto labels = axis.Labels(12);
  ASSERT_GE(labels.size(), 6u);
  ASSERT_LE(labels.size(), 12u);
  std::set<QString> texts;
  for (size_t i = 0; i < labels.size(); ++i) {
    texts.insert(labels[i].text);
    if (i > 0) {
      EXPECT_GE(labels[i].position - labels[i - 1].position, axis.minutes() / 12.0 * 0.8);
    }
  }
  EXPECT_EQ(texts.size(), labels.size());
  EXPECT_TRUE(texts.count("21:00")) << "the round time wins over the auction minute 20:59 next to it";
  EXPECT_TRUE(texts.count("09:00"));
  EXPECT_FALSE(texts.count("20:59"));
}

}  // namespace
