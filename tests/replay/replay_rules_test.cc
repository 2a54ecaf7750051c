#include "replay/service/replay_rules.h"

#include <gtest/gtest.h>

namespace {

TEST(ReplayRulesTest, NextDay) {
  const struct {
    int day;
    int next;
  } cases[] = {
      {20160130, 20160131}, {20160131, 20160201}, {20160201, 20160202}, {20160228, 20160229},
      {20160229, 20160301}, {20170228, 20170301}, {21000228, 21000301}, {20000228, 20000229}, {20161231, 20170101},
      {20160430, 20160501}, {20160531, 20160601}, {20161130, 20161201}, {20161331, 20161332},
      {20160031, 20160032},
  };
  for (const auto& c : cases) EXPECT_EQ(NextReplayDay(c.day), c.next) << c.day;
}

TEST(ReplayRulesTest, ParseDay) {
  const struct {
    const char* text;
    int day;
  } cases[] = {
      {"20160130", 20160130}, {"  20160130", 20160130}, {"+20160130", 20160130}, {"-5", -5},
      {"2016x", 2016}, {"abc", 0}, {"", 0}, {"99999999999", 2147483647},
  };
  for (const auto& c : cases) EXPECT_EQ(ParseReplayDay(c.text), c.day) << c.text;
}

TEST(ReplayRulesTest, ValidDates) {
  const struct {
    const char* text;
    bool valid;
  } cases[] = {
      {"20160130", true},  {"20161231", true},   {"20160231", true},  {"2016013", false},
      {"201601300", false}, {"20161301", false}, {"20160001", false}, {"20160100", false},
      {"20160132", false}, {"2016013a", false},  {" 2016013", false}, {"", false},
      {"-2016013", false},
  };
  for (const auto& c : cases) EXPECT_EQ(IsReplayDate(c.text), c.valid) << c.text;
}

TEST(ReplayRulesTest, SafeContracts) {
  const struct {
    const char* contract;
    bool safe;
  } cases[] = {
      {"rb1710", true},     {"IF2106", true},    {"SR709C6000", true}, {"m1709-C-2800", true},
      {"SP a1709&a1801", true}, {"i_1709.x", true}, {"", true},          {"../secret", false},
      {"..", false},        {"a..b", false},     {"/etc/passwd", false}, {"a/b", false},
      {"a\\b", false},      {"rb%d", false},     {"\xc8\xed", false},    {"rb\t1710", false},
  };
  for (const auto& c : cases) EXPECT_EQ(IsSafeContract(c.contract), c.safe) << c.contract;
}

}  // namespace
