#ifndef QUOTELOOM_QUEUE_RING_QUEUE_API_H
#define QUOTELOOM_QUEUE_RING_QUEUE_API_H

#include "core/tick_record.h"

#define QUOTELOOM_EXPORT __attribute__((visibility("default")))

// Notified by InitQueue and InitQueue2 through its first virtual operation.
class CTRingQueueNotify {
 public:
  virtual void OnInitQueue() = 0;

 protected:
  ~CTRingQueueNotify() = default;
};

// The writer queue, shaped like a vendor API. One producer thread and one consumer thread;
// every Push and Pop runs on a thread of its own that the caller waits for.
// The virtual operations keep their slot order, unnamed slots included.
class QUOTELOOM_EXPORT CTRingQueueApi {
 public:
  static CTRingQueueApi* CreateFtdcCTRingQueueApi();
  static const char* GetApiVersion();

  virtual void Reserved0() = 0;
  virtual void InitQueue(int n) = 0;
  virtual void InitQueue2(int n) = 0;
  virtual void Reserved3() = 0;
  virtual void Push(const TickRecord* record) = 0;
  // Copies the oldest record into `destination`, or leaves it untouched when the queue is empty.
  // Returns 1 either way: a consumer clears the destination first and checks Filled afterwards.
  virtual int Pop(TickRecord* destination) = 0;
  virtual void Push2(const void* record) = 0;
  virtual int Pop2(void* destination) = 0;
  virtual int Reserved8() = 0;
  virtual int Reserved9() = 0;
  virtual void Reserved10(void*) = 0;
  virtual void Reserved11(void*) = 0;
  virtual void Reserved12(void*) = 0;
  virtual void RegisterNotify(CTRingQueueNotify* notify) = 0;
  virtual int StartNamedWorkers(const char* const* names, int count) = 0;
  virtual int Reserved15(int, int) = 0;
  virtual int Reserved16(int, int) = 0;
  virtual int Reserved17(int, int) = 0;
  virtual int Reserved18(int, int) = 0;
  virtual int Reserved19(int, int) = 0;

 protected:
  CTRingQueueApi() = default;
  CTRingQueueApi(const CTRingQueueApi&) = default;
  CTRingQueueApi& operator=(const CTRingQueueApi&) = default;
  ~CTRingQueueApi() = default;
};

// Size of the opaque records of the second queue.
inline constexpr int kByteRecordSize = 644;

#endif
