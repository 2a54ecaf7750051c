#include "platform/frontsim/front_simulator.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

#include "core/clock.h"
#include "core/gbk.h"
#include "platform/frontsim/fault_field.h"
#include "platform/frontsim/listen_socket.h"
#include "platform/frontsim/market_events.h"
#include "sessions/clock_time.h"
#include "sessions/session_clock.h"
#include "sessions/tick_classifier.h"
#include "sessions/trading_day_rule.h"

namespace {

// A client this far behind gets no more ticks until it catches up; the skipped ones are counted.
constexpr std::size_t kMaxBacklog = 8 * 1024 * 1024;
constexpr int kRefusedLogin = 3;
constexpr int kNotLoggedIn = 6;

template <std::size_t N>
void CopyText(char (&to)[N], std::string_view from) {
  std::size_t n = std::min(from.size(), N - 1);
  std::memcpy(to, from.data(), n);
  to[n] = '\0';
}

void SetInfo(FrontRspInfo* info, int error, const char* utf8) {
  info->ErrorID = error;
  CopyText(info->ErrorMsg, Utf8ToGbk(utf8));
}

double Seconds(std::chrono::steady_clock::duration d) { return std::chrono::duration<double>(d).count(); }

}  // namespace

FrontSimulator::FrontSimulator(SimOptions options) : options_(std::move(options)) {
  if (::pipe2(wake_, O_NONBLOCK | O_CLOEXEC) != 0) wake_[0] = wake_[1] = -1;
  resets_left_ = options_.reset_logins;
}

FrontSimulator::~FrontSimulator() {
  for (auto& client : clients_) {
    if (client->fd >= 0) ::close(client->fd);
  }
  if (listen_fd_ >= 0) ::close(listen_fd_);
  if (wake_[0] >= 0) ::close(wake_[0]);
  if (wake_[1] >= 0) ::close(wake_[1]);
}

bool FrontSimulator::Prepare(std::string* error) {
  if (options_.market_hours) {
    calendar_ = options_.calendar_path.empty() ? MarketCalendar::Shipped()
                                               : MarketCalendar::Load(options_.calendar_path, error);
    if (!calendar_) return false;
    const ClockReading now = TheSystemClock().Now();
    const std::optional<MarketMoment> moment = calendar_->Place(DateOfReading(now), TimeOfDayOfReading(now), error);
    if (!moment) return false;
    if (!options_.truth_dir.empty()) {
      std::error_code ec;
      std::filesystem::create_directories(options_.truth_dir, ec);
      if (ec) {
        *error = options_.truth_dir + ": " + ec.message();
        return false;
      }
      truth_ = std::make_unique<TruthWriter>(options_.truth_dir);
    }
  }
  trading_day_ = options_.trading_day.empty() ? TradingDayAt(TheSystemClock().Now()) : options_.trading_day;
  if (!options_.replay_paths.empty()) {
    std::size_t bad_lines = 0;
    if (!LoadReplay(options_.replay_paths, &listed_, &replay_, &bad_lines, error)) return false;
    if (bad_lines > 0) std::fprintf(stderr, "replay: %zu lines are not tick lines and were skipped\n", bad_lines);
  } else if (!options_.contracts_path.empty()) {
    if (!LoadListedContracts(options_.contracts_path, &listed_, error)) return false;
  } else {
    listed_ = BuiltInListedContracts(std::atoi(trading_day_.c_str()));
  }
  for (std::size_t i = 0; i < listed_.size(); ++i) index_of_.emplace(listed_[i].code, i);
  generator_ = std::make_unique<TickGenerator>(listed_, options_.seed, trading_day_);
  sent_.assign(listed_.size(), 0);
  subscribers_.assign(listed_.size(), {});
  active_at_.assign(listed_.size(), -1);
  generated_.assign(listed_.size(), 0);
  last_snapshot_.assign(listed_.size(), FrontDepthMarketData{});
  last_snapshot_at_.assign(listed_.size(), -1);
  for (const ListedContract& contract : listed_) hours_of_.push_back(FindProductHours(ProductOfContract(contract.code)));

  listen_fd_ = ListenTcp(options_.listen_host, options_.listen_port, &port_, error);
  return listen_fd_ >= 0;
}

std::string FrontSimulator::listen_address() const {
  bool v6 = options_.listen_host.find(':') != std::string::npos;
  return (v6 ? "[" + options_.listen_host + "]" : options_.listen_host) + ":" + std::to_string(port_);
}

void FrontSimulator::Wake() {
  if (wake_[1] < 0) return;
  char byte = 1;
  [[maybe_unused]] ssize_t n = ::write(wake_[1], &byte, 1);
}

void FrontSimulator::Stop() {
  stop_.store(true, std::memory_order_release);
  Wake();
}

void FrontSimulator::RequestSummary() {
  summary_requested_.store(true, std::memory_order_release);
  Wake();
}

void FrontSimulator::DropConnections() {
  drop_requested_.store(true, std::memory_order_release);
  Wake();
}

void FrontSimulator::SetHung(bool hung) {
  hung_.store(hung, std::memory_order_release);
  Wake();
}

SimSummary FrontSimulator::Summary() const {
  std::lock_guard<std::mutex> lock(stats_mutex_);
  SimSummary summary = stats_;
  for (std::size_t i = 0; i < sent_.size(); ++i) {
    if (sent_[i] > 0) summary.ticks[listed_[i].code] = sent_[i];
  }
  return summary;
}

std::string FrontSimulator::TradingDayAt(const ClockReading& now) const {
  if (!options_.trading_day.empty()) return options_.trading_day;
  if (calendar_) {
    std::string error;
    const std::optional<MarketMoment> moment = calendar_->Place(DateOfReading(now), TimeOfDayOfReading(now), &error);
    if (moment) return std::to_string(moment->trading_day);
  }
  return std::to_string(TradingDayOf(now));
}

void FrontSimulator::WriteSummaryFile() {
  if (options_.summary_path.empty()) return;
  std::string error;
  if (!WriteSimSummary(Summary(), options_.summary_path, &error)) std::fprintf(stderr, "%s\n", error.c_str());
}

void FrontSimulator::Run() {
  started_ = Clock::now();
  std::vector<pollfd> fds;
  while (!stop_.load(std::memory_order_acquire)) {
    fds.clear();
    fds.push_back({wake_[0], POLLIN, 0});
    fds.push_back({listen_fd_, POLLIN, 0});
    for (auto& client : clients_) {
      short events = POLLIN;
      if (client->backlog() > 0) events |= POLLOUT;
      fds.push_back({client->fd, events, 0});
    }
    bool busy = !hung_.load(std::memory_order_acquire) && (!active_.empty() || replay_armed_);
    if (::poll(fds.data(), fds.size(), busy ? 1 : 20) < 0 && errno != EINTR) break;
    if (fds[0].revents & POLLIN) {
      char bytes[64];
      while (::read(wake_[0], bytes, sizeof bytes) > 0) {
      }
    }
    if (summary_requested_.exchange(false, std::memory_order_acq_rel)) WriteSummaryFile();
    if (drop_requested_.exchange(false, std::memory_order_acq_rel)) {
      for (auto& client : clients_) BeginClose(*client);
    }
    if (fds[1].revents & POLLIN) Accept();
    for (std::size_t i = 2; i < fds.size(); ++i) {
      if (fds[i].revents != 0) ReadClient(*clients_[i - 2]);
    }
    Clock::time_point now = Clock::now();
    if (options_.duration_s > 0 && Seconds(now - started_) >= options_.duration_s) break;
    CheckScheduledFaults(now);
    if (calendar_) UpdateMarket(TheSystemClock().Now());
    if (replay_.empty()) {
      EmitGenerated(now);
    } else {
      EmitReplayed(now);
    }
    for (auto& client : clients_) Flush(*client);
    ReapClients();
    if (truth_) truth_->Flush();
  }
  // Hand the last ticks to the sockets before closing, so the summary counts only what was sent.
  for (auto& client : clients_) {
    BeginClose(*client);
    ::fcntl(client->fd, F_SETFL, ::fcntl(client->fd, F_GETFL) & ~O_NONBLOCK);
    timeval timeout{1, 0};
    ::setsockopt(client->fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
    Flush(*client);
  }
  for (auto& client : clients_) {
    ::close(client->fd);
    client->fd = -1;
  }
  clients_.clear();
  WriteSummaryFile();
}

void FrontSimulator::Accept() {
  for (;;) {
    int fd = ::accept4(listen_fd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) return;
    int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    auto client = std::make_unique<Client>();
    client->fd = fd;
    clients_.push_back(std::move(client));
    std::lock_guard<std::mutex> lock(stats_mutex_);
    ++stats_.connections;
  }
}

void FrontSimulator::ReadClient(Client& client) {
  if (client.dead) return;
  char chunk[64 * 1024];
  for (;;) {
    ssize_t n = ::recv(client.fd, chunk, sizeof chunk, 0);
    if (n > 0) {
      if (client.closing || hung_.load(std::memory_order_acquire)) continue;  // heard, never answered
      client.decoder.Append(chunk, static_cast<std::size_t>(n));
      FrontMessageType type;
      std::string_view payload;
      FrameDecoder::Result result;
      while ((result = client.decoder.Next(&type, &payload)) == FrameDecoder::Result::kFrame) {
        if (!HandleFrame(client, type, payload) || client.dead) {
          if (!client.dead) ResetClient(client);
          return;
        }
      }
      if (result == FrameDecoder::Result::kBad) {
        ResetClient(client);
        return;
      }
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
    UnsubscribeAll(client);
    client.dead = true;
    return;
  }
}

bool FrontSimulator::HandleFrame(Client& client, FrontMessageType type, std::string_view payload) {
  switch (type) {
    case FrontMessageType::kHeartbeat:
      if (!options_.ignore_heartbeats) AppendHeartbeatReply(client.out);
      return true;
    case FrontMessageType::kLogin: {
      bool keep = true;
      HandleLogin(client, payload, &keep);
      return keep;
    }
    case FrontMessageType::kSubscribe:
    case FrontMessageType::kUnsubscribe: {
      std::vector<std::string> codes;
      bool final_frame = true;
      if (!DecodeCodes(payload, &codes, &final_frame)) return false;
      HandleCodes(client, type, codes, final_frame);
      return true;
    }
    case FrontMessageType::kLogout: {
      LogoutRequest request;
      if (!DecodeLogoutRequest(payload, &request)) return false;
      LogoutReply reply;
      reply.request_id = request.request_id;
      reply.field = request.field;
      SetInfo(&reply.info, 0, "CTP:正确");
      AppendLogoutReply(client.out, reply);
      client.logged_in = false;
      UnsubscribeAll(client);
      return true;
    }
    default:
      return false;
  }
}

void FrontSimulator::HandleLogin(Client& client, std::string_view payload, bool* keep) {
  LoginRequest request;
  if (!DecodeLoginRequest(payload, &request)) {
    *keep = false;
    return;
  }
  if (resets_left_ > 0) {
    --resets_left_;
    ResetClient(client);
    return;
  }
  LoginReply reply;
  reply.request_id = request.request_id;
  CopyText(reply.field.BrokerID, request.field.BrokerID);
  CopyText(reply.field.UserID, request.field.UserID);
  bool accepted = !options_.refuse_logins && options_.broker == request.field.BrokerID &&
                  options_.user == request.field.UserID && options_.password == request.field.Password;
  if (accepted) {
    ClockReading now = TheSystemClock().Now();
    char time[40];
    std::snprintf(time, sizeof time, "%02d:%02d:%02d", now.hour, now.minute, now.second);
    CopyText(reply.field.TradingDay, TradingDayAt(now));
    for (auto* field : {&reply.field.LoginTime, &reply.field.SHFETime, &reply.field.DCETime,
                        &reply.field.CZCETime, &reply.field.FFEXTime, &reply.field.INETime}) {
      CopyText(*field, time);
    }
    CopyText(reply.field.SystemName, "quoteloom-frontsim");
    CopyText(reply.field.MaxOrderRef, "1");
    reply.field.FrontID = 1;
    reply.field.SessionID = next_session_++;
    SetInfo(&reply.info, 0, "CTP:正确");
    client.logged_in = true;
  } else {
    SetInfo(&reply.info, kRefusedLogin, "CTP:不合法的登录");
  }
  AppendLoginReply(client.out, reply);
  std::lock_guard<std::mutex> lock(stats_mutex_);
  ++(accepted ? stats_.logins : stats_.refused_logins);
}

void FrontSimulator::HandleCodes(Client& client, FrontMessageType type, const std::vector<std::string>& codes,
                                 bool final_frame) {
  bool subscribe = type == FrontMessageType::kSubscribe;
  FrontMessageType answer = subscribe ? FrontMessageType::kSubscribeReply : FrontMessageType::kUnsubscribeReply;
  std::uint64_t counted = 0;
  for (std::size_t i = 0; i < codes.size(); ++i) {
    SubscriptionReply reply;
    CopyText(reply.instrument.InstrumentID, codes[i]);
    reply.is_last = final_frame && i + 1 == codes.size();
    if (!client.logged_in) {
      SetInfo(&reply.info, kNotLoggedIn, "CTP:还没有登录");
    } else {
      SetInfo(&reply.info, 0, "CTP:正确");
      auto found = index_of_.find(codes[i]);
      if (found != index_of_.end()) {
        if (subscribe) {
          Subscribe(client, found->second);
        } else {
          Unsubscribe(client, found->second);
        }
      }
      if (subscribe) ++counted;
    }
    AppendSubscriptionReply(client.out, answer, reply);
    // As a real front does, the answer is followed by the contract's last snapshot.
    if (calendar_ && subscribe && client.logged_in) {
      auto found = index_of_.find(codes[i]);
      if (found != index_of_.end()) SendSubscriptionSnapshot(client, found->second);
    }
  }
  if (counted > 0) {
    std::lock_guard<std::mutex> lock(stats_mutex_);
    stats_.subscriptions += counted;
  }
}

void FrontSimulator::Subscribe(Client& client, std::size_t index) {
  if (!client.subscribed.insert(index).second) return;
  subscribers_[index].push_back(&client);
  if (subscribers_[index].size() == 1) {
    active_at_[index] = static_cast<std::ptrdiff_t>(active_.size());
    active_.push_back(index);
  }
  if (!replay_.empty() && !replay_armed_ && replay_next_ == 0) {
    replay_armed_ = true;
    replay_start_ = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                       std::chrono::duration<double>(options_.replay_delay_s));
    pacer_.Restart(replay_start_);
  }
}

void FrontSimulator::Unsubscribe(Client& client, std::size_t index) {
  if (client.subscribed.erase(index) == 0) return;
  auto& list = subscribers_[index];
  list.erase(std::find(list.begin(), list.end(), &client));
  if (list.empty()) {
    std::ptrdiff_t at = active_at_[index];
    active_[at] = active_.back();
    active_at_[active_[at]] = at;
    active_.pop_back();
    active_at_[index] = -1;
  }
}

void FrontSimulator::UnsubscribeAll(Client& client) {
  std::vector<std::size_t> indices(client.subscribed.begin(), client.subscribed.end());
  for (std::size_t index : indices) Unsubscribe(client, index);
}

void FrontSimulator::BeginClose(Client& client) {
  UnsubscribeAll(client);
  client.logged_in = false;
  client.closing = true;
}

// A reset rather than an orderly close: the peer's next read fails.
void FrontSimulator::ResetClient(Client& client) {
  UnsubscribeAll(client);
  linger hard{1, 0};
  ::setsockopt(client.fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
  client.out.clear();
  client.out_offset = 0;
  client.dead = true;
}

void FrontSimulator::Flush(Client& client) {
  if (client.dead) return;
  if (!client.Flush()) {
    UnsubscribeAll(client);
    client.dead = true;
  }
  if (client.closing && client.backlog() == 0) client.dead = true;
}

void FrontSimulator::ReapClients() {
  auto dead = std::remove_if(clients_.begin(), clients_.end(), [](const std::unique_ptr<Client>& client) {
    if (!client->dead) return false;
    ::close(client->fd);
    return true;
  });
  clients_.erase(dead, clients_.end());
}

void FrontSimulator::CheckScheduledFaults(Clock::time_point now) {
  double elapsed = Seconds(now - started_);
  if (options_.drop_after_s > 0 && !dropped_by_time_ && elapsed >= options_.drop_after_s) {
    dropped_by_time_ = true;
    for (auto& client : clients_) BeginClose(*client);
  }
  if (options_.hang_after_s > 0 && elapsed >= options_.hang_after_s) hung_.store(true, std::memory_order_release);
}

bool FrontSimulator::TickLimitReached() const {
  return options_.drop_after_ticks > 0 && !dropped_by_ticks_ && stats_.ticks_total >= options_.drop_after_ticks;
}

void FrontSimulator::EmitGenerated(Clock::time_point now) {
  if (active_.empty() || hung_.load(std::memory_order_acquire)) {
    pacer_.Restart(now);
    return;
  }
  double rate = options_.total_rate > 0 ? options_.total_rate : options_.contract_rate * active_.size();
  std::uint64_t count = pacer_.Due(rate, now);
  if (count == 0) return;
  ClockReading reading = TheSystemClock().Now();
  std::optional<MarketMoment> moment;
  if (calendar_) {
    moment = PlaceMoment(reading);
    if (!moment) return;
    generator_->set_trading_day(std::to_string(moment->trading_day));
  } else if (options_.trading_day.empty()) {
    generator_->set_trading_day(TradingDayAt(reading));
  }
  FrontDepthMarketData tick;
  std::lock_guard<std::mutex> lock(stats_mutex_);
  for (std::uint64_t i = 0; i < count && !active_.empty(); ++i) {
    std::size_t index = active_[cursor_++ % active_.size()];
    if (moment) {
      // Between the fixed-time snapshots only the products in continuous trading move.
      if (!InContinuousTrading(index, *moment)) continue;
      generator_->Next(index, reading, &tick);
      ApplyExchangeQuirks(index, moment->session_second < kDaySessionSecond, moment->trading_day, tick);
      ApplyFieldFaults(index, tick);
      SendTick(index, tick);
      last_snapshot_[index] = tick;
      last_snapshot_at_[index] = TickClassifier::ReadingSeconds(reading);
      RecordTruth(moment->trading_day, TickKind::kSession, reading, tick);
      continue;
    }
    generator_->Next(index, reading, &tick);
    ApplyFieldFaults(index, tick);
    SendTick(index, tick);
    if (TickLimitReached()) {
      dropped_by_ticks_ = true;
      for (auto& client : clients_) BeginClose(*client);
    }
  }
}

void FrontSimulator::EmitReplayed(Clock::time_point now) {
  if (!replay_armed_ || hung_.load(std::memory_order_acquire) || now < replay_start_) return;
  double elapsed = Seconds(now - replay_start_);
  // As fast as allowed: the total rate when given, else a large slice per turn of the loop.
  std::uint64_t budget = 100000;
  if (options_.replay_speed <= 0 && options_.total_rate > 0) budget = pacer_.Due(options_.total_rate, now);
  std::uint64_t sent = 0;
  std::lock_guard<std::mutex> lock(stats_mutex_);
  while (replay_next_ < replay_.size() && sent < budget) {
    ReplayTick& next = replay_[replay_next_];
    if (options_.replay_speed > 0 && next.at_s / options_.replay_speed > elapsed) break;
    // A client that fell behind holds the replay back rather than losing recorded ticks.
    bool behind = false;
    for (Client* client : subscribers_[next.contract]) behind = behind || client->backlog() >= kMaxBacklog;
    if (behind) break;
    FrontDepthMarketData tick = next.field;
    ApplyFieldFaults(next.contract, tick);
    SendTick(next.contract, tick);
    ++replay_next_;
    ++sent;
    if (TickLimitReached()) {
      dropped_by_ticks_ = true;
      for (auto& client : clients_) BeginClose(*client);
    }
  }
  if (replay_next_ == replay_.size()) {
    replay_armed_ = false;
    std::printf("replay finished\n");
    std::fflush(stdout);
  }
}

void FrontSimulator::ApplyFieldFaults(std::size_t index, FrontDepthMarketData& tick) {
  if (options_.nan_fields.empty() && options_.max_fields.empty()) return;
  if (++generated_[index] % options_.fault_every != 0) return;
  for (const std::string& name : options_.nan_fields) {
    tick.*(*FindFaultField(name)) = std::numeric_limits<double>::quiet_NaN();
  }
  for (const std::string& name : options_.max_fields) {
    tick.*(*FindFaultField(name)) = std::numeric_limits<double>::max();
  }
}

// Called with stats_mutex_ held.
void FrontSimulator::SendTick(std::size_t index, FrontDepthMarketData& tick) {
  if (subscribers_[index].empty()) return;
  frame_.clear();
  AppendDepthMarketData(frame_, tick);
  for (Client* client : subscribers_[index]) {
    if (client->backlog() >= kMaxBacklog) {
      ++stats_.ticks_skipped;
      continue;
    }
    client->out.append(frame_);
    ++sent_[index];
    ++stats_.ticks_total;
  }
  if (options_.hostile_every > 0 && ++since_hostile_ >= options_.hostile_every) {
    since_hostile_ = 0;
    SendHostileTicks(index, tick);
  }
}

// Called with stats_mutex_ held. Variants of a real tick of the contract that a collector must not
// store: each would name a file outside its folder, break a stored line or cut a code.
void FrontSimulator::SendHostileTicks(std::size_t index, const FrontDepthMarketData& tick) {
  const std::string code = tick.InstrumentID;
  const std::string hostile_codes[] = {
      "../../../escaped",
      code + ",x",
      code + "\r\n" + code,
      Utf8ToGbk("螺纹") + code.substr(std::min<std::size_t>(2, code.size())),
      "",
      "IF2406&IF2409&IF2412&IF2503&IF2506",  // 34 characters: a combination longer than 30
      std::string(kWireCodeSize - 1, 'A'),
      "zz9999",  // never subscribed
  };
  std::vector<FrontDepthMarketData> variants;
  for (const std::string& bad : hostile_codes) {
    variants.push_back(tick);
    CopyText(variants.back().InstrumentID, bad);
  }
  variants.push_back(tick);
  CopyText(variants.back().UpdateTime, "10:00,00");
  variants.push_back(tick);
  CopyText(variants.back().ActionDay, "2024\n0301");
  variants.push_back(tick);
  CopyText(variants.back().TradingDay, "2024\x01");
  for (const FrontDepthMarketData& variant : variants) {
    frame_.clear();
    AppendDepthMarketData(frame_, variant);
    for (Client* client : subscribers_[index]) {
      if (client->backlog() >= kMaxBacklog) continue;
      client->out.append(frame_);
      ++stats_.ticks_hostile;
    }
  }
}
