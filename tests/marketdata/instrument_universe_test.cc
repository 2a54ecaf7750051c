#include "marketdata/instrument_universe.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <utility>
#include <vector>

namespace {

struct UniverseCase {
  int tradingDay;
  std::vector<std::pair<int, const char*>> entries;  // index -> code
};

TEST(InstrumentUniverseTest, GeneratesTheMonthsOfTheTradingDayInSlotOrder) {
  const UniverseCase cases[] = {
      {20210603,
       {{0, "sc2106"}, {1, "AP106"}, {2, "FG106"}, {3, "CF106"}, {19, "AP106"}, {20, "CJ106"}, {21, "a2106"},
        {58, "TS2106"}, {59, "sc2107"}, {60, "AP107"}, {61, "FG107"}, {1472, "T2306"}, {1473, "TF2306"},
        {1474, "TS2306"}}},
      {20211231, {{0, "sc2112"}, {1, "AP112"}, {59, "sc2201"}, {60, "AP201"}, {80, "a2201"}, {1474, "TS2312"}}},
      {20201201, {{0, "sc2012"}, {1, "AP012"}, {20, "CJ012"}, {59, "sc2101"}, {60, "AP101"}, {1474, "TS2212"}}},
      {20191130, {{0, "sc1911"}, {1, "AP911"}, {59, "sc1912"}, {118, "sc2001"}, {119, "AP001"}, {1474, "TS2111"}}},
  };
  for (const auto& c : cases) {
    InstrumentUniverse universe;
    EXPECT_EQ(universe.Generate(c.tradingDay), 1475) << c.tradingDay;
    ASSERT_EQ(universe.count(), 1475);
    for (const auto& [index, code] : c.entries) {
      EXPECT_STREQ(universe.code(index), code) << c.tradingDay << " entry " << index;
    }
    std::set<std::string> distinct;
    for (int i = 0; i < universe.count(); ++i) distinct.insert(universe.code(i));
    EXPECT_EQ(distinct.size(), 1450u) << c.tradingDay;
    for (int month = 0; month < 25; ++month) {
      EXPECT_STREQ(universe.code(month * 59 + 1), universe.code(month * 59 + 19)) << c.tradingDay;
    }
  }
}

TEST(InstrumentUniverseTest, ANewGenerationReplacesTheOldList) {
  InstrumentUniverse universe;
  universe.Generate(20210603);
  universe.Generate(20211231);
  EXPECT_EQ(universe.count(), 1475);
  EXPECT_STREQ(universe.code(0), "sc2112");
}

TEST(InstrumentUniverseTest, MonthArithmetic) {
  EXPECT_EQ(InstrumentUniverse::MonthNumber(20210603), 2106);
  EXPECT_EQ(InstrumentUniverse::MonthNumber(20000101), 1);
  EXPECT_EQ(InstrumentUniverse::NextMonth(2112), 2201);
  EXPECT_EQ(InstrumentUniverse::NextMonth(2111), 2112);
  EXPECT_EQ(InstrumentUniverse::NextMonth(9912), 10001);
}

}  // namespace
