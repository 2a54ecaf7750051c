#ifndef QUOTELOOM_QUEUE_RING_QUEUE_API_INTER_H
#define QUOTELOOM_QUEUE_RING_QUEUE_API_INTER_H

#include <readerwriterqueue/readerwriterqueue.h>

#include <array>
#include <memory>

#include "queue/ring_queue_api.h"

// The hidden implementation of CTRingQueueApi over readerwriterqueue. One producer and one
// consumer thread per inner queue; the operation threads are joined before each call returns.
class CTRingQueueApi_inter final : public CTRingQueueApi {
 public:
  using ByteRecord = std::array<unsigned char, kByteRecordSize>;

  void Reserved0() override {}
  void InitQueue(int n) override;
  void InitQueue2(int n) override;
  void Reserved3() override {}
  void Push(const TickRecord* record) override;
  int Pop(TickRecord* destination) override;
  void Push2(const void* record) override;
  int Pop2(void* destination) override;
  int Reserved8() override { return 0; }
  int Reserved9() override { return 0; }
  void Reserved10(void*) override {}
  void Reserved11(void*) override {}
  void Reserved12(void*) override {}
  void RegisterNotify(CTRingQueueNotify* notify) override;
  int StartNamedWorkers(const char* const* names, int count) override;
  int Reserved15(int, int) override { return 0; }
  int Reserved16(int, int) override { return 0; }
  int Reserved17(int, int) override { return 0; }
  int Reserved18(int, int) override { return 0; }
  int Reserved19(int, int) override { return 0; }

  // Approximate number of records waiting; any thread.
  std::size_t SizeApprox() const { return records_ ? records_->size_approx() : 0; }

 private:
  // Created by InitQueue / InitQueue2 before the producer and consumer start; never freed.
  std::unique_ptr<moodycamel::ReaderWriterQueue<TickRecord>> records_;
  std::unique_ptr<moodycamel::ReaderWriterQueue<ByteRecord>> byteRecords_;
};

#endif
