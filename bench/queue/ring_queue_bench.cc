// Pushes and pops per second of the writer queue (one thread per operation) beside the bare inner
// queue, so the cost of the operation threads is visible. Run: build/bench/ring_queue_bench
#include <benchmark/benchmark.h>
#include <readerwriterqueue/readerwriterqueue.h>

#include <thread>

#include "queue/ring_queue_api.h"

namespace {

TickRecord Sample() {
  TickRecord r;
  ClearTickRecord(&r);
  std::snprintf(r.InstrumentID, sizeof(r.InstrumentID), "rb2405");
  r.Filled = 1;
  return r;
}

void RingQueuePushThenPop(benchmark::State& state) {
  CTRingQueueApi* q = CTRingQueueApi::CreateFtdcCTRingQueueApi();
  q->InitQueue(4096);
  const TickRecord record = Sample();
  for (auto _ : state) {
    q->Push(&record);
    TickRecord out;
    ClearTickRecord(&out);
    q->Pop(&out);
    benchmark::DoNotOptimize(out.Filled);
  }
  state.counters["pairs_per_s"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
}

// A producer and a consumer thread, as the collector runs it: items counted on the consumer side.
void RingQueueProducerConsumer(benchmark::State& state) {
  CTRingQueueApi* q = CTRingQueueApi::CreateFtdcCTRingQueueApi();
  q->InitQueue(4096);
  const TickRecord record = Sample();
  constexpr int kBatch = 2000;
  for (auto _ : state) {
    std::thread producer([&] {
      for (int i = 0; i < kBatch; ++i) q->Push(&record);
    });
    int got = 0;
    while (got < kBatch) {
      TickRecord out;
      ClearTickRecord(&out);
      q->Pop(&out);
      got += out.Filled == 1;
    }
    producer.join();
  }
  state.counters["pushes_per_s"] = benchmark::Counter(double(state.iterations()) * kBatch, benchmark::Counter::kIsRate);
  state.counters["pops_per_s"] = benchmark::Counter(double(state.iterations()) * kBatch, benchmark::Counter::kIsRate);
}

void InnerQueuePushThenPop(benchmark::State& state) {
  moodycamel::ReaderWriterQueue<TickRecord> q(4096);
  const TickRecord record = Sample();
  for (auto _ : state) {
    q.enqueue(record);
    TickRecord out;
    benchmark::DoNotOptimize(q.try_dequeue(out));
  }
  state.counters["pairs_per_s"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
}

void InnerQueueProducerConsumer(benchmark::State& state) {
  moodycamel::ReaderWriterQueue<TickRecord> q(4096);
  const TickRecord record = Sample();
  constexpr int kBatch = 200000;
  for (auto _ : state) {
    std::thread producer([&] {
      for (int i = 0; i < kBatch; ++i) q.enqueue(record);
    });
    int got = 0;
    TickRecord out;
    while (got < kBatch) got += q.try_dequeue(out);
    producer.join();
  }
  state.counters["pushes_per_s"] = benchmark::Counter(double(state.iterations()) * kBatch, benchmark::Counter::kIsRate);
  state.counters["pops_per_s"] = benchmark::Counter(double(state.iterations()) * kBatch, benchmark::Counter::kIsRate);
}

}  // namespace

BENCHMARK(RingQueuePushThenPop)->UseRealTime();
BENCHMARK(RingQueueProducerConsumer)->UseRealTime();
BENCHMARK(InnerQueuePushThenPop)->UseRealTime();
BENCHMARK(InnerQueueProducerConsumer)->UseRealTime();
BENCHMARK_MAIN();
