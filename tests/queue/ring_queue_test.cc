#include <gtest/gtest.h>
#include <pthread.h>
#include <sched.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "queue/operation_thread.h"
#include "queue/ring_queue_api.h"
#include "queue/ring_queue_api_inter.h"

namespace {

TickRecord Numbered(int i) {
  TickRecord r;
  ClearTickRecord(&r);
  std::snprintf(r.InstrumentID, sizeof(r.InstrumentID), "c%d", i % 97);
  r.Volume = i;
  r.LastPrice = i * 0.5;
  r.Filled = 1;
  return r;
}

// Queues are never destroyed, as in the program; keeping them reachable keeps the leak checker quiet.
std::vector<CTRingQueueApi*>& Kept() {
  static auto* kept = new std::vector<CTRingQueueApi*>();
  return *kept;
}

CTRingQueueApi* Created() { return Kept().emplace_back(CTRingQueueApi::CreateFtdcCTRingQueueApi()); }

CTRingQueueApi* NewQueue(int n = 4096) {
  CTRingQueueApi* q = Created();
  q->InitQueue(n);
  return q;
}

TEST(RingQueueTest, VersionAndFactory) {
  EXPECT_STREQ(CTRingQueueApi::GetApiVersion(), "6.3.6");
  CTRingQueueApi* a = Created();
  CTRingQueueApi* b = Created();
  EXPECT_NE(a, b);
  EXPECT_NE(dynamic_cast<CTRingQueueApi_inter*>(a), nullptr);
}

TEST(RingQueueTest, PopOnEmptyQueueLeavesDestinationZero) {
  CTRingQueueApi* q = NewQueue();
  TickRecord out;
  ClearTickRecord(&out);
  EXPECT_EQ(q->Pop(&out), 1);
  const auto* bytes = reinterpret_cast<const unsigned char*>(&out);
  for (std::size_t i = 0; i < sizeof(out); ++i) ASSERT_EQ(bytes[i], 0);
}

TEST(RingQueueTest, FiveThousandPushesThenOrderedPops) {
  CTRingQueueApi* q = NewQueue();
  for (int i = 0; i < 5000; ++i) {
    TickRecord r = Numbered(i);
    q->Push(&r);
  }
  for (int i = 0; i < 5000; ++i) {
    TickRecord out;
    ClearTickRecord(&out);
    ASSERT_EQ(q->Pop(&out), 1);
    ASSERT_EQ(out.Filled, 1);
    ASSERT_EQ(out.Volume, i);
    ASSERT_EQ(std::memcmp(&out, &static_cast<const TickRecord&>(Numbered(i)), sizeof(out)), 0);
  }
  TickRecord out;
  ClearTickRecord(&out);
  q->Pop(&out);
  EXPECT_EQ(out.Filled, 0);
}

TEST(RingQueueTest, ProducerAndConsumerThreadsExchangeInOrderWithoutLoss) {
  constexpr int kCount = 100000;
  CTRingQueueApi* q = NewQueue();
  std::thread producer([q] {
    for (int i = 0; i < kCount; ++i) {
      TickRecord r = Numbered(i);
      q->Push(&r);
    }
  });
  long long sum = 0;
  int expected = 0;
  while (expected < kCount) {
    TickRecord out;
    ClearTickRecord(&out);
    q->Pop(&out);
    if (out.Filled != 1) continue;
    ASSERT_EQ(out.Volume, expected);
    sum += out.Volume;
    ++expected;
  }
  producer.join();
  EXPECT_EQ(sum, static_cast<long long>(kCount) * (kCount - 1) / 2);
}

TEST(RingQueueTest, ByteRecordQueueIsSeparate) {
  CTRingQueueApi* q = NewQueue();
  q->InitQueue2(16);
  unsigned char in[kByteRecordSize], out[kByteRecordSize] = {};
  for (int i = 0; i < kByteRecordSize; ++i) in[i] = static_cast<unsigned char>(i);
  q->Push2(in);
  TickRecord none;
  ClearTickRecord(&none);
  q->Pop(&none);
  EXPECT_EQ(none.Filled, 0);
  EXPECT_EQ(q->Pop2(out), 1);
  EXPECT_EQ(std::memcmp(in, out, sizeof(in)), 0);
}

struct CountingNotify : CTRingQueueNotify {
  void OnInitQueue() override { ++calls; }
  int calls = 0;
};

TEST(RingQueueTest, TheRegisteredNotifyIsToldOfEveryInitUntilItIsWithdrawn) {
  CountingNotify notify;
  CTRingQueueApi* q = Created();
  q->RegisterNotify(&notify);
  q->InitQueue(8);
  q->InitQueue2(8);
  EXPECT_EQ(notify.calls, 2);
  // The registration is process-wide: another instance's init is reported too.
  Created()->InitQueue(8);
  EXPECT_EQ(notify.calls, 3);
  q->RegisterNotify(nullptr);
  Created()->InitQueue(8);
  EXPECT_EQ(notify.calls, 3);
}

TEST(OperationThreadTest, StackIsAtLeastTheSystemMinimum) {
  EXPECT_GE(OperationThreadStackSize(), static_cast<std::size_t>(PTHREAD_STACK_MIN));
  EXPECT_GE(OperationThreadStackSize(), 4096u);
}

TEST(OperationThreadTest, RunsOnAnotherThread) {
  std::thread::id ran;
  RunOnOperationThread([](void* p) { *static_cast<std::thread::id*>(p) = std::this_thread::get_id(); }, &ran);
  EXPECT_NE(ran, std::this_thread::get_id());
}

TEST(OperationThreadTest, RunsOnTheCallersProcessorAndLeavesTheCallerFree) {
  cpu_set_t before;
  ASSERT_EQ(pthread_getaffinity_np(pthread_self(), sizeof(before), &before), 0);
  if (CPU_COUNT(&before) < 2) GTEST_SKIP() << "one processor only";
  struct Seen {
    int processors = 0;
    int cpu = -1;
  } seen;
  RunOnOperationThread(
      [](void* p) {
        auto* s = static_cast<Seen*>(p);
        cpu_set_t mine;
        pthread_getaffinity_np(pthread_self(), sizeof(mine), &mine);
        s->processors = CPU_COUNT(&mine);
        s->cpu = sched_getcpu();
      },
      &seen);
  EXPECT_EQ(seen.processors, 1);
  EXPECT_GE(seen.cpu, 0);
  cpu_set_t after;
  ASSERT_EQ(pthread_getaffinity_np(pthread_self(), sizeof(after), &after), 0);
  EXPECT_TRUE(CPU_EQUAL(&before, &after));
}

TEST(OperationThreadTest, RefusedThreadRunsTheOperationOnTheCaller) {
  CTRingQueueApi* q = NewQueue();
  SetThreadCreateForTesting([](pthread_t*, const pthread_attr_t*, void* (*)(void*), void*) { return EAGAIN; });
  TickRecord in = Numbered(7);
  q->Push(&in);
  TickRecord out;
  ClearTickRecord(&out);
  q->Pop(&out);
  SetThreadCreateForTesting(nullptr);
  EXPECT_EQ(out.Filled, 1);
  EXPECT_EQ(out.Volume, 7);
}

}  // namespace
