#ifndef QUOTELOOM_PLOTMIRE_SEND_PATH_TO_CHART_H
#define QUOTELOOM_PLOTMIRE_SEND_PATH_TO_CHART_H

#include <QString>

#include <functional>
#include <string_view>

// How SendPathToChart reaches the chart program; the defaults are those of the desktop program,
// tests shorten the waits and use a server name of their own.
struct ChartLinkOptions {
  QString server_name = QStringLiteral("Plotmire");
  int first_wait_ms = 100;
  int attempt_wait_ms = 100;
  int attempts = 10;
  // Called before each attempt with its number, 1 to attempts.
  std::function<void(int)> on_attempt;
};

// The longest path sent; longer ones are cut, as the chart program's path buffer holds 30 bytes.
inline constexpr size_t kMaxChartPathLength = 30;

// Blocks the calling thread (a chart launch thread, never the GUI thread): waits, cuts the path to
// 30 bytes, then tries up to `attempts` times, a wait before each, to connect to the chart
// program's local server and deliver the path with its terminating NUL. Returns whether the path
// was delivered; a chart program that cannot be reached is not reported otherwise.
bool SendPathToChart(std::string_view path, const ChartLinkOptions& options = ChartLinkOptions());

#endif
