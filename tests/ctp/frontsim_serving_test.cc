#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "tests/ctp/recording_spi.h"
#include "tests/ctp/running_simulator.h"

namespace {

// Logs in on every connection and subscribes the given codes after each good login.
ApiPtr StartClient(RecordingSpi& spi, const std::string& front, std::vector<std::string> codes) {
  ::setenv("QUOTELOOM_CTP_RECONNECT_MS", "100", 1);
  ApiPtr api(CThostFtdcMdApi::CreateFtdcMdApi());
  CThostFtdcMdApi* raw = api.get();
  api->RegisterSpi(&spi);
  std::string address = front;
  api->RegisterFront(address.data());
  spi.on_connected = [raw] {
    CThostFtdcReqUserLoginField login{};
    std::strcpy(login.BrokerID, "9999");
    std::strcpy(login.UserID, "quoteloom");
    std::strcpy(login.Password, "quoteloom");
    raw->ReqUserLogin(&login, 1);
  };
  spi.on_login = [raw, codes](CThostFtdcRspUserLoginField*, CThostFtdcRspInfoField* info) mutable {
    if (info->ErrorID != 0) return;
    for (std::string& code : codes) {
      char* one[] = {code.data()};
      raw->SubscribeMarketData(one, 1);
    }
  };
  api->Init();
  return api;
}

TEST(FrontSimServingTest, ChosenFieldsCarryNanAndTheLargestDouble) {
  SimOptions options;
  options.trading_day = "20210603";
  options.contract_rate = 100;
  options.nan_fields = {"LastPrice"};
  options.max_fields = {"AskPrice1", "Turnover"};
  options.fault_every = 2;
  RunningSimulator simulator(options);
  RecordingSpi spi;
  ApiPtr api = StartClient(spi, simulator.front(), {"rb2106"});
  ASSERT_TRUE(spi.WaitFor([](const auto&, const auto& ticks) { return ticks.size() >= 6; }));
  std::vector<CThostFtdcDepthMarketDataField> ticks = spi.ticks();
  for (std::size_t i = 0; i < ticks.size(); ++i) {
    bool hit = i % 2 == 1;  // the second, fourth ... tick of the contract
    EXPECT_EQ(std::isnan(ticks[i].LastPrice), hit) << i;
    EXPECT_EQ(ticks[i].AskPrice1 == DBL_MAX, hit) << i;
    EXPECT_EQ(ticks[i].Turnover == DBL_MAX, hit) << i;
    EXPECT_FALSE(std::isnan(ticks[i].BidPrice1));
  }
}

TEST(FrontSimServingTest, ReplaySendsTheRecordedTicksOfSubscribedContracts) {
  std::filesystem::path dir =
      std::filesystem::temp_directory_path() / ("frontsim_serving_" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  const char* rest = ",3725.00,%d,3750.00,3700.00,3710.00,-1.00,37251.23,3726.00,15,3725.00,30,3950.00,3500.00,"
                     "1654321.00,4598765432.00,3720.00,1650000.00,3722.00\r\n";
  {
    std::ofstream rb(dir / "rb2405.csv", std::ios::binary);
    std::ofstream cu(dir / "cu2405.csv", std::ios::binary);
    char line[512];
    for (int i = 0; i < 5; ++i) {
      std::snprintf(line, sizeof line, (std::string("20240301090507,rb2405,20240301,20240301,09:05:0%d,0") + rest).c_str(),
                    i, 100 + i);
      rb << line;
      std::snprintf(line, sizeof line, (std::string("20240301090507,cu2405,20240301,20240301,09:05:0%d,500") + rest).c_str(),
                    i, 200 + i);
      cu << line;
    }
  }
  SimOptions options;
  options.replay_paths = {dir.string()};
  options.replay_speed = 0;
  options.replay_delay_s = 0.1;
  RunningSimulator simulator(options);
  EXPECT_EQ(simulator->listed().size(), 2u);
  RecordingSpi spi;
  ApiPtr api = StartClient(spi, simulator.front(), {"rb2405"});
  ASSERT_TRUE(spi.WaitFor([](const auto&, const auto& ticks) { return ticks.size() >= 5; }));
  EXPECT_FALSE(spi.WaitFor([](const auto&, const auto& ticks) { return ticks.size() > 5; },
                           std::chrono::milliseconds(200)));
  std::vector<CThostFtdcDepthMarketDataField> ticks = spi.ticks();
  for (int i = 0; i < 5; ++i) {
    EXPECT_STREQ(ticks[i].InstrumentID, "rb2405");
    EXPECT_EQ(ticks[i].Volume, 100 + i);
    EXPECT_EQ(ticks[i].ClosePrice, DBL_MAX);
    EXPECT_EQ(ticks[i].Turnover, 4598765432.0);
  }
  SimSummary summary = simulator->Summary();
  EXPECT_EQ(summary.ticks_total, 5u);
  EXPECT_EQ(summary.ticks.count("cu2405"), 0u);
  std::filesystem::remove_all(dir);
}

TEST(FrontSimServingTest, LoadModeSpreadsTheTotalRateOverSubscribedContracts) {
  SimOptions options;
  options.trading_day = "20210603";
  options.total_rate = 2000;
  RunningSimulator simulator(options);
  RecordingSpi spi;
  ApiPtr api = StartClient(spi, simulator.front(), {"rb2106", "cu2107", "i2109", "nothing1"});
  ASSERT_TRUE(spi.WaitFor([](const auto&, const auto& ticks) { return ticks.size() >= 300; }));
  std::map<std::string, int> per_contract;
  for (const auto& tick : spi.ticks()) ++per_contract[tick.InstrumentID];
  ASSERT_EQ(per_contract.size(), 3u);
  for (const auto& [code, count] : per_contract) EXPECT_GE(count, 90) << code;
  EXPECT_EQ(simulator->Summary().subscriptions, 4u);
}

// A connected raw socket to the simulator.
int RawClient(unsigned short port) {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  EXPECT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  timeval timeout{3, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
  return fd;
}

TEST(FrontSimServingTest, BrokenClientsAreCutOffAndOthersServed) {
  SimOptions options;
  options.trading_day = "20210603";
  options.contract_rate = 100;
  RunningSimulator simulator(options);
  RecordingSpi spi;
  ApiPtr api = StartClient(spi, simulator.front(), {"rb2106"});
  std::string huge_length("\xff\xff\xff\x7f\x02", 5);
  std::string unknown_type("\x00\x00\x00\x00\x7e", 5);
  std::string short_login("\x03\x00\x00\x00\x02" "abc", 8);
  for (const std::string& garbage : {huge_length, unknown_type, short_login}) {
    int fd = RawClient(simulator->port());
    ASSERT_EQ(::send(fd, garbage.data(), garbage.size(), MSG_NOSIGNAL), static_cast<ssize_t>(garbage.size()));
    char byte;
    EXPECT_LE(::recv(fd, &byte, 1, 0), 0);  // closed or reset, never answered
    ::close(fd);
  }
  std::size_t before = spi.ticks().size();
  ASSERT_TRUE(spi.WaitFor([&](const auto&, const auto& ticks) { return ticks.size() >= before + 5; }));
  EXPECT_EQ(spi.lines().front(), "connected");
  for (const std::string& line : spi.lines()) EXPECT_EQ(line.rfind("disconnected", 0), std::string::npos);
}

TEST(FrontSimServingTest, ClientsOfOneContractSeeTheSameMarket) {
  SimOptions options;
  options.trading_day = "20210603";
  options.contract_rate = 100;
  RunningSimulator simulator(options);
  RecordingSpi first_spi, second_spi;
  ApiPtr first = StartClient(first_spi, simulator.front(), {"rb2106"});
  ApiPtr second = StartClient(second_spi, simulator.front(), {"rb2106", "cu2107"});
  auto enough = [](const auto&, const auto& ticks) { return ticks.size() >= 20; };
  ASSERT_TRUE(first_spi.WaitFor(enough));
  ASSERT_TRUE(second_spi.WaitFor(enough));
  std::vector<int> a, b;
  for (const auto& tick : first_spi.ticks()) a.push_back(tick.Volume);
  for (const auto& tick : second_spi.ticks()) {
    if (std::strcmp(tick.InstrumentID, "rb2106") == 0) b.push_back(tick.Volume);
  }
  // Whoever subscribed later joined the same walk part way through.
  if (std::find(a.begin(), a.end(), b.front()) == a.end()) std::swap(a, b);
  auto join = std::find(a.begin(), a.end(), b.front());
  ASSERT_NE(join, a.end());
  std::size_t overlap = std::min<std::size_t>(a.end() - join, b.size());
  ASSERT_GE(overlap, 5u);
  EXPECT_TRUE(std::equal(join, join + overlap, b.begin()));
}

}  // namespace
