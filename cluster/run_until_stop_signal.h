#ifndef QUOTELOOM_CLUSTER_RUN_UNTIL_STOP_SIGNAL_H
#define QUOTELOOM_CLUSTER_RUN_UNTIL_STOP_SIGNAL_H

#include <atomic>
#include <functional>

// Runs a cluster program's loop on the main thread until SIGINT or SIGTERM sets the flag it is given,
// then ends the NATS library's threads; returns the loop's exit code. Call once, from main.
int RunUntilStopSignal(const std::function<int(const std::atomic<bool>& stop)>& loop);

#endif
