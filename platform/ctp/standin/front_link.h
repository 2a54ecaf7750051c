#ifndef QUOTELOOM_PLATFORM_CTP_STANDIN_FRONT_LINK_H
#define QUOTELOOM_PLATFORM_CTP_STANDIN_FRONT_LINK_H

#include <chrono>
#include <cstddef>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "platform/ctp/standin/callback_queue.h"
#include "platform/ctp/standin/md_api_timing.h"
#include "platform/ctp/wire/frame_decoder.h"

// The connection to the fronts, run by its own network thread: connects to the registered fronts in
// order, reports connections and losses, sends heartbeats and requests, and turns what the front sends
// into events for the callback thread. AddFront and Send may be called from any thread.
class FrontLink {
 public:
  // Vendor reason codes of OnFrontDisconnected.
  static constexpr int kReadFailure = 0x1001;
  static constexpr int kWriteFailure = 0x1002;
  static constexpr int kHeartbeatTimeout = 0x2001;

  FrontLink(const MdApiTiming& timing, CallbackQueue& queue);
  ~FrontLink();
  FrontLink(const FrontLink&) = delete;
  FrontLink& operator=(const FrontLink&) = delete;

  void AddFront(std::string address);
  void Start();
  // Ends the network thread and closes the connection; not from the network thread.
  void Stop();
  // Queues whole frames for the current connection: 0, or -1 when not connected, -2 when the
  // requests not yet sent exceed the backlog limit.
  int Send(std::string_view frames);

 private:
  using Clock = std::chrono::steady_clock;
  enum class State { kWaiting, kConnecting, kConnected };

  void Run();
  int PollTimeoutMs(Clock::time_point now) const;
  void StartRound(std::size_t first);
  void TryNextFront();
  bool StartConnect(const std::string& address);
  void FinishConnect();
  void Disconnect(int reason);
  void TakeOutbound();
  void ReadFront();
  bool HandleFrame(FrontMessageType type, std::string_view payload);
  void WriteFront();
  void DrainWakePipe();
  void Wake();
  bool Paused() const;

  // Constant after construction.
  const MdApiTiming timing_;
  CallbackQueue& queue_;
  int wake_[2] = {-1, -1};

  // Guarded by mutex_ (the request lock): what other threads hand to the network thread.
  std::mutex mutex_;
  std::vector<std::string> fronts_;
  bool connected_ = false;
  bool stopping_ = false;
  std::string outbound_;

  // Network thread only.
  std::thread thread_;
  State state_ = State::kWaiting;
  int fd_ = -1;
  std::size_t round_next_ = 0;      // index of the next front to try
  std::size_t round_left_ = 0;      // fronts left to try in this round
  std::size_t current_front_ = 0;   // the front of the connection in hand
  Clock::time_point deadline_;      // end of a connect attempt or of the pause between rounds
  Clock::time_point last_received_;
  Clock::time_point last_heartbeat_;
  FrameDecoder decoder_;
  std::string write_buffer_;
  std::size_t write_offset_ = 0;
  std::vector<MdEvent> events_;
};

#endif
