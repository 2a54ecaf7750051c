#include "metrics/sample_set.h"

void SampleSet::Counter(const std::string& name, const char* help, double value, const Labels& labels) {
  Add(name, help, prometheus::MetricType::Counter, labels).counter.value = value;
}

void SampleSet::Gauge(const std::string& name, const char* help, double value, const Labels& labels) {
  Add(name, help, prometheus::MetricType::Gauge, labels).gauge.value = value;
}

prometheus::ClientMetric& SampleSet::Add(const std::string& name, const char* help, prometheus::MetricType type,
                                         const Labels& labels) {
  auto [it, added] = index_.try_emplace(name, families_.size());
  if (added) {
    prometheus::MetricFamily family;
    family.name = name;
    family.help = help;
    family.type = type;
    families_.push_back(std::move(family));
  }
  prometheus::ClientMetric& metric = families_[it->second].metric.emplace_back();
  metric.label.reserve(labels.size());
  for (const auto& [key, value] : labels) metric.label.push_back({key, value});
  return metric;
}

std::vector<prometheus::MetricFamily> SampleSet::Take() {
  index_.clear();
  return std::move(families_);
}
