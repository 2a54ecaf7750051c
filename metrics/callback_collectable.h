#ifndef QUOTELOOM_METRICS_CALLBACK_COLLECTABLE_H
#define QUOTELOOM_METRICS_CALLBACK_COLLECTABLE_H

#include <functional>

#include <prometheus/collectable.h>

#include "metrics/sample_set.h"

// A collectable whose samples a callback reads at scrape time from counters the program keeps
// anyway, so the program's own threads never touch the client library. Collect runs on the
// exposer's threads; the callback must be safe there.
class CallbackCollectable : public prometheus::Collectable {
 public:
  using Fill = std::function<void(SampleSet&)>;

  explicit CallbackCollectable(Fill fill) : fill_(std::move(fill)) {}

  std::vector<prometheus::MetricFamily> Collect() const override;

 private:
  const Fill fill_;
};

#endif
