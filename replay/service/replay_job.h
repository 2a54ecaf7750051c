#ifndef QUOTELOOM_REPLAY_SERVICE_REPLAY_JOB_H
#define QUOTELOOM_REPLAY_SERVICE_REPLAY_JOB_H

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

#include "replay/net/socket_interface.h"
#include "replay/protocol/replay_message.h"

class Clock;
class LiveTickRelay;
class StoredTickReader;
struct TickRecord;

// The replay state that the service owns and its replay threads read. Constant members are set
// before the first replay; the atomics are written by network threads and read by replay threads.
struct ReplayShared {
  LiveTickRelay& relay;
  const Clock& clock;
  const std::string dataRoot;
  // Bytes that may wait unsent for one client: a replay waits while its client's queue is full.
  const std::size_t sendQueueBytes;
  // Set by a start request, cleared by a stop request and by every connection close.
  std::atomic<bool> livePhase{false};
  // Raised by every start request that is taken: a replay whose own number is lower stops. A replay
  // may start just before the number reaches its own.
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

// One replay: reads the stored ticks of each day of the range in small chunks and sends them one
// per millisecond, then sends the live ticks of the contract while the live phase lasts. It stops
// within milliseconds, also in the middle of a file, when a newer start request supersedes it or
// its client's connection closes. Runs on a replay thread.
class ReplayJob {
 public:
  // Lines read under the file lock at a time: the lock is let go between chunks and between files.
  static constexpr int kChunkLines = 64;

  // `clientGone` is set when the request's connection closes: from then on nothing is sent and the
  // replay ends, so a later connection that is given the same id never receives this replay.
  ReplayJob(ReplayShared& shared, ActiveRequest request, std::uint64_t generation,
            const std::atomic<bool>& clientGone);

  void Run();

 private:
  bool Stopped() const;
  void ReplayDay(int day);
  int CountCommaLines(StoredTickReader& reader);
  void SendStoredTicks(StoredTickReader& reader);
  void SendLive();
  // Waits for room in the client's send queue, logs the line and sends; false once stopped.
  bool SendMessage(const ReplayMessage& message, const char* format, int counter);
  bool WaitForRoom();

  ReplayShared& shared_;
  const ActiveRequest request_;
  const std::uint64_t generation_;
  const std::atomic<bool>& clientGone_;
  int sent_ = 0;  // stored ticks sent so far, over all days
};

// The tick message of a live tick record.
ReplayMessage TickMessageFromRecord(const TickRecord& record);

#endif
