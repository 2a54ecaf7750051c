#include "tests/replay/replay_fixture.h"

#include <chrono>
#include <cstring>
#include <thread>

#include "core/log_sink.h"
#include "core/string_printf.h"
#include "ThostFtdcUserApiStruct.h"

std::string StoredLine(const std::string& day, const std::string& time, double lastPrice) {
  return StringPrintf("%s,%s,,%s,500,%.2f,10,3010,2990,3000,0,3001.5,%.2f,3,%.2f,4,3300,2700,1000,30000,2995,900,2996",
                      day.c_str(), day.c_str(), time.c_str(), lastPrice, lastPrice + 1, lastPrice - 1);
}

std::string StoredFile(const std::vector<std::string>& lines) {
  std::string content = "TradingDay,ActionDay,Exchange,UpdateTime,UpdateMillisec,LastPrice,Volume\r\n";
  for (const std::string& line : lines) content += line + "\r\n";
  return content;
}

TickRecord LiveTick(const std::string& contract, const std::string& time, double lastPrice) {
  CThostFtdcDepthMarketDataField data;
  std::memset(&data, 0, sizeof(data));
  std::snprintf(data.InstrumentID, sizeof(data.InstrumentID), "%s", contract.c_str());
  std::snprintf(data.TradingDay, sizeof(data.TradingDay), "20261210");
  std::snprintf(data.ActionDay, sizeof(data.ActionDay), "20261209");
  std::snprintf(data.UpdateTime, sizeof(data.UpdateTime), "%s", time.c_str());
  data.LastPrice = lastPrice;
  data.Volume = 77;
  data.AskPrice1 = lastPrice + 1;
  data.BidPrice1 = lastPrice - 1;
  TickRecord record;
  BuildTickRecord(&data, &record);
  return record;
}

void ReplayServiceTest::SetUp() {
  firstLogLine_ = TheLogSink().LineCount(LogTab::ClientConnections);
  Restart([](ReplayServiceOptions&) {});
}

void ReplayServiceTest::Restart(const std::function<void(ReplayServiceOptions&)>& adjust) {
  service_.reset();
  ReplayServiceOptions options;
  options.port = 0;
  options.bindAddress = "127.0.0.1";
  options.dataRoot = dir_.path() + "/Data";
  options.clock = &clock_;
  adjust(options);
  service_ = std::make_unique<ReplayService>(relay_, options);
  service_->StartReplayService();
  ASSERT_TRUE(service_->running());
  ASSERT_TRUE(service_->ListenAddress(nullptr, &port_));
  firstLogLine_ = TheLogSink().LineCount(LogTab::ClientConnections) - 1;  // from "行情重播服务开启"
}

void ReplayServiceTest::TearDown() { service_.reset(); }

void ReplayServiceTest::Store(const std::string& day, const std::string& contract, const std::string& content) {
  dir_.Write("Data/" + day + "/Tick/" + contract + ".csv", content);
}

std::string ReplayServiceTest::PathOf(const std::string& day, const std::string& contract) const {
  return dir_.path() + "/Data//" + day + "//Tick//" + contract + ".csv";
}

std::unique_ptr<ReplayClient> ReplayServiceTest::Connect() {
  auto client = std::make_unique<ReplayClient>();
  std::string error;
  EXPECT_TRUE(client->Connect("127.0.0.1", port_, &error)) << error;
  EXPECT_TRUE(client->ExpectGreeting(5000, &error)) << error;
  return client;
}

void ReplayServiceTest::Request(ReplayClient& client, const std::string& contract, const std::string& first,
                                const std::string& last) {
  ASSERT_TRUE(client.Send(EncodeReplayRequest(kReplayCommandStart, contract, first, last)));
}

void ReplayServiceTest::WaitSelected(const std::string& contract) {
  for (int i = 0; i < 1000; ++i) {
    const auto active = service_->activeRequest();
    if (active && active->contract == contract && relay_.active()) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  FAIL() << contract << " was never selected";
}

std::vector<ReplayMessage> ReplayServiceTest::ReadMessages(ReplayClient& client, std::size_t n, int timeoutMs) {
  std::vector<ReplayMessage> messages;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (messages.size() < n && std::chrono::steady_clock::now() < deadline) {
    ReplayMessage m;
    const ReplayClient::ReadStatus status = client.Read(&m, 50);
    if (status == ReplayClient::ReadStatus::Message) {
      messages.push_back(m);
    } else if (status != ReplayClient::ReadStatus::Timeout) {
      break;
    }
  }
  EXPECT_EQ(messages.size(), n);
  return messages;
}

bool ReplayServiceTest::NoMessage(ReplayClient& client, int ms) {
  ReplayMessage m;
  return client.Read(&m, ms) != ReplayClient::ReadStatus::Message;
}

void ReplayServiceTest::WaitNoReplay() {
  for (int i = 0; i < 1000 && service_->RunningReplays() != 0; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  EXPECT_EQ(service_->RunningReplays(), 0u);
}

std::vector<std::string> ReplayServiceTest::Log() const {
  std::vector<std::string> all = TheLogSink().Lines(LogTab::ClientConnections);
  if (firstLogLine_ >= all.size()) return {};
  return {all.begin() + static_cast<std::ptrdiff_t>(firstLogLine_), all.end()};
}

bool ReplayServiceTest::WaitForLog(const std::string& line, int timeoutMs) const {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  do {
    for (const std::string& l : Log())
      if (l == line) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  } while (std::chrono::steady_clock::now() < deadline);
  return false;
}

::testing::AssertionResult ReplayServiceTest::LogHasInOrder(const std::vector<std::string>& expected) const {
  const std::vector<std::string> log = Log();
  std::size_t at = 0;
  for (const std::string& want : expected) {
    while (at < log.size() && log[at] != want) ++at;
    if (at == log.size()) {
      std::string dump;
      for (const std::string& l : log) dump += "\n  " + l;
      return ::testing::AssertionFailure() << "missing, or out of order: " << want << "\nlog:" << dump;
    }
    ++at;
  }
  return ::testing::AssertionSuccess();
}
