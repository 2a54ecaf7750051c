#include "queue/operation_thread.h"

#include <pthread.h>
#include <sched.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>

namespace {

constexpr std::size_t kRequestedStack = 4096;

std::atomic<ThreadCreateFn> g_create{&pthread_create};

struct Call {
  void (*fn)(void*);
  void* arg;
};

// Keeps the calling thread on the processor it runs on while an operation thread lives. The
// operation thread inherits that processor, so it starts there and hands back to the waiting
// caller without a cross-processor wake-up, which in a virtual machine costs more than the thread.
class StayOnThisProcessor {
 public:
  StayOnThisProcessor() {
    const int cpu = sched_getcpu();
    if (cpu < 0 || pthread_getaffinity_np(pthread_self(), sizeof(saved_), &saved_) != 0) return;
    if (CPU_COUNT(&saved_) <= 1 || !CPU_ISSET(cpu, &saved_)) return;
    cpu_set_t one;
    CPU_ZERO(&one);
    CPU_SET(cpu, &one);
    pinned_ = pthread_setaffinity_np(pthread_self(), sizeof(one), &one) == 0;
  }
  ~StayOnThisProcessor() {
    if (pinned_) pthread_setaffinity_np(pthread_self(), sizeof(saved_), &saved_);
  }
  StayOnThisProcessor(const StayOnThisProcessor&) = delete;
  StayOnThisProcessor& operator=(const StayOnThisProcessor&) = delete;

 private:
  cpu_set_t saved_;
  bool pinned_ = false;
};

void* Trampoline(void* raw) {
  auto* call = static_cast<Call*>(raw);
  call->fn(call->arg);
  return nullptr;
}

}  // namespace

std::size_t OperationThreadStackSize() {
  std::size_t minimum = PTHREAD_STACK_MIN;
  const long reported = sysconf(_SC_THREAD_STACK_MIN);
  if (reported > 0) minimum = std::max(minimum, static_cast<std::size_t>(reported));
#if defined(QUOTELOOM_SANITIZE)
  minimum = std::max<std::size_t>(minimum, 256 * 1024);  // the sanitizers' frames need far more room
#endif
  return std::max(kRequestedStack, minimum);
}

void RunOnOperationThread(void (*fn)(void*), void* arg) {
  Call call{fn, arg};
  pthread_attr_t attr;
  pthread_attr_init(&attr);
  pthread_attr_setstacksize(&attr, OperationThreadStackSize());
  StayOnThisProcessor stay;
  pthread_t thread;
  const int rc = g_create.load(std::memory_order_relaxed)(&thread, &attr, &Trampoline, &call);
  pthread_attr_destroy(&attr);
  if (rc != 0) {
    fn(arg);
    return;
  }
  pthread_join(thread, nullptr);
}

void SetThreadCreateForTesting(ThreadCreateFn create) {
  g_create.store(create ? create : &pthread_create, std::memory_order_relaxed);
}
