#include <gtest/gtest.h>

#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>

#include "platform/frontsim/listed_contract.h"
#include "platform/frontsim/market_events.h"
#include "platform/frontsim/replay_tick.h"
#include "platform/frontsim/sim_options.h"
#include "platform/frontsim/sim_summary.h"
#include "platform/frontsim/tick_generator.h"
#include "platform/frontsim/tick_pacer.h"
#include "sessions/session_clock.h"

namespace {

bool Listed(const std::vector<ListedContract>& contracts, const std::string& code) {
  for (const ListedContract& c : contracts) {
    if (c.code == code) return true;
  }
  return false;
}

TEST(ListedContractTest, BuiltInListUsesTheCollectorsCodesAndRealMonths) {
  std::vector<ListedContract> contracts = BuiltInListedContracts(20210603);
  EXPECT_GT(contracts.size(), 500u);
  EXPECT_LT(contracts.size(), 800u);
  std::set<std::string> codes;
  for (const ListedContract& c : contracts) {
    EXPECT_TRUE(codes.insert(c.code).second) << "twice: " << c.code;
    EXPECT_GT(c.base_price, 0);
    EXPECT_GT(c.tick, 0);
  }
  struct Case {
    const char* code;
    bool listed;
  };
  const Case cases[] = {
      {"rb2106", true},  {"rb2205", true},  {"rb2206", false},  // twelve months from June
      {"AP110", true},   {"AP106", false},  {"AP2110", false},  // CZCE: three digits, its own months
      {"sc2106", true},  {"sc2303", true},  {"sc2304", false},  // crude: quarterly after a year
      {"bu2111", true},  {"bu2201", false}, {"bu2203", true},   // bitumen: quarterly after six months
      {"IF2106", true},  {"IF2107", true},  {"IF2109", true},   {"IF2112", true}, {"IF2108", false},
      {"T2106", true},   {"T2109", true},   {"T2112", true},    {"T2203", false},
      {"a2107", true},   {"a2108", false},  {"m2108", true},
  };
  for (const Case& c : cases) EXPECT_EQ(Listed(contracts, c.code), c.listed) << c.code;
}

TEST(ListedContractTest, MonthFormsAcrossYearEnds) {
  std::vector<ListedContract> late_december = BuiltInListedContracts(20211231);
  EXPECT_TRUE(Listed(late_december, "AP201"));
  EXPECT_TRUE(Listed(late_december, "sc2201"));
  EXPECT_FALSE(Listed(late_december, "sc2112"));  // past mid-month the delivery month is gone
  EXPECT_FALSE(Listed(late_december, "IF2112"));  // after the third Friday
  std::vector<ListedContract> early_december = BuiltInListedContracts(20201201);
  EXPECT_TRUE(Listed(early_december, "AP012"));
  EXPECT_TRUE(Listed(early_december, "sc2012"));
  EXPECT_TRUE(Listed(early_december, "IF2012"));
}

TEST(ListedContractTest, ListFileGivesCodesWithProductPrices) {
  std::filesystem::path dir = std::filesystem::temp_directory_path() / ("frontsim_list_" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  {
    std::ofstream(dir / "good.txt") << "# two contracts\nrb2106\n\n  cu2107  \r\n";
    std::ofstream(dir / "bad.txt") << "rb2106\nrb 2106\n";
  }
  std::vector<ListedContract> contracts;
  std::string error;
  ASSERT_TRUE(LoadListedContracts((dir / "good.txt").string(), &contracts, &error)) << error;
  ASSERT_EQ(contracts.size(), 2u);
  EXPECT_EQ(contracts[1].code, "cu2107");
  EXPECT_EQ(contracts[1].exchange, "SHFE");
  EXPECT_EQ(contracts[1].tick, 10);
  EXPECT_FALSE(LoadListedContracts((dir / "bad.txt").string(), &contracts, &error));
  EXPECT_NE(error.find(":2:"), std::string::npos) << error;
  EXPECT_FALSE(LoadListedContracts((dir / "missing.txt").string(), &contracts, &error));
  std::filesystem::remove_all(dir);
}

TEST(SimOptionsTest, ParsesTheCommandLine) {
  const char* argv[] = {"frontsim", "--listen", "127.0.0.1:0", "--broker", "b", "--user", "u", "--password",
                        "p", "--trading-day", "20210603", "--total-rate", "50000", "--duration", "2.5",
                        "--drop-after-ticks", "10", "--seed", "7", "--summary", "/tmp/x.json",
                        "--nan-fields", "LastPrice,AskPrice1", "--max-fields", "Turnover", "--ignore-heartbeats",
                        "--hostile-every", "40"};
  SimOptions options;
  std::string error;
  ASSERT_TRUE(ParseSimOptions(static_cast<int>(std::size(argv)), argv, &options, &error)) << error;
  EXPECT_EQ(options.listen_port, 0);
  EXPECT_EQ(options.broker, "b");
  EXPECT_EQ(options.trading_day, "20210603");
  EXPECT_EQ(options.total_rate, 50000);
  EXPECT_EQ(options.duration_s, 2.5);
  EXPECT_EQ(options.drop_after_ticks, 10u);
  EXPECT_EQ(options.seed, 7u);
  EXPECT_EQ(options.nan_fields, (std::vector<std::string>{"LastPrice", "AskPrice1"}));
  EXPECT_EQ(options.max_fields, (std::vector<std::string>{"Turnover"}));
  EXPECT_TRUE(options.ignore_heartbeats);
  EXPECT_EQ(options.hostile_every, 40u);

  const std::vector<std::vector<const char*>> bad = {
      {"frontsim", "--listen", "127.0.0.1"},     {"frontsim", "--listen", "127.0.0.1:70000"},
      {"frontsim", "--trading-day", "2021063"},  {"frontsim", "--trading-day", "20211301"},
      {"frontsim", "--total-rate", "-5"},        {"frontsim", "--seed", "x"},
      {"frontsim", "--nan-fields", "Volume"},    {"frontsim", "--fault-every", "0"},
      {"frontsim", "--bogus", "1"},              {"frontsim", "--duration"},
      {"frontsim", "--hostile-every", "0"},       {"frontsim", "--service-hours", "25:00-26:00"},
      {"frontsim", "--test-window", "15:15"},
  };
  const char* equals[] = {"frontsim", "--listen=127.0.0.1:5", "--contract-rate=0.5", "--market-hours",
                          "--service-hours", "20:30-02:45,08:30-15:30,16:00-17:00", "--truth=/tmp/t"};
  SimOptions market;
  ASSERT_TRUE(ParseSimOptions(static_cast<int>(std::size(equals)), equals, &market, &error)) << error;
  EXPECT_EQ(market.listen_port, 5);
  EXPECT_EQ(market.contract_rate, 0.5);
  EXPECT_TRUE(market.market_hours);
  EXPECT_EQ(market.truth_dir, "/tmp/t");
  EXPECT_EQ(market.service_windows.size(), 3u);
  EXPECT_EQ(market.service_windows[0], std::make_pair(20 * 3600 + 1800, 2 * 3600 + 2700));

  for (const auto& args : bad) {
    SimOptions ignored;
    EXPECT_FALSE(ParseSimOptions(static_cast<int>(args.size()), args.data(), &ignored, &error)) << args[1];
    EXPECT_FALSE(error.empty());
  }
}

TEST(TickGeneratorTest, SameSeedSameWalkAndFieldsAreConsistent) {
  std::vector<ListedContract> contracts = {ContractForCode("rb2106"), ContractForCode("CF109")};
  TickGenerator a(contracts, 42, "20210603");
  TickGenerator b(contracts, 42, "20210603");
  TickGenerator other(contracts, 43, "20210603");
  ClockReading now;
  FrontDepthMarketData ta, tb, tc;
  bool differs = false;
  for (int i = 0; i < 200; ++i) {
    // Asking for the contracts in another order does not change either walk.
    a.Next(i % 2, now, &ta);
    b.Next(i % 2, now, &tb);
    other.Next(i % 2, now, &tc);
    ASSERT_EQ(std::memcmp(&ta, &tb, sizeof ta), 0) << i;
    differs = differs || ta.LastPrice != tc.LastPrice;
    EXPECT_LE(ta.LowestPrice, ta.LastPrice);
    EXPECT_GE(ta.HighestPrice, ta.LastPrice);
    EXPECT_EQ(ta.ClosePrice, DBL_MAX);
    EXPECT_EQ(ta.SettlementPrice, DBL_MAX);
    EXPECT_LT(ta.BidPrice1, ta.AskPrice1);
    EXPECT_LT(ta.BidPrice2, ta.BidPrice1);
    EXPECT_GT(ta.AskPrice5, ta.AskPrice4);
  }
  EXPECT_TRUE(differs);
  // CZCE quotes the average as a price; the others as price times multiplier.
  EXPECT_NEAR(ta.AveragePrice, ta.LastPrice, ta.LastPrice * 0.1);
}

// The text of `value` with `decimals` decimals, trailing zeros (and a bare point) cut.
std::string FixedDecimals(double value, int decimals) {
  char text[64];
  std::snprintf(text, sizeof text, "%.*f", decimals, value);
  std::string out = text;
  if (out.find('.') != std::string::npos) {
    while (out.back() == '0') out.pop_back();
    if (out.back() == '.') out.pop_back();
  }
  return out;
}

std::string Shortest(double value) {
  char text[64];
  const auto r = std::to_chars(text, text + sizeof text, value);
  return std::string(text, r.ptr);
}

// Every price sent lies on its product's tick grid as the double nearest to its decimal value, so the
// shortest text that reads back to it is the price as the exchange writes it ("5095.4", never
// "5095.399999999996"), for every tick size of the product table.
TEST(TickGeneratorTest, PricesAreTheNearestDoublesToWholeTicks) {
  // One contract of each tick size, each walked far enough to cross many prices.
  std::vector<ListedContract> contracts;
  std::set<double> ticks;
  for (const ListedContract& c : BuiltInListedContracts(20240301)) {
    if (ticks.insert(c.tick).second) contracts.push_back(c);
  }
  ASSERT_GE(ticks.size(), 8u);  // 0.005 to 10
  TickGenerator generator(contracts, 7, "20240301");
  ClockReading now;
  FrontDepthMarketData t;
  for (std::size_t index = 0; index < contracts.size(); ++index) {
    const std::string tickText = Shortest(contracts[index].tick);
    const std::size_t point = tickText.find('.');
    const int decimals = point == std::string::npos ? 0 : static_cast<int>(tickText.size() - point - 1);
    for (int i = 0; i < 1000; ++i) {
      generator.Next(index, now, &t);
      for (double price : {t.LastPrice, t.OpenPrice, t.HighestPrice, t.LowestPrice, t.PreSettlementPrice,
                           t.PreClosePrice, t.UpperLimitPrice, t.LowerLimitPrice, t.BidPrice1, t.BidPrice2,
                           t.BidPrice3, t.BidPrice4, t.BidPrice5, t.AskPrice1, t.AskPrice2, t.AskPrice3,
                           t.AskPrice4, t.AskPrice5}) {
        const std::string decimal = FixedDecimals(price, decimals);
        ASSERT_EQ(Shortest(price), decimal) << contracts[index].code << " tick " << tickText;
        char full[64];
        std::snprintf(full, sizeof full, "%.17g", price);
        ASSERT_EQ(std::strtod(full, nullptr), std::strtod(decimal.c_str(), nullptr)) << full;
        const double steps = price / contracts[index].tick;
        ASSERT_NEAR(steps, std::round(steps), 1e-6) << decimal << " is off the grid of " << tickText;
      }
    }
  }
}

TEST(TickPacerTest, SpreadsTheRateAndNeverBursts) {
  using namespace std::chrono_literals;
  TickPacer pacer;
  auto t0 = TickPacer::Clock::now();
  EXPECT_EQ(pacer.Due(100, t0), 0u);  // a new rate starts counting here
  EXPECT_EQ(pacer.Due(100, t0 + 5ms), 0u);
  EXPECT_EQ(pacer.Due(100, t0 + 50ms), 5u);
  EXPECT_EQ(pacer.Due(100, t0 + 50ms), 0u);
  EXPECT_EQ(pacer.Due(100, t0 + 100ms), 5u);
  // Two seconds of stall give one tenth of a second's worth, not two hundred ticks.
  EXPECT_EQ(pacer.Due(100, t0 + 2100ms), 11u);
  EXPECT_EQ(pacer.Due(100, t0 + 2150ms), 5u);
  EXPECT_EQ(pacer.Due(50, t0 + 2200ms), 0u);
  EXPECT_EQ(pacer.Due(50, t0 + 2300ms), 5u);
  EXPECT_EQ(pacer.Due(0, t0 + 3s), 0u);
  EXPECT_EQ(pacer.Due(0, t0 + 4s), 0u);
}

TEST(ReplayTickTest, ReadsBothStoredStylesBackIntoRecords) {
  FrontDepthMarketData general, fixed;
  ASSERT_TRUE(ParseTickLine("20240301090507,rb2405,20240301,20240301,09:05:07,500,3725,123456,3750,3700,3710,-1,"
                            "37251.2,3726,15,3725,30,3950,3500,1.65432e+06,4.59877e+09,3720,1.65e+06,3722\r\n",
                            &general));
  ASSERT_TRUE(ParseTickLine("20240301090507,rb2405,20240301,20240301,09:05:07,500,3725.00,123456,3750.00,"
                            "3700.00,3710.00,-1.00,37251.23,3726.00,15,3725.00,30,3950.00,3500.00,1654321.00,"
                            "4598765432.00,3720.00,1650000.00,3722.00\r\n",
                            &fixed));
  for (const auto* f : {&general, &fixed}) {
    EXPECT_STREQ(f->InstrumentID, "rb2405");
    EXPECT_STREQ(f->TradingDay, "20240301");
    EXPECT_STREQ(f->UpdateTime, "09:05:07");
    EXPECT_EQ(f->UpdateMillisec, 500);
    EXPECT_EQ(f->LastPrice, 3725);
    EXPECT_EQ(f->Volume, 123456);
    EXPECT_EQ(f->ClosePrice, DBL_MAX);  // the stored -1 means "not set"
    EXPECT_EQ(f->AskVolume1, 15);
    EXPECT_EQ(f->BidPrice1, 3725);
    EXPECT_EQ(f->PreSettlementPrice, 3722);
  }
  EXPECT_EQ(fixed.Turnover, 4598765432.0);
  EXPECT_EQ(fixed.OpenInterest, 1654321.0);
  const char* bad[] = {
      "",
      "a,b,c",
      "20240301090507,rb2405,20240301,20240301,09:05:07,500,x,123456,3750,3700,3710,-1,37251.2,3726,15,3725,30,"
      "3950,3500,1,1,3720,1,3722",
      "20240301090507,rb2405,20240301,20240301,09:05:07,500,3725,123456,3750,3700,3710,-1,37251.2,3726,15,3725,30,"
      "3950,3500,1,1,3720,1,3722,99",
      "20240301090507,,20240301,20240301,09:05:07,500,3725,1,3750,3700,3710,-1,37251.2,3726,15,3725,30,3950,3500,"
      "1,1,3720,1,3722",
  };
  FrontDepthMarketData ignored;
  for (const char* line : bad) EXPECT_FALSE(ParseTickLine(line, &ignored)) << line;
}

TEST(ReplayTickTest, FilesOfAFolderAreMergedInTimeOrder) {
  std::filesystem::path dir = std::filesystem::temp_directory_path() / ("frontsim_replay_" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  const char* rest = ",3725,1,3750,3700,3710,-1,37251.2,3726,15,3725,30,3950,3500,1,1,3720,1,3722\r\n";
  {
    std::ofstream a(dir / "rb2405.csv", std::ios::binary);
    a << "x,rb2405,20240301,20240229,21:00:01,0" << rest << "x,rb2405,20240301,20240301,09:00:00,500" << rest
      << "not a tick line\r\n";
    std::ofstream b(dir / "cu2405.csv", std::ios::binary);
    b << "x,cu2405,20240301,20240229,23:59:59,500" << rest;
    std::ofstream(dir / "notes.txt") << "ignored";
  }
  std::vector<ListedContract> contracts;
  std::vector<ReplayTick> ticks;
  std::size_t bad_lines = 0;
  std::string error;
  ASSERT_TRUE(LoadReplay({dir.string()}, &contracts, &ticks, &bad_lines, &error)) << error;
  EXPECT_EQ(bad_lines, 1u);
  ASSERT_EQ(ticks.size(), 3u);
  EXPECT_STREQ(ticks[0].field.UpdateTime, "21:00:01");
  EXPECT_STREQ(ticks[1].field.InstrumentID, "cu2405");
  EXPECT_STREQ(ticks[2].field.UpdateTime, "09:00:00");
  EXPECT_DOUBLE_EQ(ticks[1].at_s, 3 * 3600 - 1.5);
  EXPECT_DOUBLE_EQ(ticks[2].at_s, 12 * 3600 - 0.5);
  EXPECT_EQ(contracts[ticks[1].contract].code, "cu2405");
  EXPECT_FALSE(LoadReplay({(dir / "missing").string()}, &contracts, &ticks, &bad_lines, &error));

  // With write stamps the order of arrival wins over the exchange's own dates: a night tick stamped
  // with the next day's date (as one exchange does) still comes before the day session.
  {
    std::ofstream night(dir / "i2109.csv", std::ios::binary);
    night << "20210603210000,i2109,20210604,20210604,21:00:00,0" << rest;
    std::ofstream day(dir / "rb2405.csv", std::ios::binary);
    day << "20210604090000,rb2405,20210604,20210604,09:00:00,500" << rest;
  }
  std::filesystem::remove(dir / "cu2405.csv");
  ASSERT_TRUE(LoadReplay({dir.string()}, &contracts, &ticks, &bad_lines, &error)) << error;
  ASSERT_EQ(ticks.size(), 2u);
  EXPECT_STREQ(ticks[0].field.InstrumentID, "i2109");
  EXPECT_DOUBLE_EQ(ticks[1].at_s, 12 * 3600 + 0.5);
  std::filesystem::remove_all(dir);
}

TEST(SimSummaryTest, JsonCarriesTheCounts) {
  SimSummary summary;
  summary.ticks_total = 5;
  summary.ticks = {{"rb2106", 3}, {"AP106", 2}};
  summary.logins = 1;
  summary.subscriptions = 1475;
  std::string json = summary.ToJson();
  EXPECT_NE(json.find("\"ticks_total\": 5,"), std::string::npos) << json;
  EXPECT_NE(json.find("\"ticks\": {\n    \"AP106\": 2,\n    \"rb2106\": 3\n  },"), std::string::npos) << json;
  EXPECT_NE(json.find("\"logins\": 1,"), std::string::npos);
  EXPECT_NE(json.find("\"subscriptions\": 1475,"), std::string::npos);
  EXPECT_NE(SimSummary{}.ToJson().find("\"ticks\": {},"), std::string::npos);
  std::string error;
  EXPECT_FALSE(WriteSimSummary(summary, "/nonexistent-dir/summary.json", &error));
  EXPECT_FALSE(error.empty());
}

}  // namespace

namespace {

std::string EventText(const std::vector<MarketEvent>& events) {
  std::string text;
  for (const MarketEvent& e : events) {
    const int t = TimeOfDay(e.session_second);
    char item[32];
    std::snprintf(item, sizeof item, "%s%02d:%02d ", e.closing ? "close " : "auction ", t / 3600, t / 60 % 60);
    text += item;
  }
  return text;
}

// The fixed-time snapshots of a trading day: the day auction only when there was no night.
TEST(MarketEventsTest, AuctionsAndClosesFollowTheProductsHoursAndTheNight) {
  struct Case {
    const char* product;
    bool night;
    const char* events;
  };
  const Case cases[] = {
      {"rb", true, "auction 20:59 close 23:00 close 10:15 close 11:30 close 15:00 "},
      {"rb", false, "auction 08:59 close 10:15 close 11:30 close 15:00 "},
      {"au", true, "auction 20:59 close 02:30 close 10:15 close 11:30 close 15:00 "},
      {"AP", true, "auction 08:59 close 10:15 close 11:30 close 15:00 "},
      {"IF", true, "auction 09:29 close 11:30 close 15:00 "},
      {"T", false, "auction 09:29 close 11:30 close 15:15 "},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(EventText(MarketEvents(*FindProductHours(c.product), c.night)), c.events) << c.product << " " << c.night;
  }
}

TEST(MarketEventsTest, ServiceWindowsMayRunPastMidnightAndEndBeforeTheirEnd) {
  const std::vector<std::pair<int, int>> windows = {{20 * 3600 + 1800, 2 * 3600 + 2700}, {8 * 3600 + 1800, 15 * 3600 + 1800}};
  struct Case {
    int h, m;
    bool in;
  };
  const Case cases[] = {{20, 29, false}, {20, 30, true}, {23, 59, true}, {0, 0, true},  {2, 44, true},
                        {2, 45, false},  {8, 29, false}, {8, 30, true},  {15, 29, true}, {15, 30, false}};
  for (const Case& c : cases) EXPECT_EQ(InWindows(c.h * 3600 + c.m * 60, windows), c.in) << c.h << ":" << c.m;
}

}  // namespace
