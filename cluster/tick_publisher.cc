#include "cluster/tick_publisher.h"

#include <cstdio>
#include <filesystem>
#include <thread>

#include "cluster/sleep_unless_stopped.h"
#include "cluster/state_saver.h"
#include "cluster/tick_id.h"
#include "cluster/tick_subject.h"
#include "metrics/service_notifier.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kMaxBackoff = std::chrono::milliseconds(5000);
constexpr auto kAckTimeout = std::chrono::seconds(10);

}  // namespace

TickPublisher::TickPublisher(const ClusterSettings& settings, Options options)
    : settings_(settings),
      options_(std::move(options)),
      link_(settings),
      follower_(settings.workdir),
      state_(options_.statePath.empty() ? settings.workdir + "/quoteloom-publish.state" : options_.statePath),
      counters_(options_.counters != nullptr ? *options_.counters : ownCounters_) {}

void TickPublisher::OnAckError(jsCtx*, jsPubAckErr*, void* closure) {
  static_cast<TickPublisher*>(closure)->ackErrors_.fetch_add(1, std::memory_order_relaxed);
}

const std::string& TickPublisher::SubjectOf(std::string_view contract) {
  auto it = subjects_.find(contract);
  if (it != subjects_.end()) return it->second;
  if (subjects_.size() > 100000) subjects_.clear();  // bounded, whatever codes the files hold
  return subjects_.emplace(std::string(contract), TickSubject(settings_.subjectPrefix, contract)).first->second;
}

int TickPublisher::Run(const std::atomic<bool>& stop) {
  std::string error;
  if (!state_.Load(&committed_, &error)) {
    std::fprintf(stderr, "quoteloom-publish: %s\n", error.c_str());
    return 1;
  }
  if (!options_.fromDay.empty()) committed_ = FollowPosition{};
  follower_.Start(committed_, options_.fromDay);
  bool reachable = false;
  link_.SetPublishAsync(options_.maxPending, &TickPublisher::OnAckError, this);
  if (!link_.Open(&reachable, &error)) {
    std::fprintf(stderr, "quoteloom-publish: %s\n", error.c_str());
    return 3;
  }
  if (!reachable) std::fprintf(stderr, "quoteloom-publish: %s\n", error.c_str());
  std::fprintf(stderr, "quoteloom-publish: following %s/DataTimeStream from %s, state %s\n", settings_.workdir.c_str(),
              committed_.day.empty() ? (options_.fromDay.empty() ? "the newest day" : options_.fromDay.c_str())
                                     : (committed_.day + " offset " + std::to_string(committed_.offset)).c_str(),
              state_.path().c_str());
  std::fflush(stderr);
  if (options_.notifier != nullptr) options_.notifier->Ready("following " + settings_.workdir + "/DataTimeStream");

  StateSaver saver(state_);
  bool streamReady = false;
  auto backoff = std::chrono::milliseconds(100);
  nextStatus_ = Clock::now() + std::chrono::seconds(settings_.statusSeconds);
  auto lastNews = Clock::now();
  while (!stop.load(std::memory_order_acquire)) {
    StatusIfDue();
    if (!link_.Connected()) {
      if (link_.Closed()) {
        // The library gave up (a refused login, say): try again from the start after a pause.
        SleepUnlessStopped(backoff, stop);
        if (stop.load(std::memory_order_acquire)) break;
        backoff = std::min(backoff * 2, kMaxBackoff);
        error.clear();
        link_.Reconnect(&error);
        if (!error.empty()) lastProblem_ = error;
        streamReady = false;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
      continue;
    }
    if (!streamReady && !(streamReady = link_.EnsureStream(&error))) {
      lastProblem_ = error;
      SleepUnlessStopped(backoff, stop);
      backoff = std::min(backoff * 2, kMaxBackoff);
      continue;
    }
    TimeStreamFollower::Batch batch;
    if (!follower_.Next(options_.batchBytes, &batch)) {
      counters_.caughtUpAt.store(PublisherCounters::NowNanos(), std::memory_order_relaxed);
      ReportFollowerEvents();
      if (options_.exitWhenIdleSeconds > 0 &&
          Clock::now() - lastNews > std::chrono::duration<double>(options_.exitWhenIdleSeconds)) {
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(options_.pollMilliseconds));
      continue;
    }
    lastNews = Clock::now();
    counters_.linesRead.fetch_add(batch.lines.size(), std::memory_order_relaxed);
    ReportFollowerEvents();
    if (!PublishBatch(batch)) {
      ++retries_;
      counters_.retries.fetch_add(1, std::memory_order_relaxed);
      follower_.Rewind(committed_);
      SleepUnlessStopped(backoff, stop);
      backoff = std::min(backoff * 2, kMaxBackoff);
      continue;
    }
    backoff = std::chrono::milliseconds(100);
    acknowledged_ += batch.lines.size();
    counters_.acknowledged.fetch_add(batch.lines.size(), std::memory_order_relaxed);
    counters_.lastAcknowledgedAt.store(PublisherCounters::NowNanos(), std::memory_order_relaxed);
    committed_ = batch.end;
    saver.Post(committed_);
    if (std::string problem = saver.TakeError(); !problem.empty()) lastProblem_ = problem;
  }
  PrintStatus();
  return 0;
}

bool TickPublisher::PublishBatch(const TimeStreamFollower::Batch& batch) {
  if (batch.lines.empty()) return true;
  jsCtx* js = link_.js();
  const std::uint64_t errorsBefore = ackErrors_.load(std::memory_order_relaxed);
  struct PendingGauge {
    PublisherCounters& c;
    ~PendingGauge() { c.pending.store(0, std::memory_order_relaxed); }
  } pendingGauge{counters_};
  for (const StoredTickLine& line : batch.lines) {
    natsMsg* msg = nullptr;
    natsStatus s = natsMsg_Create(&msg, SubjectOf(line.contract()).c_str(), nullptr, line.text.data(),
                                  static_cast<int>(line.text.size()));
    if (s == NATS_OK) s = natsMsgHeader_Set(msg, "Nats-Msg-Id", TickIdOf(line).Text().c_str());
    if (s == NATS_OK) s = natsMsgHeader_Set(msg, "Quoteloom-Collector", options_.collectorName.c_str());
    if (s == NATS_OK) s = js_PublishMsgAsync(js, &msg, nullptr);
    natsMsg_Destroy(msg);
    if (s != NATS_OK) {
      lastProblem_ = "publish: " + NatsLink::LastError(s);
      DiscardPending();
      return false;
    }
    ++published_;
    counters_.published.fetch_add(1, std::memory_order_relaxed);
    counters_.pending.fetch_add(1, std::memory_order_relaxed);
  }
  // Short waits, so the status line goes on and a lost connection ends the wait at once.
  jsPubOptions wait;
  jsPubOptions_Init(&wait);
  wait.MaxWait = 250;
  const auto deadline = Clock::now() + kAckTimeout;
  natsStatus s = NATS_TIMEOUT;
  while (s == NATS_TIMEOUT && Clock::now() < deadline && link_.Connected()) {
    s = js_PublishAsyncComplete(js, &wait);
    StatusIfDue();
  }
  if (s != NATS_OK || ackErrors_.load(std::memory_order_relaxed) != errorsBefore) {
    lastProblem_ = s == NATS_OK              ? std::string("the stream refused a message")
                   : !link_.Connected()      ? std::string("connection lost before the acknowledgements")
                                             : "acknowledgements: " + NatsLink::LastError(s);
    DiscardPending();
    return false;
  }
  return true;
}

void TickPublisher::ReportFollowerEvents() {
  const TimeStreamFollower::Counters& c = follower_.counters();
  if (c.filesReplaced != seen_.filesReplaced || c.filesTruncated != seen_.filesTruncated) {
    std::fprintf(stderr, "quoteloom-publish: DataTimeStream/%s.csv was %s under it; reading it again from its start\n",
                follower_.position().day.c_str(), c.filesReplaced != seen_.filesReplaced ? "replaced" : "shortened");
  }
  if (c.daysResumed != seen_.daysResumed) {
    std::fprintf(stderr, "quoteloom-publish: DataTimeStream/%s.csv grew after it was left; publishing its new lines\n",
                 follower_.position().day.c_str());
  }
  if (c.daysFinished != seen_.daysFinished) {
    std::fprintf(stderr, "quoteloom-publish: following DataTimeStream/%s.csv\n", follower_.position().day.c_str());
  }
  counters_.malformed.store(c.malformedLines, std::memory_order_relaxed);
  if (c.malformedLines != seen_.malformedLines) lastProblem_ = "malformed line skipped: " + follower_.lastFault();
  if (c.filesRefused != seen_.filesRefused) {
    std::fprintf(stderr, "quoteloom-publish: not following %s\n", follower_.lastFault().c_str());
  }
  seen_ = c;
  std::fflush(stderr);
}

void TickPublisher::DiscardPending() {
  natsMsgList pending{};
  if (js_PublishAsyncGetPendingList(&pending, link_.js()) == NATS_OK) natsMsgList_Destroy(&pending);
}

void TickPublisher::Heartbeat() {
  const auto now = Clock::now();
  if (now < nextHeartbeat_) return;
  nextHeartbeat_ = now + std::chrono::seconds(1);
  linkWatch_.Observe(link_.Connected(), counters_.connected, counters_.reconnects);
  counters_.backlogBytes.store(BacklogBytes(), std::memory_order_relaxed);
  // The loop came round: it is not hung, whatever the cluster does.
  if (options_.notifier != nullptr) options_.notifier->Watchdog();
}

void TickPublisher::StatusIfDue() {
  Heartbeat();
  if (Clock::now() < nextStatus_) return;
  PrintStatus();
  nextStatus_ = Clock::now() + std::chrono::seconds(settings_.statusSeconds);
}

std::uint64_t TickPublisher::BacklogBytes() const {
  std::uint64_t bytes = follower_.FinishedDaysBacklog();
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(settings_.workdir + "/DataTimeStream", ec)) {
    const std::string name = entry.path().filename().string();
    if (name.size() != 12 || name.substr(8) != ".csv" || name.substr(0, 8) < committed_.day) continue;
    const std::uint64_t size = entry.file_size(ec);
    const std::uint64_t done = name.substr(0, 8) == committed_.day ? committed_.offset : 0;
    if (!ec && size > done) bytes += size - done;
  }
  return bytes;
}

void TickPublisher::PrintStatus() {
  if (std::string problem = link_.TakeProblem(); !problem.empty() && lastProblem_.empty()) lastProblem_ = problem;
  const auto& c = follower_.counters();
  std::fprintf(stderr, 
      "[status] published %llu, acknowledged %llu, backlog %llu bytes, day %s, malformed lines %llu, retries %llu, "
      "refused files %llu, connection %s%s%s\n",
      static_cast<unsigned long long>(published_), static_cast<unsigned long long>(acknowledged_),
      static_cast<unsigned long long>(BacklogBytes()), committed_.day.empty() ? "-" : committed_.day.c_str(),
      static_cast<unsigned long long>(c.malformedLines), static_cast<unsigned long long>(retries_),
      static_cast<unsigned long long>(c.filesRefused), link_.StateText().c_str(), lastProblem_.empty() ? "" : ", last problem: ", lastProblem_.c_str());
  lastProblem_.clear();
  std::fflush(stderr);
}
