#ifndef QUOTELOOM_TESTS_REPLAY_REPLAY_FIXTURE_H
#define QUOTELOOM_TESTS_REPLAY_REPLAY_FIXTURE_H

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/clock.h"
#include "core/tick_record.h"
#include "queue/live_tick_relay.h"
#include "replay/service/replay_service.h"
#include "tests/replay/test_socket.h"
#include "tools/replay_client/replay_client.h"

// A clock that always reads 2026-12-09 08:30:05.
class FixedClock : public Clock {
 public:
  ClockReading Now() const override {
    ClockReading r;
    r.year = 2026;
    r.month = 12;
    r.day = 9;
    r.hour = 8;
    r.minute = 30;
    r.second = 5;
    return r;
  }
};

// A stored tick line: the day, the time and the last price vary, the rest is fixed.
std::string StoredLine(const std::string& day, const std::string& time, double lastPrice);
// A stored tick file: the header line and the given lines.
std::string StoredFile(const std::vector<std::string>& lines);
// A live tick record of `contract`.
TickRecord LiveTick(const std::string& contract, const std::string& time, double lastPrice);

// A replay service on an ephemeral loopback port over stored files in a fresh temp folder, and
// helpers to talk to it and read its log tab.
class ReplayServiceTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  // A new service with the fixture's options changed by `adjust`; the log starts afresh with it.
  void Restart(const std::function<void(ReplayServiceOptions&)>& adjust);

  // Writes Data/<day>/Tick/<contract>.csv.
  void Store(const std::string& day, const std::string& contract, const std::string& content);
  // The path as the service logs it, with doubled separators.
  std::string PathOf(const std::string& day, const std::string& contract) const;

  std::unique_ptr<ReplayClient> Connect();
  void Request(ReplayClient& client, const std::string& contract, const std::string& first, const std::string& last);
  // Waits until the service has selected `contract` for a replay (so live ticks are forwarded).
  void WaitSelected(const std::string& contract);
  // Reads `n` tick messages; fails the test on fewer.
  std::vector<ReplayMessage> ReadMessages(ReplayClient& client, std::size_t n, int timeoutMs = 5000);
  // True if no message arrives within `ms`.
  bool NoMessage(ReplayClient& client, int ms);
  void WaitNoReplay();

  // Lines of the tab "客户端连接" logged since the test began.
  std::vector<std::string> Log() const;
  bool WaitForLog(const std::string& line, int timeoutMs = 5000) const;
  // Every line of `expected` appears in the log, in this order (other lines between them allowed).
  ::testing::AssertionResult LogHasInOrder(const std::vector<std::string>& expected) const;

  TempDir dir_;
  FixedClock clock_;
  LiveTickRelay relay_;
  std::unique_ptr<ReplayService> service_;
  unsigned short port_ = 0;
  std::size_t firstLogLine_ = 0;
};

#endif
