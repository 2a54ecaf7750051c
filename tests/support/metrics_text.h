#ifndef QUOTELOOM_TESTS_SUPPORT_METRICS_TEXT_H
#define QUOTELOOM_TESTS_SUPPORT_METRICS_TEXT_H

#include <cstdlib>
#include <sstream>
#include <string>

// The value of the sample `series` (a name with its labels as written, such as
// quoteloom_healthy{reason="ok"}) in Prometheus' text format; -1 when the series is not there.
inline double MetricValue(const std::string& text, const std::string& series) {
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    if (line.size() > series.size() && line.compare(0, series.size(), series) == 0 && line[series.size()] == ' ') {
      return std::strtod(line.c_str() + series.size() + 1, nullptr);
    }
  }
  return -1;
}

// The sum of every sample of the family `name`, whatever its labels; -1 when there is none.
inline double MetricSum(const std::string& text, const std::string& name) {
  std::istringstream lines(text);
  std::string line;
  double sum = 0;
  bool found = false;
  while (std::getline(lines, line)) {
    if (line.size() <= name.size() || line.compare(0, name.size(), name) != 0) continue;
    const char next = line[name.size()];
    if (next != ' ' && next != '{') continue;
    const std::size_t space = line.rfind(' ');
    sum += std::strtod(line.c_str() + space + 1, nullptr);
    found = true;
  }
  return found ? sum : -1;
}

#endif
