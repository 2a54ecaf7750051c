#ifndef QUOTELOOM_REPLAY_SERVICE_REPLAY_JOB_H
#define QUOTELOOM_REPLAY_SERVICE_REPLAY_JOB_H

#include <atomic>
#include <cstdint>
#include <deque>
#include <string>

#include "replay/net/socket_interface.h"
#include "replay/protocol/replay_message.h"

class Clock;
class LiveTickRelay;
struct TickRecord;

// The replay state that the service owns and its replay threads read. Constant members are set
// before the first replay; the atomics are written by network threads and read by replay threads.
struct ReplayShared {
  LiveTickRelay& relay;
  const Clock& clock;
  const std::string dataRoot;
  // Set by a start request, cleared by a stop request and by every connection close.
  std::atomic<bool> livePhase{false};
  // Raised by every start request: a replay thread whose own number is older stops.
  std::atomic<std::uint64_t> generation{0};
  // Set when the service is destroyed: every replay thread ends at its next step.
  std::atomic<bool> abandon{false};
};

// A start request as one replay thread keeps it: its own copy, never shared.
struct ActiveRequest {
  IComplexSocket* server = nullptr;
  ConnectionId client = 0;
  std::string contract;  // at most 30 characters
  std::string firstDay;  // at most 9 characters
  std::string lastDay;   // at most 9 characters
};

// One replay: loads the stored ticks of every day of the range, sends them one per millisecond,
// then sends the live ticks of the contract while the live phase lasts. Runs on its own thread.
class ReplayJob {
 public:
  ReplayJob(ReplayShared& shared, ActiveRequest request, std::uint64_t generation);

  void Run();

 private:
  bool Superseded() const;
  void LoadDay(int day);
  void SendHistory();
  void SendLive();
  void SendMessage(const ReplayMessage& message, const char* format, int counter);

  ReplayShared& shared_;
  const ActiveRequest request_;
  const std::uint64_t generation_;
  std::deque<ReplayMessage> history_;
};

// The tick message of a live tick record.
ReplayMessage TickMessageFromRecord(const TickRecord& record);

#endif
