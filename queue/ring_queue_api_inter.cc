#include "queue/ring_queue_api_inter.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <exception>
#include <thread>

#include "queue/operation_thread.h"

namespace {

std::atomic<CTRingQueueNotify*> g_notify{nullptr};

template <typename Queue, typename Element>
struct Operation {
  Queue* queue;
  Element* record;
};

template <typename Queue, typename Element>
void EnqueueOn(void* raw) {
  auto* op = static_cast<Operation<Queue, Element>*>(raw);
  try {
    op->queue->enqueue(*op->record);
  } catch (const std::exception& e) {
    std::printf("  ERROR DETECTED: Exception thrown: %s\n", e.what());
  }
}

template <typename Queue, typename Element>
void DequeueOn(void* raw) {
  auto* op = static_cast<Operation<Queue, Element>*>(raw);
  op->queue->try_dequeue(*op->record);
}

}  // namespace

CTRingQueueApi* CTRingQueueApi::CreateFtdcCTRingQueueApi() { return new CTRingQueueApi_inter(); }

const char* CTRingQueueApi::GetApiVersion() { return "6.3.6"; }

void CTRingQueueApi_inter::InitQueue(int n) {
  if (CTRingQueueNotify* notify = g_notify.load(std::memory_order_acquire)) notify->OnInitQueue();
  records_ = std::make_unique<moodycamel::ReaderWriterQueue<TickRecord>>(static_cast<std::size_t>(n));
  std::printf("InitQueue\n");
}

void CTRingQueueApi_inter::InitQueue2(int n) {
  if (CTRingQueueNotify* notify = g_notify.load(std::memory_order_acquire)) notify->OnInitQueue();
  byteRecords_ = std::make_unique<moodycamel::ReaderWriterQueue<ByteRecord>>(static_cast<std::size_t>(n));
  std::printf("InitQueue2\n");
}

void CTRingQueueApi_inter::Push(const TickRecord* record) {
  using Queue = moodycamel::ReaderWriterQueue<TickRecord>;
  Operation<Queue, const TickRecord> op{records_.get(), record};
  RunOnOperationThread(&EnqueueOn<Queue, const TickRecord>, &op);
}

int CTRingQueueApi_inter::Pop(TickRecord* destination) {
  using Queue = moodycamel::ReaderWriterQueue<TickRecord>;
  Operation<Queue, TickRecord> op{records_.get(), destination};
  RunOnOperationThread(&DequeueOn<Queue, TickRecord>, &op);
  return 1;
}

void CTRingQueueApi_inter::Push2(const void* record) {
  using Queue = moodycamel::ReaderWriterQueue<ByteRecord>;
  ByteRecord copy;
  std::memcpy(copy.data(), record, copy.size());
  Operation<Queue, ByteRecord> op{byteRecords_.get(), &copy};
  RunOnOperationThread(&EnqueueOn<Queue, ByteRecord>, &op);
}

int CTRingQueueApi_inter::Pop2(void* destination) {
  using Queue = moodycamel::ReaderWriterQueue<ByteRecord>;
  ByteRecord record;
  bool delivered = false;
  struct Pop2Op {
    Queue* queue;
    ByteRecord* record;
    bool* delivered;
  } op{byteRecords_.get(), &record, &delivered};
  RunOnOperationThread(
      [](void* raw) {
        auto* o = static_cast<Pop2Op*>(raw);
        *o->delivered = o->queue->try_dequeue(*o->record);
      },
      &op);
  if (delivered) std::memcpy(destination, record.data(), record.size());
  return 1;
}

void CTRingQueueApi_inter::RegisterNotify(CTRingQueueNotify* notify) {
  g_notify.store(notify, std::memory_order_release);
}

int CTRingQueueApi_inter::StartNamedWorkers(const char* const* names, int count) {
  for (int i = 0; i < count && names != nullptr; ++i) {
    std::thread([] {}).detach();
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return 0;
}
