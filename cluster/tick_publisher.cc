#include "cluster/tick_publisher.h"

#include <sys/stat.h>

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "cluster/exact_tick.h"
#include "cluster/sleep_unless_stopped.h"
#include "cluster/state_saver.h"
#include "cluster/tick_subject.h"
#include "core/contract_code.h"
#include "cluster/program_metrics.h"
#include "metrics/service_notifier.h"

namespace {

constexpr auto kMaxBackoff = std::chrono::milliseconds(5000);
// In flight with no acknowledgement coming for this long: the messages are given up on and sent again.
constexpr auto kAckTimeout = std::chrono::seconds(10);
// How long a stop waits for the acknowledgements still in flight, so the state file has them.
constexpr auto kStopGrace = std::chrono::seconds(2);
constexpr const char* kOrdinalHeader = "Quoteloom-Ordinal";

}  // namespace

TickPublisher::TickPublisher(const ClusterSettings& settings, Options options)
    : settings_(settings),
      options_(std::move(options)),
      follower_(settings.workdir),
      state_(options_.statePath.empty() ? settings.workdir + "/quoteloom-publish.state" : options_.statePath),
      counters_(options_.counters != nullptr ? *options_.counters : ownCounters_),
      link_(settings) {
  // Twice the library's limit, so an ordinal's slot is never taken by a later one still in flight.
  ringSize_ = 2 * static_cast<std::size_t>(std::max(options_.maxPending, 1)) + 2;
  acks_ = std::make_unique<std::atomic<std::uint64_t>[]>(ringSize_);
  for (std::size_t i = 0; i < ringSize_; ++i) acks_[i].store(0, std::memory_order_relaxed);
}

void TickPublisher::OnAck(jsCtx*, natsMsg* msg, jsPubAck* ack, jsPubAckErr* error, void* closure) {
  auto* self = static_cast<TickPublisher*>(closure);
  const char* text = nullptr;
  if (msg != nullptr && natsMsgHeader_Get(msg, kOrdinalHeader, &text) == NATS_OK && text != nullptr) {
    const std::uint64_t ordinal = std::strtoull(text, nullptr, 10);
    if (ordinal >= self->generationStart_.load(std::memory_order_acquire)) {
      if (ack != nullptr && error == nullptr) {
        self->acks_[ordinal % self->ringSize_].store(ordinal + 1, std::memory_order_release);
      } else {
        self->ackErrors_.fetch_add(1, std::memory_order_release);
      }
    }
  }
  natsMsg_Destroy(msg);
}

const std::string& TickPublisher::SubjectOf(const char* contract) {
  auto it = subjects_.find(std::string_view(contract));
  if (it != subjects_.end()) return it->second;
  if (subjects_.size() > 100000) subjects_.clear();  // bounded, whatever codes the files hold
  return subjects_.emplace(std::string(contract), TickSubject(settings_.subjectPrefix, contract)).first->second;
}

int TickPublisher::Run(const std::atomic<bool>& stop) {
  std::string error;
  const std::string journalDirectory = JournalDirectoryPath(settings_.workdir);
  struct stat st {};
  if (::lstat(journalDirectory.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    std::fprintf(stderr,
                 "quoteloom-publish: %s has no tick journal (%s): the publisher follows the collector's journal "
                 "only; turn it on with [Journal] enabled=1 in the collector's setting.ini\n",
                 settings_.workdir.c_str(), journalDirectory.c_str());
    return kExitNoJournal;
  }
  // Two publishers on one state file would each move it over the other's acknowledgements.
  std::error_code ec;
  const std::filesystem::path statePath = std::filesystem::absolute(state_.path(), ec).lexically_normal();
  error = stateLock_.Take(state_.path() + ".lock", "the state file " + (ec ? state_.path() : statePath.string()),
                          "quoteloom-publish");
  if (!error.empty()) {
    std::fprintf(stderr, "quoteloom-publish: %s\n", error.c_str());
    return 1;
  }
  std::string note;
  if (!state_.Load(&committed_, &error, &note)) {
    std::fprintf(stderr, "quoteloom-publish: %s\n", error.c_str());
    return 1;
  }
  if (!note.empty()) std::fprintf(stderr, "quoteloom-publish: %s\n", note.c_str());
  if (!options_.fromDay.empty()) committed_ = JournalPosition{};
  follower_.Start(committed_, options_.fromDay);
  bool reachable = false;
  link_.SetPublishAsync(options_.maxPending, &TickPublisher::OnAck, this);
  if (!link_.Open(&reachable, &error)) {
    std::fprintf(stderr, "quoteloom-publish: %s\n", error.c_str());
    return 3;
  }
  if (!reachable) std::fprintf(stderr, "quoteloom-publish: %s\n", error.c_str());
  std::fprintf(stderr, "quoteloom-publish: following %s from %s, state %s\n", journalDirectory.c_str(),
               committed_.day.empty() ? (options_.fromDay.empty() ? "the newest day" : options_.fromDay.c_str())
                                      : (committed_.day + " offset " + std::to_string(committed_.offset)).c_str(),
               state_.path().c_str());
  std::fflush(stderr);
  if (options_.notifier != nullptr) options_.notifier->Ready("following " + journalDirectory);

  StateSaver saver(state_);
  JournalPosition saved = committed_;
  bool streamReady = false;
  auto backoff = std::chrono::milliseconds(100);
  nextStatus_ = Clock::now() + std::chrono::seconds(settings_.statusSeconds);
  auto lastNews = Clock::now();
  lastAckProgress_ = Clock::now();
  // A batch never holds more than the library lets wait, so the window below always has room for one.
  const std::size_t batchRecords = std::clamp<std::size_t>(options_.batchBytes / kJournalRecordSize, 1,
                                                           static_cast<std::size_t>(std::max(options_.maxPending, 1)));
  const auto commit = [&] {
    TakeAcknowledgements();
    if (!(committed_ == saved)) {
      saved = committed_;
      saver.Post(committed_);
      // Success is a batch acknowledged whole: one handed to the library may still be refused, and
      // the duplicates of a retried batch are acknowledged before the message that fails again.
      backoff = std::chrono::milliseconds(100);
    }
    if (std::string problem = saver.TakeError(); !problem.empty()) lastProblem_ = problem;
  };
  const auto failAfterBackoff = [&](const std::string& why) {
    StartOver(why);
    SleepUnlessStopped(backoff, stop);
    backoff = std::min(backoff * 2, kMaxBackoff);
  };
  JournalFollower::Batch batch;  // kept, so its record vector is not allocated again for every batch
  while (!stop.load(std::memory_order_acquire)) {
    StatusIfDue();
    commit();
    const bool stalled = InFlight() > 0 && Clock::now() - lastAckProgress_ > kAckTimeout;
    if (!link_.Connected()) {
      if (stalled) StartOver("no acknowledgement while the connection is down");
      if (link_.Closed()) {
        // The library gave up (a refused login, say): try again from the start after a pause.
        StartOver("connection closed");
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
    if (ackErrors_.load(std::memory_order_acquire) != 0) {
      failAfterBackoff("the stream refused a message");
      continue;
    }
    if (stalled) {
      failAfterBackoff("no acknowledgement for " + std::to_string(kAckTimeout.count()) + " s");
      continue;
    }
    if (InFlight() + batchRecords > ringSize_) {
      // The window is full: wait for acknowledgements, not for the library's stall.
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
      continue;
    }
    if (!follower_.Next(batchRecords, &batch)) {
      if (InFlight() == 0) counters_.caughtUpAt.store(PublisherCounters::NowNanos(), std::memory_order_relaxed);
      ReportFollowerEvents();
      if (options_.exitWhenIdleSeconds > 0 && InFlight() == 0 &&
          Clock::now() - lastNews > std::chrono::duration<double>(options_.exitWhenIdleSeconds)) {
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(options_.pollMilliseconds));
      continue;
    }
    lastNews = Clock::now();
    counters_.linesRead.fetch_add(batch.entries.size(), std::memory_order_relaxed);
    ReportFollowerEvents();
    if (!PublishBatch(batch)) failAfterBackoff(lastProblem_);
  }
  // A stop waits a moment for what is in flight, so a restart does not send it again.
  const auto deadline = Clock::now() + kStopGrace;
  while (InFlight() > 0 && link_.Connected() && Clock::now() < deadline &&
         ackErrors_.load(std::memory_order_acquire) == 0) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    TakeAcknowledgements();
  }
  commit();
  PrintStatus();
  return 0;
}

bool TickPublisher::PublishBatch(const JournalFollower::Batch& batch) {
  jsCtx* js = link_.js();
  char ordinalText[24];
  char idText[33];
  // The wait for acknowledgements starts with the first message in flight, not at the last one before
  // an idle spell.
  if (InFlight() == 0) lastAckProgress_ = Clock::now();
  for (std::size_t i = 0; i < batch.entries.size(); ++i) {
    const JournalEntry& entry = batch.entries[i];
    if (!IsContractCode(entry.tick.InstrumentID)) {
      // The collector stores no such code; a journal that holds one was not written by it.
      ++skippedCodes_;
      continue;
    }
    *std::to_chars(ordinalText, ordinalText + sizeof(ordinalText) - 1, nextOrdinal_).ptr = '\0';
    acks_[nextOrdinal_ % ringSize_].store(0, std::memory_order_relaxed);
    natsMsg* msg = nullptr;
    // The body is the record as the collector wrote it, checksum included.
    natsStatus s = natsMsg_Create(&msg, SubjectOf(entry.tick.InstrumentID).c_str(), nullptr,
                                  reinterpret_cast<const char*>(batch.records[i]), static_cast<int>(kTickBodySize));
    TickIdOfRecord(entry.tick).Text(idText);
    if (s == NATS_OK) s = natsMsgHeader_Set(msg, "Nats-Msg-Id", idText);
    if (s == NATS_OK) s = natsMsgHeader_Set(msg, "Quoteloom-Collector", options_.collectorName.c_str());
    if (s == NATS_OK) s = natsMsgHeader_Set(msg, kOrdinalHeader, ordinalText);
    if (s == NATS_OK) s = js_PublishMsgAsync(js, &msg, nullptr);
    natsMsg_Destroy(msg);
    if (s != NATS_OK) {
      lastProblem_ = "publish: " + NatsLink::LastError(s);
      return false;
    }
    ++nextOrdinal_;
    ++published_;
    counters_.published.fetch_add(1, std::memory_order_relaxed);
  }
  checkpoints_.emplace_back(nextOrdinal_, batch.end);
  counters_.pending.store(InFlight(), std::memory_order_relaxed);
  return true;
}

void TickPublisher::TakeAcknowledgements() {
  const std::uint64_t before = ackFront_;
  while (ackFront_ < nextOrdinal_ &&
         acks_[ackFront_ % ringSize_].load(std::memory_order_acquire) == ackFront_ + 1) {
    ++ackFront_;
  }
  if (ackFront_ != before) {
    lastAckProgress_ = Clock::now();
    acknowledged_ += ackFront_ - before;
    counters_.acknowledged.fetch_add(ackFront_ - before, std::memory_order_relaxed);
    counters_.lastAcknowledgedAt.store(PublisherCounters::NowNanos(), std::memory_order_relaxed);
  }
  while (!checkpoints_.empty() && checkpoints_.front().first <= ackFront_) {
    committed_ = checkpoints_.front().second;
    checkpoints_.pop_front();
  }
  counters_.pending.store(InFlight(), std::memory_order_relaxed);
}

void TickPublisher::StartOver(const std::string& why) {
  if (InFlight() == 0 && checkpoints_.empty() && ackErrors_.load(std::memory_order_acquire) == 0) {
    follower_.Rewind(committed_);
    return;
  }
  lastProblem_ = why;
  ++retries_;
  counters_.retries.fetch_add(1, std::memory_order_relaxed);
  // Later answers to what is in flight now are ignored; the library forgets the messages.
  generationStart_.store(nextOrdinal_, std::memory_order_release);
  natsMsgList pending{};
  if (link_.js() != nullptr && js_PublishAsyncGetPendingList(&pending, link_.js()) == NATS_OK) {
    natsMsgList_Destroy(&pending);
  }
  ackErrors_.store(0, std::memory_order_release);
  ackFront_ = nextOrdinal_;
  checkpoints_.clear();
  lastAckProgress_ = Clock::now();
  counters_.pending.store(0, std::memory_order_relaxed);
  follower_.Rewind(committed_);
}

void TickPublisher::ReportFollowerEvents() {
  const JournalFollower::Counters& c = follower_.counters();
  const std::string path = follower_.DayPath(follower_.position().day);
  if (c.filesReplaced != seen_.filesReplaced || c.filesTruncated != seen_.filesTruncated) {
    std::fprintf(stderr, "quoteloom-publish: %s was %s under it; reading it again from its start\n", path.c_str(),
                 c.filesReplaced != seen_.filesReplaced ? "replaced" : "shortened or rewritten");
  }
  if (c.daysResumed != seen_.daysResumed) {
    std::fprintf(stderr, "quoteloom-publish: %s grew after it was left; publishing its new records\n", path.c_str());
  }
  if (c.daysFinished != seen_.daysFinished) std::fprintf(stderr, "quoteloom-publish: following %s\n", path.c_str());
  counters_.malformed.store(c.damagedRecords + skippedCodes_, std::memory_order_relaxed);
  if (c.damagedRecords != seen_.damagedRecords) lastProblem_ = "damaged record skipped: " + follower_.lastFault();
  counters_.refusedFiles.store(c.filesRefused, std::memory_order_relaxed);
  if (c.filesRefused != seen_.filesRefused) {
    std::fprintf(stderr, "quoteloom-publish: not following %s\n", follower_.lastFault().c_str());
  }
  seen_ = c;
  std::fflush(stderr);
}

void TickPublisher::Heartbeat() {
  const auto now = Clock::now();
  if (now < nextHeartbeat_) return;
  nextHeartbeat_ = now + std::chrono::seconds(1);
  linkWatch_.Observe(link_.Connected(), counters_.connected, counters_.reconnects);
  counters_.backlogBytes.store(follower_.BytesAfter(committed_), std::memory_order_relaxed);
  // The loop came round: it is not hung, whatever the cluster does.
  if (options_.notifier != nullptr) options_.notifier->Watchdog();
}

void TickPublisher::StatusIfDue() {
  Heartbeat();
  if (Clock::now() < nextStatus_) return;
  PrintStatus();
  nextStatus_ = Clock::now() + std::chrono::seconds(settings_.statusSeconds);
}

void TickPublisher::PrintStatus() {
  if (std::string problem = link_.TakeProblem(); !problem.empty() && lastProblem_.empty()) lastProblem_ = problem;
  const auto& c = follower_.counters();
  std::fprintf(stderr,
               "[status] published %llu, acknowledged %llu, in flight %llu, backlog %llu bytes, day %s, damaged "
               "records %llu, retries %llu, refused files %llu, connection %s%s%s%s\n",
               static_cast<unsigned long long>(published_), static_cast<unsigned long long>(acknowledged_),
               static_cast<unsigned long long>(InFlight()), static_cast<unsigned long long>(follower_.BytesAfter(committed_)),
               committed_.day.empty() ? "-" : committed_.day.c_str(),
               static_cast<unsigned long long>(c.damagedRecords + skippedCodes_),
               static_cast<unsigned long long>(retries_), static_cast<unsigned long long>(c.filesRefused),
               link_.StateText().c_str(), lastProblem_.empty() ? "" : ", last problem: ", lastProblem_.c_str(),
               MetricsStatusNote(options_.metrics).c_str());
  lastProblem_.clear();
  std::fflush(stderr);
}
