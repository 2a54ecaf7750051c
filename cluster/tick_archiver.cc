#include "cluster/tick_archiver.h"

#include <chrono>
#include <cstdio>
#include <thread>

#include "cluster/sleep_unless_stopped.h"
#include "cluster/exact_tick.h"
#include "cluster/tick_subject.h"
#include "cluster/program_metrics.h"
#include "metrics/service_notifier.h"

namespace {

using SteadyClock = std::chrono::steady_clock;
constexpr auto kMaxBackoff = std::chrono::milliseconds(5000);
constexpr int64_t kNanosPerSecond = 1000000000LL;

int64_t NowNanos() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::system_clock::now().time_since_epoch())
      .count();
}

}  // namespace

TickArchiver::TickArchiver(const ClusterSettings& settings, Options options)
    : settings_(settings),
      options_(std::move(options)),
      link_(settings),
      writer_(settings.workdir, options_.maxDaysHeld),
      counters_(options_.counters != nullptr ? *options_.counters : ownCounters_) {}

TickArchiver::~TickArchiver() { natsSubscription_Destroy(subscription_); }

bool TickArchiver::Subscribe(std::string* error) {
  if (!link_.EnsureStream(error)) return false;
  jsSubOptions so;
  jsSubOptions_Init(&so);
  so.Stream = settings_.stream.c_str();
  so.Config.Durable = options_.durable.c_str();
  so.Config.AckPolicy = js_AckExplicit;
  so.Config.DeliverPolicy = js_DeliverAll;
  so.Config.AckWait = 30 * kNanosPerSecond;
  so.Config.MaxAckPending = 20000;
  so.Config.MaxDeliver = -1;
  const std::string subject = settings_.subjectPrefix + ".>";
  jsErrCode code = static_cast<jsErrCode>(0);
  const natsStatus s =
      js_PullSubscribe(&subscription_, link_.js(), subject.c_str(), options_.durable.c_str(), nullptr, &so, &code);
  if (s == NATS_OK) return true;
  *error = "consumer " + options_.durable + ": " + NatsLink::LastError(s);
  subscription_ = nullptr;
  return false;
}

int TickArchiver::Run(const std::atomic<bool>& stop) {
  // The archive writes the collector's files: a second archive, or a collector, in the same folder
  // would write every tick twice.
  std::string error = folderLock_.TakeWorkFolder(settings_.workdir, "quoteloom-archive");
  if (!error.empty()) {
    std::fprintf(stderr, "quoteloom-archive: %s\n", error.c_str());
    return 1;
  }
  if (options_.folderHeld) options_.folderHeld();
  bool reachable = false;
  if (!link_.Open(&reachable, &error)) {
    std::fprintf(stderr, "quoteloom-archive: %s\n", error.c_str());
    return 3;
  }
  if (options_.shareHistory) {
    HistoryUploader::Options history = options_.history;
    history.counters = &counters_;
    uploader_ = std::make_unique<HistoryUploader>(settings_, history);
    uploader_->Start();
  }
  if (!reachable) std::fprintf(stderr, "quoteloom-archive: %s\n", error.c_str());
  std::fprintf(stderr, "quoteloom-archive: writing stream %s into %s as consumer %s\n", settings_.stream.c_str(),
              settings_.workdir.c_str(), options_.durable.c_str());
  std::fflush(stderr);
  if (options_.notifier != nullptr) options_.notifier->Ready("writing stream " + settings_.stream);

  auto backoff = std::chrono::milliseconds(100);
  auto nextStatus = SteadyClock::now() + std::chrono::seconds(settings_.statusSeconds);
  int fetchFailures = 0;
  while (!stop.load(std::memory_order_acquire)) {
    Heartbeat();
    if (SteadyClock::now() >= nextStatus) {
      PrintStatus();
      nextStatus = SteadyClock::now() + std::chrono::seconds(settings_.statusSeconds);
    }
    if (!link_.Connected()) {
      if (link_.Closed()) {
        // The library gave up (a refused login, say): try again from the start after a pause.
        natsSubscription_Destroy(subscription_);
        subscription_ = nullptr;
        SleepUnlessStopped(backoff, stop);
        if (stop.load(std::memory_order_acquire)) break;
        backoff = std::min(backoff * 2, kMaxBackoff);
        error.clear();
        link_.Reconnect(&error);
        if (!error.empty()) lastProblem_ = error;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
      continue;
    }
    if (subscription_ == nullptr && !Subscribe(&error)) {
      lastProblem_ = error;
      SleepUnlessStopped(backoff, stop);
      backoff = std::min(backoff * 2, kMaxBackoff);
      continue;
    }
    natsMsgList list{};
    jsErrCode code = static_cast<jsErrCode>(0);
    const natsStatus s = natsSubscription_Fetch(&list, subscription_, options_.batch, 1000, &code);
    if (s == NATS_TIMEOUT) {
      counters_.lastHandledAt.store(ArchiveCounters::NowNanos(), std::memory_order_relaxed);
      pending_ = 0;
      lagMilliseconds_ = 0;
      continue;
    }
    if (s != NATS_OK) {
      lastProblem_ = "fetch: " + NatsLink::LastError(s);
      // A consumer lost with its servers is made again after a few failures in a row.
      if (++fetchFailures >= 5) {
        natsSubscription_Destroy(subscription_);
        subscription_ = nullptr;
        fetchFailures = 0;
      }
      SleepUnlessStopped(backoff, stop);
      backoff = std::min(backoff * 2, kMaxBackoff);
      continue;
    }
    fetchFailures = 0;
    bool ok = true;
    for (int i = 0; i < list.Count; ++i) {
      if (ok) {
        ok = Handle(list.Msgs[i]);
      } else {
        natsMsg_NakWithDelay(list.Msgs[i], 1000, nullptr);
      }
    }
    natsMsgList_Destroy(&list);
    if (ok) {
      backoff = std::chrono::milliseconds(100);
    } else {
      SleepUnlessStopped(backoff, stop);
      backoff = std::min(backoff * 2, kMaxBackoff);
    }
  }
  if (uploader_) uploader_->Stop();
  PrintStatus();
  return 0;
}

bool TickArchiver::Handle(natsMsg* msg) {
  ++taken_;
  counters_.lastHandledAt.store(ArchiveCounters::NowNanos(), std::memory_order_relaxed);
  jsMsgMetaData* meta = nullptr;
  if (natsMsg_GetMetaData(&meta, msg) == NATS_OK) {
    pending_ = meta->NumPending;
    lagMilliseconds_ = (NowNanos() - meta->Timestamp) / 1000000;
    jsMsgMetaData_Destroy(meta);
  }
  const std::string_view body(natsMsg_GetData(msg), static_cast<std::size_t>(natsMsg_GetDataLength(msg)));
  JournalEntry entry;
  std::string why;
  if (!DecodeTickBody(body, &entry, &why)) {
    ++badBodies_;
    lastProblem_ = std::string("refused message on ") + natsMsg_GetSubject(msg) + ": " + why;
    natsMsg_Term(msg, nullptr);
    return true;
  }
  if (TickSubject(settings_.subjectPrefix, entry.tick.InstrumentID) != natsMsg_GetSubject(msg)) {
    ++badBodies_;
    lastProblem_ = std::string("refused message on ") + natsMsg_GetSubject(msg) + ": subject of another contract";
    natsMsg_Term(msg, nullptr);
    return true;
  }
  switch (writer_.Store(entry, &why)) {
    case ArchiveWriter::Result::kWritten:
    case ArchiveWriter::Result::kDuplicate:
      natsMsg_Ack(msg, nullptr);
      return true;
    case ArchiveWriter::Result::kRefused:
      ++badBodies_;
      lastProblem_ = "refused: " + why;
      natsMsg_Term(msg, nullptr);
      return true;
    case ArchiveWriter::Result::kFailed:
      lastProblem_ = why;
      natsMsg_NakWithDelay(msg, 1000, nullptr);
      return false;
  }
  return false;
}

void TickArchiver::Heartbeat() {
  const auto now = SteadyClock::now();
  if (now < nextHeartbeat_) return;
  nextHeartbeat_ = now + std::chrono::seconds(1);
  const bool connected = link_.Connected();
  linkWatch_.Observe(connected, counters_.connected, counters_.reconnects);
  const ArchiveWriter::Counters& w = writer_.counters();
  counters_.taken.store(taken_, std::memory_order_relaxed);
  counters_.stored.store(w.ticksWritten, std::memory_order_relaxed);
  counters_.duplicates.store(w.duplicates, std::memory_order_relaxed);
  counters_.refusedBodies.store(badBodies_, std::memory_order_relaxed);
  counters_.appendFailures.store(w.failures, std::memory_order_relaxed);
  jsConsumerInfo* info = nullptr;
  jsErrCode code = static_cast<jsErrCode>(0);
  jsOptions quick;  // a slow server must not hold the loop for the default five seconds
  jsOptions_Init(&quick);
  quick.Wait = 500;
  if (connected && subscription_ != nullptr &&
      natsSubscription_GetConsumerInfo(&info, subscription_, &quick, &code) == NATS_OK && info != nullptr) {
    counters_.consumerPending.store(info->NumPending, std::memory_order_relaxed);
    counters_.consumerAckPending.store(static_cast<std::uint64_t>(info->NumAckPending), std::memory_order_relaxed);
    counters_.consumerInfoKnown.store(true, std::memory_order_relaxed);
    jsConsumerInfo_Destroy(info);
  }
  // The loop came round: it is not hung, whatever the cluster does.
  if (options_.notifier != nullptr) options_.notifier->Watchdog();
}

void TickArchiver::PrintStatus() {
  if (std::string problem = link_.TakeProblem(); !problem.empty() && lastProblem_.empty()) lastProblem_ = problem;
  const auto& c = writer_.counters();
  std::fprintf(stderr, 
      "[status] messages taken %llu, ticks written %llu, duplicates skipped %llu, refused %llu, "
      "lag %lld ms, pending %llu, repaired lines %llu, connection %s%s%s%s\n",
      static_cast<unsigned long long>(taken_), static_cast<unsigned long long>(c.ticksWritten),
      static_cast<unsigned long long>(c.duplicates),
      static_cast<unsigned long long>(badBodies_), static_cast<long long>(lagMilliseconds_),
      static_cast<unsigned long long>(pending_), static_cast<unsigned long long>(c.repairedLines),
      link_.StateText().c_str(), lastProblem_.empty() ? "" : ", last problem: ", lastProblem_.c_str(),
      MetricsStatusNote(options_.metrics).c_str());
  lastProblem_.clear();
  std::fflush(stderr);
}
