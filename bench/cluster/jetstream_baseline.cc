// jetstream_baseline: the bare libnats asynchronous JetStream publisher the publisher is measured
// against. It reads a journal record by record and publishes each as the publisher does (subject,
// id, headers, the record as the body) with acknowledgements in flight up to --max-pending, then
// waits for the last one; with --prepare-first it makes every message before its clock starts, so
// only the library's publishing is timed. Same stream settings, as it creates the stream the same way.
#include <CLI/CLI.hpp>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "cluster/cluster_settings.h"
#include "cluster/exact_tick.h"
#include "cluster/nats_link.h"
#include "cluster/tick_subject.h"
#include "storage/journal_reader.h"

namespace {

std::atomic<long long> acknowledged{0};
std::atomic<long long> failed{0};

void OnAnswer(jsCtx*, natsMsg* msg, jsPubAck* ack, jsPubAckErr* error, void*) {
  if (ack != nullptr && error == nullptr) {
    acknowledged.fetch_add(1, std::memory_order_relaxed);
  } else {
    failed.fetch_add(1, std::memory_order_relaxed);
  }
  natsMsg_Destroy(msg);
}

struct Message {
  std::string subject;
  std::string id;
  std::string body;
};

}  // namespace

int main(int argc, char** argv) {
  std::string servers, journal;
  int maxPending = 16384;
  bool prepareFirst = false;
  CLI::App app{"Bare libnats asynchronous JetStream publisher of a journal's ticks.", "jetstream_baseline"};
  app.add_option("--servers", servers, "Server URL")->required();
  app.add_option("--journal", journal, "Journal whose records to publish")->required();
  app.add_option("--max-pending", maxPending, "Publishes in flight")->capture_default_str()->check(CLI::Range(1, 1000000));
  app.add_flag("--prepare-first", prepareFirst, "Make every message before the clock starts");
  CLI11_PARSE(app, argc, argv);

  std::string error;
  ClusterSettings settings;
  settings.servers = {servers};
  const auto makeMessage = [&](const JournalEntry& e, Message* m) {
    m->subject = TickSubject(settings.subjectPrefix, e.tick.InstrumentID);
    m->id = TickIdOfRecord(e.tick).Text();
    EncodeTickBody(e, &m->body);
  };
  std::vector<Message> messages;
  if (prepareFirst) {
    std::vector<JournalEntry> entries;
    if (!ReadWholeJournal(journal, &entries, &error)) {
      std::fprintf(stderr, "jetstream_baseline: %s\n", error.c_str());
      return 1;
    }
    messages.resize(entries.size());
    for (std::size_t i = 0; i < entries.size(); ++i) makeMessage(entries[i], &messages[i]);
  }

  NatsLink link(settings);
  link.SetPublishAsync(maxPending, &OnAnswer, nullptr);
  bool reachable = false;
  if (!link.Open(&reachable, &error) || !reachable) {
    std::fprintf(stderr, "jetstream_baseline: %s\n", error.c_str());
    return 1;
  }
  if (!link.EnsureStream(&error)) {
    std::fprintf(stderr, "jetstream_baseline: %s\n", error.c_str());
    return 1;
  }
  const auto start = std::chrono::steady_clock::now();
  const auto publish = [&](const Message& m) {
    natsMsg* msg = nullptr;
    natsStatus s = natsMsg_Create(&msg, m.subject.c_str(), nullptr, m.body.data(), static_cast<int>(m.body.size()));
    if (s == NATS_OK) s = natsMsgHeader_Set(msg, "Nats-Msg-Id", m.id.c_str());
    if (s == NATS_OK) s = natsMsgHeader_Set(msg, "Quoteloom-Collector", "baseline");
    if (s == NATS_OK) s = js_PublishMsgAsync(link.js(), &msg, nullptr);
    natsMsg_Destroy(msg);
    if (s != NATS_OK) std::fprintf(stderr, "jetstream_baseline: publish: %s\n", NatsLink::LastError(s).c_str());
    return s == NATS_OK;
  };
  std::size_t count = 0;
  if (prepareFirst) {
    for (const Message& m : messages) {
      if (!publish(m)) return 1;
    }
    count = messages.size();
  } else {
    JournalReader reader;
    if (!reader.Open(journal, &error)) {
      std::fprintf(stderr, "jetstream_baseline: %s\n", error.c_str());
      return 1;
    }
    JournalEntry entry;
    Message m;
    while (reader.Next(&entry, &error) == JournalReader::Result::kRecord) {
      makeMessage(entry, &m);
      if (!publish(m)) return 1;
      ++count;
    }
  }
  jsPubOptions wait;
  jsPubOptions_Init(&wait);
  wait.MaxWait = 60000;
  const natsStatus s = js_PublishAsyncComplete(link.js(), &wait);
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  // The last answers may still be in the handler when the wait returns.
  for (int i = 0; i < 1000 && acknowledged.load() + failed.load() < static_cast<long long>(count); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  std::printf("baseline: %zu messages, %lld acknowledged, %lld failed, %.3f s, %.0f messages/s%s\n", count,
              acknowledged.load(), failed.load(), seconds, count / seconds,
              s == NATS_OK ? "" : " (NOT COMPLETE)");
  return s == NATS_OK && failed.load() == 0 ? 0 : 1;
}
