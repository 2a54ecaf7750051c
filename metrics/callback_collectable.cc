#include "metrics/callback_collectable.h"

std::vector<prometheus::MetricFamily> CallbackCollectable::Collect() const {
  SampleSet samples;
  fill_(samples);
  return samples.Take();
}
