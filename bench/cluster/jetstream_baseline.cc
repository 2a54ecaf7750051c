// jetstream_baseline: the bare libnats asynchronous JetStream publisher the publisher is measured
// against. It reads a journal into memory, makes every message first (the publisher's subjects, ids,
// headers and bodies), then publishes them all with acknowledgements in flight up to --max-pending
// and waits for the last one. Same stream settings, as it creates the stream the same way.
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
  CLI::App app{"Bare libnats asynchronous JetStream publisher of a journal's ticks.", "jetstream_baseline"};
  app.add_option("--servers", servers, "Server URL")->required();
  app.add_option("--journal", journal, "Journal whose records to publish")->required();
  app.add_option("--max-pending", maxPending, "Publishes in flight")->capture_default_str()->check(CLI::Range(1, 1000000));
  CLI11_PARSE(app, argc, argv);

  std::vector<JournalEntry> entries;
  std::string error;
  if (!ReadWholeJournal(journal, &entries, &error)) {
    std::fprintf(stderr, "jetstream_baseline: %s\n", error.c_str());
    return 1;
  }
  ClusterSettings settings;
  settings.servers = {servers};
  std::vector<Message> messages;
  messages.reserve(entries.size());
  for (const JournalEntry& e : entries) {
    Message m;
    m.subject = TickSubject(settings.subjectPrefix, e.tick.InstrumentID);
    m.id = TickIdOfRecord(e.tick).Text();
    EncodeTickBody(e, &m.body);
    messages.push_back(std::move(m));
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
  for (const Message& m : messages) {
    natsMsg* msg = nullptr;
    natsStatus s = natsMsg_Create(&msg, m.subject.c_str(), nullptr, m.body.data(), static_cast<int>(m.body.size()));
    if (s == NATS_OK) s = natsMsgHeader_Set(msg, "Nats-Msg-Id", m.id.c_str());
    if (s == NATS_OK) s = natsMsgHeader_Set(msg, "Quoteloom-Collector", "baseline");
    if (s == NATS_OK) s = js_PublishMsgAsync(link.js(), &msg, nullptr);
    natsMsg_Destroy(msg);
    if (s != NATS_OK) {
      std::fprintf(stderr, "jetstream_baseline: publish: %s\n", NatsLink::LastError(s).c_str());
      return 1;
    }
  }
  jsPubOptions wait;
  jsPubOptions_Init(&wait);
  wait.MaxWait = 60000;
  const natsStatus s = js_PublishAsyncComplete(link.js(), &wait);
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  // The last answers may still be in the handler when the wait returns.
  for (int i = 0; i < 1000 && acknowledged.load() + failed.load() < static_cast<long long>(messages.size()); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  std::printf("baseline: %zu messages, %lld acknowledged, %lld failed, %.3f s, %.0f messages/s%s\n", messages.size(),
              acknowledged.load(), failed.load(), seconds, messages.size() / seconds,
              s == NATS_OK ? "" : " (NOT COMPLETE)");
  return s == NATS_OK && failed.load() == 0 ? 0 : 1;
}
