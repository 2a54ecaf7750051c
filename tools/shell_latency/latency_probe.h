#ifndef QUOTELOOM_TOOLS_SHELL_LATENCY_LATENCY_PROBE_H
#define QUOTELOOM_TOOLS_SHELL_LATENCY_LATENCY_PROBE_H

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <vector>

// A precise timer on the user-interface thread that records how late each of its ticks comes.
class LatencyProbe : public QObject {
  Q_OBJECT

 public:
  explicit LatencyProbe(int periodMs, QObject* parent = nullptr);

  void Start();
  // Lateness of every tick so far, in milliseconds.
  const std::vector<double>& samples() const { return samples_; }
  // The q-quantile (0..1) of the samples; 0 without samples.
  double Quantile(double q) const;

 private:
  void OnTick();

  const int periodMs_;
  QTimer timer_;
  QElapsedTimer clock_;
  qint64 lastNs_ = 0;
  std::vector<double> samples_;
};

#endif
