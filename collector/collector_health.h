#ifndef QUOTELOOM_COLLECTOR_COLLECTOR_HEALTH_H
#define QUOTELOOM_COLLECTOR_COLLECTOR_HEALTH_H

#include "collector/writer_watch.h"

class CollectorRuntime;

// Whether the collector works as it should: logged in to its front, or outside the hours in which
// any exchange trades, and its writer draining. Evaluate may be called from any thread.
class CollectorHealth {
 public:
  struct Verdict {
    bool healthy;
    const char* reason;  // "ok", "outside_service_hours", "front_not_logged_in", "writer_stalled"
  };

  // The verdict from its three facts; the writer is judged first, since it loses data.
  static Verdict Judge(bool loggedIn, bool anyExchangeInSession, bool writerDraining);

  explicit CollectorHealth(const CollectorRuntime& runtime) : runtime_(runtime) {}

  Verdict Evaluate();
  // Only the writer's part, for the watchdog: a stalled writer must not be pinged for.
  bool WriterDraining();

 private:
  const CollectorRuntime& runtime_;
  WriterWatch writer_;
};

#endif
