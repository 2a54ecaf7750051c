#include "history/day_close_thread.h"

#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <ctime>

#include "core/clock.h"
#include "core/errno_text.h"
#include "sessions/trading_day_rule.h"

namespace {

// ioprio_set has no glibc wrapper: the idle class (3) in the top bits, the thread as "process".
constexpr int kIoprioWhoProcess = 1;
constexpr int kIoprioClassIdle = 3;
constexpr int kIoprioClassShift = 13;

constexpr int kSlicesPerSecond = 5;

}  // namespace

DayCloseThread::DayCloseThread(DayCloseJob& job, const Clock& clock, Options options)
    : job_(job), clock_(clock), options_(options) {}

DayCloseThread::~DayCloseThread() { Stop(); }

void DayCloseThread::Start(const DayCloseJob::Log& said) {
  if (thread_.joinable()) return;
  thread_ = std::thread([this, said] { Run(said); });
}

void DayCloseThread::Stop() {
  stopping_.store(true, std::memory_order_release);
  if (thread_.joinable()) thread_.join();
}

std::string DayCloseThread::LowerCallingThreadPriority() {
  std::string problem;
  const sched_param idle{0};
  if (pthread_setschedparam(pthread_self(), SCHED_IDLE, &idle) != 0 &&
      setpriority(PRIO_PROCESS, static_cast<id_t>(syscall(SYS_gettid)), 19) != 0) {
    problem = "its CPU priority stays: " + ErrnoText(errno);
  }
  if (syscall(SYS_ioprio_set, kIoprioWhoProcess, 0, kIoprioClassIdle << kIoprioClassShift) != 0) {
    problem += (problem.empty() ? "" : "; ") + std::string("its disk priority stays: ") + ErrnoText(errno);
  }
  return problem;
}

void DayCloseThread::Run(const DayCloseJob::Log& said) {
  const std::string problem = LowerCallingThreadPriority();
  if (!problem.empty() && said) said("day-close thread: " + problem);
  const auto stopping = [this] { return stopping_.load(std::memory_order_acquire); };
  while (!stopping()) {
    const DayCloseMoment moment{static_cast<std::int64_t>(::time(nullptr)), TradingDayOf(clock_.Now()),
                                options_.settleSeconds};
    job_.RunOnce(moment, stopping);
    passes_.fetch_add(1, std::memory_order_acq_rel);
    // Short relative sleeps rather than a timed wait on a deadline: Stop is seen within a slice,
    // and a clock that runs fast or is set (a soak under a fake clock) paces the passes alike.
    for (int slice = 0; slice < options_.intervalSeconds * kSlicesPerSecond && !stopping(); ++slice) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1000 / kSlicesPerSecond));
    }
  }
}
