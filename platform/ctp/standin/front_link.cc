#include "platform/ctp/standin/front_link.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/ctp/standin/front_address.h"
#include "platform/ctp/standin/vendor_records.h"
#include "platform/ctp/wire/front_message.h"

namespace {

// Reading stops while this many events wait for the callback thread; the front then sees a full socket.
constexpr std::size_t kPauseAtEvents = 200000;
constexpr std::size_t kMaxOutbound = 16 * 1024 * 1024;
constexpr std::size_t kMaxReadPerWake = 1024 * 1024;

int MillisUntil(std::chrono::steady_clock::time_point when, std::chrono::steady_clock::time_point now) {
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(when - now).count();
  return ms <= 0 ? 0 : static_cast<int>(std::min<long long>(ms + 1, 60000));
}

void SetNonBlocking(int fd) { ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK); }

}  // namespace

FrontLink::FrontLink(const MdApiTiming& timing, CallbackQueue& queue) : timing_(timing), queue_(queue) {
  if (::pipe2(wake_, O_NONBLOCK | O_CLOEXEC) != 0) wake_[0] = wake_[1] = -1;
}

FrontLink::~FrontLink() {
  Stop();
  if (wake_[0] >= 0) ::close(wake_[0]);
  if (wake_[1] >= 0) ::close(wake_[1]);
}

void FrontLink::AddFront(std::string address) {
  std::lock_guard<std::mutex> lock(mutex_);
  fronts_.push_back(std::move(address));
}

void FrontLink::Start() {
  if (thread_.joinable()) return;
  thread_ = std::thread([this] { Run(); });
}

void FrontLink::Stop() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  Wake();
  if (thread_.joinable()) thread_.join();
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
  }
}

int FrontLink::Send(std::string_view frames) {
  bool was_empty = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!connected_ || stopping_) return -1;
    if (outbound_.size() + frames.size() > kMaxOutbound) return -2;
    was_empty = outbound_.empty();
    outbound_.append(frames);
  }
  if (was_empty) Wake();
  return 0;
}

void FrontLink::Wake() {
  if (wake_[1] < 0) return;
  char byte = 1;
  [[maybe_unused]] ssize_t n = ::write(wake_[1], &byte, 1);
}

void FrontLink::DrainWakePipe() {
  char bytes[64];
  while (::read(wake_[0], bytes, sizeof bytes) > 0) {
  }
}

bool FrontLink::Paused() const { return queue_.pending() >= kPauseAtEvents; }

void FrontLink::Run() {
  StartRound(0);
  for (;;) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (stopping_) break;
    }
    auto now = Clock::now();
    pollfd fds[2] = {{wake_[0], POLLIN, 0}, {fd_, 0, 0}};
    if (state_ == State::kConnecting) fds[1].events = POLLOUT;
    if (state_ == State::kConnected) {
      if (!Paused()) fds[1].events |= POLLIN;
      if (write_offset_ < write_buffer_.size()) fds[1].events |= POLLOUT;
    }
    int timeout = PollTimeoutMs(now);
    int ready = ::poll(fds, fd_ >= 0 ? 2 : 1, timeout);
    if (ready < 0 && errno != EINTR) break;
    now = Clock::now();
    if (ready > 0 && (fds[0].revents & POLLIN)) DrainWakePipe();

    switch (state_) {
      case State::kWaiting:
        if (now >= deadline_) StartRound(round_next_);
        break;
      case State::kConnecting:
        if (fds[1].revents != 0) {
          FinishConnect();
        } else if (now >= deadline_) {
          ::close(fd_);
          fd_ = -1;
          TryNextFront();
        }
        break;
      case State::kConnected:
        if (fds[1].revents & (POLLIN | POLLHUP | POLLERR)) ReadFront();
        if (state_ != State::kConnected) break;
        if (Paused()) last_received_ = now;  // unread bytes are no sign of a silent front
        if (now - last_received_ >= std::chrono::milliseconds(timing_.heartbeat_timeout_ms)) {
          Disconnect(kHeartbeatTimeout);
          break;
        }
        if (now - last_heartbeat_ >= std::chrono::milliseconds(timing_.heartbeat_ms)) {
          AppendHeartbeat(write_buffer_);
          last_heartbeat_ = now;
        }
        TakeOutbound();
        WriteFront();
        break;
    }
    queue_.Push(events_);
  }
  queue_.Push(events_);
}

int FrontLink::PollTimeoutMs(Clock::time_point now) const {
  switch (state_) {
    case State::kWaiting:
    case State::kConnecting:
      return MillisUntil(deadline_, now);
    case State::kConnected: {
      if (Paused()) return 2;
      auto heartbeat = last_heartbeat_ + std::chrono::milliseconds(timing_.heartbeat_ms);
      auto silent = last_received_ + std::chrono::milliseconds(timing_.heartbeat_timeout_ms);
      return MillisUntil(std::min(heartbeat, silent), now);
    }
  }
  return 100;
}

void FrontLink::StartRound(std::size_t first) {
  std::size_t count;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    count = fronts_.size();
  }
  round_next_ = count == 0 ? 0 : first % count;
  round_left_ = count;
  TryNextFront();
}

// Tries the remaining fronts of the round; a round where none answers counts as one read failure.
void FrontLink::TryNextFront() {
  while (round_left_ > 0) {
    std::string address;
    std::size_t index;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (fronts_.empty()) break;
      index = round_next_ % fronts_.size();
      address = fronts_[index];
    }
    round_next_ = index + 1;
    --round_left_;
    if (StartConnect(address)) {
      current_front_ = index;
      state_ = State::kConnecting;
      deadline_ = Clock::now() + std::chrono::milliseconds(timing_.connect_timeout_ms);
      return;
    }
  }
  bool any_front;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    any_front = !fronts_.empty();
  }
  if (any_front) {
    MdEvent event;
    event.kind = MdEvent::Kind::kFrontDisconnected;
    event.number = kReadFailure;
    events_.push_back(event);
  }
  state_ = State::kWaiting;
  deadline_ = Clock::now() + std::chrono::milliseconds(timing_.reconnect_ms);
}

bool FrontLink::StartConnect(const std::string& text) {
  FrontAddress address;
  if (!ParseFrontAddress(text, &address)) return false;
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICSERV;
  addrinfo* found = nullptr;
  std::string port = std::to_string(address.port);
  if (::getaddrinfo(address.host.c_str(), port.c_str(), &hints, &found) != 0 || found == nullptr) return false;
  int fd = ::socket(found->ai_family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  bool started = false;
  if (fd >= 0) {
    int rc = ::connect(fd, found->ai_addr, found->ai_addrlen);
    started = rc == 0 || errno == EINPROGRESS;
    if (!started) ::close(fd);
  }
  ::freeaddrinfo(found);
  if (!started) return false;
  fd_ = fd;
  return true;
}

void FrontLink::FinishConnect() {
  int error = 0;
  socklen_t length = sizeof error;
  if (::getsockopt(fd_, SOL_SOCKET, SO_ERROR, &error, &length) != 0 || error != 0) {
    ::close(fd_);
    fd_ = -1;
    TryNextFront();
    return;
  }
  int one = 1;
  ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  SetNonBlocking(fd_);
  state_ = State::kConnected;
  decoder_.Reset();
  write_buffer_.clear();
  write_offset_ = 0;
  last_received_ = last_heartbeat_ = Clock::now();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    connected_ = true;
    outbound_.clear();
  }
  MdEvent event;
  event.kind = MdEvent::Kind::kFrontConnected;
  events_.push_back(event);
}

void FrontLink::Disconnect(int reason) {
  ::close(fd_);
  fd_ = -1;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    connected_ = false;
    outbound_.clear();
  }
  MdEvent event;
  event.kind = MdEvent::Kind::kFrontDisconnected;
  event.number = reason;
  events_.push_back(event);
  state_ = State::kWaiting;
  round_next_ = current_front_ + 1;
  deadline_ = Clock::now() + std::chrono::milliseconds(timing_.reconnect_ms);
}

void FrontLink::TakeOutbound() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (outbound_.empty()) return;
  if (write_offset_ == write_buffer_.size()) {
    write_buffer_.clear();
    write_offset_ = 0;
  }
  write_buffer_.append(outbound_);
  outbound_.clear();
}

void FrontLink::WriteFront() {
  while (write_offset_ < write_buffer_.size()) {
    ssize_t n = ::send(fd_, write_buffer_.data() + write_offset_, write_buffer_.size() - write_offset_,
                       MSG_NOSIGNAL);
    if (n > 0) {
      write_offset_ += static_cast<std::size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
    Disconnect(kWriteFailure);
    return;
  }
  write_buffer_.clear();
  write_offset_ = 0;
}

void FrontLink::ReadFront() {
  char chunk[64 * 1024];
  std::size_t total = 0;
  while (total < kMaxReadPerWake) {
    ssize_t n = ::recv(fd_, chunk, sizeof chunk, 0);
    if (n > 0) {
      total += static_cast<std::size_t>(n);
      last_received_ = Clock::now();
      decoder_.Append(chunk, static_cast<std::size_t>(n));
      FrontMessageType type;
      std::string_view payload;
      FrameDecoder::Result result;
      while ((result = decoder_.Next(&type, &payload)) == FrameDecoder::Result::kFrame) {
        if (!HandleFrame(type, payload)) {
          Disconnect(kReadFailure);
          return;
        }
      }
      if (result == FrameDecoder::Result::kBad) {
        Disconnect(kReadFailure);
        return;
      }
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
    Disconnect(kReadFailure);  // closed by the front, or reset
    return;
  }
}

bool FrontLink::HandleFrame(FrontMessageType type, std::string_view payload) {
  MdEvent event;
  switch (type) {
    case FrontMessageType::kHeartbeat:
    case FrontMessageType::kHeartbeatReply:
      return true;
    case FrontMessageType::kLoginReply: {
      LoginReply reply;
      if (!DecodeLoginReply(payload, &reply)) return false;
      event.kind = MdEvent::Kind::kRspUserLogin;
      event.number = reply.request_id;
      ToVendor(reply.info, &event.info);
      ToVendor(reply.field, &event.login);
      break;
    }
    case FrontMessageType::kLogoutReply: {
      LogoutReply reply;
      if (!DecodeLogoutReply(payload, &reply)) return false;
      event.kind = MdEvent::Kind::kRspUserLogout;
      event.number = reply.request_id;
      ToVendor(reply.info, &event.info);
      ToVendor(reply.field, &event.logout);
      break;
    }
    case FrontMessageType::kSubscribeReply:
    case FrontMessageType::kUnsubscribeReply: {
      SubscriptionReply reply;
      if (!DecodeSubscriptionReply(payload, &reply)) return false;
      event.kind = type == FrontMessageType::kSubscribeReply ? MdEvent::Kind::kRspSubMarketData
                                                             : MdEvent::Kind::kRspUnSubMarketData;
      event.is_last = reply.is_last;
      ToVendor(reply.info, &event.info);
      ToVendor(reply.instrument, &event.instrument);
      break;
    }
    case FrontMessageType::kDepthMarketData: {
      FrontDepthMarketData tick;
      if (!DecodeDepthMarketData(payload, &tick)) return false;
      event.kind = MdEvent::Kind::kRtnDepthMarketData;
      ToVendor(tick, &event.depth);
      break;
    }
    default:
      return true;  // a message of a newer front: not ours to judge
  }
  events_.push_back(event);
  return true;
}
