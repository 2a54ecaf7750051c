#ifndef QUOTELOOM_METRICS_SAMPLE_SET_H
#define QUOTELOOM_METRICS_SAMPLE_SET_H

#include <map>
#include <string>
#include <utility>
#include <vector>

#include <prometheus/metric_family.h>

// The samples of one scrape, gathered family by family: a program's collection callback adds its
// values here on the exposer's thread. One scrape, one thread.
class SampleSet {
 public:
  using Labels = std::vector<std::pair<std::string, std::string>>;

  // A counter sample; the family takes `help` from its first sample.
  void Counter(const std::string& name, const char* help, double value, const Labels& labels = {});
  void Gauge(const std::string& name, const char* help, double value, const Labels& labels = {});

  // The families in the order of their first sample.
  std::vector<prometheus::MetricFamily> Take();

 private:
  prometheus::ClientMetric& Add(const std::string& name, const char* help, prometheus::MetricType type,
                                const Labels& labels);

  std::vector<prometheus::MetricFamily> families_;
  std::map<std::string, std::size_t> index_;
};

#endif
