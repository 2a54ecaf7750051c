#include <QApplication>
#include <QFileInfo>
#include <QTimer>

#include <cstdio>
#include <optional>
#include <string>

#include "core/command_line.h"

#include "plotmire/chart_panel.h"
#include "plotmire/chart_window.h"
#include "plotmire/path_receiver.h"

namespace {

struct Options {
  QString argument;
  QString server_name = QStringLiteral("Plotmire");
  QString screenshot;
  double hover_at = -1;  // fraction of the plot width, for screenshots
  double zoom_from = -1;  // fractions of the day shown, for screenshots
  double zoom_to = -1;
  QSize size{1280, 800};
};

// Reads the command line before Qt starts, so that --help and --version need no display.
std::optional<int> ParseOptions(int argc, char** argv, Options* options) {
  CommandLine commandLine(
      "Plotmire",
      "Intraday chart of one contract's tick file; follows the file while it grows.\n"
      "FILE is a tick file, or a path day\\file.csv below the Data folder beside this program.");
  commandLine.SetFooter({.success = "the window was closed", .failure = "the screenshot could not be saved"});
  CLI::App& app = commandLine.app();
  std::string file, server = "Plotmire", screenshot, size, zoom;
  app.add_option("FILE", file, "tick file to chart");
  // For tests and the screenshot script; left out of the help.
  const char* hidden = "";
  app.add_option("--server-name", server, "local server to listen on")->group(hidden);
  app.add_option("--screenshot", screenshot, "save the window to PNG after loading, then quit")->group(hidden);
  app.add_option("--hover-at", options->hover_at, "show the tick at this fraction of the width")->group(hidden);
  app.add_option("--size", size, "window size WxH")->group(hidden);
  app.add_option("--zoom", zoom, "show this stretch of the day, FROM:TO")->group(hidden);
  if (const std::optional<int> exitCode = commandLine.Handle(argc, argv)) return exitCode;
  options->argument = QString::fromLocal8Bit(file);
  options->server_name = QString::fromStdString(server);
  options->screenshot = QString::fromLocal8Bit(screenshot);
  const QStringList stretch = QString::fromStdString(zoom).split(':');
  if (stretch.size() == 2) {
    options->zoom_from = stretch[0].toDouble();
    options->zoom_to = stretch[1].toDouble();
  }
  const QStringList wh = QString::fromStdString(size).split('x');
  if (wh.size() == 2 && wh[0].toInt() > 0 && wh[1].toInt() > 0) options->size = QSize(wh[0].toInt(), wh[1].toInt());
  return std::nullopt;
}

void TakeScreenshot(ChartWindow* window, const Options& options) {
  const double minutes = window->data().axis().minutes();
  if (options.zoom_from >= 0 && options.zoom_to > options.zoom_from) {
    window->panel()->ZoomTo(options.zoom_from * minutes, options.zoom_to * minutes);
  }
  if (options.hover_at >= 0 && !window->data().empty()) {
    const auto [from, to] = window->panel()->visible_range();
    window->panel()->HoverAt(from + options.hover_at * (to - from));
  }
  QApplication::processEvents();
  const bool saved = window->grab().save(options.screenshot, "PNG");
  std::fprintf(saved ? stdout : stderr, "%s %s\n", saved ? "saved" : "cannot save", qPrintable(options.screenshot));
  QApplication::exit(saved ? 0 : 1);
}

// A big file is still being read 1.5 s after start: wait for its chart.
void TakeScreenshotWhenRead(ChartWindow* window, const Options* options) {
  if (window->loading()) {
    QTimer::singleShot(100, window, [window, options] { TakeScreenshotWhenRead(window, options); });
    return;
  }
  TakeScreenshot(window, *options);
}

}  // namespace

int main(int argc, char* argv[]) {
  Options options;
  if (const std::optional<int> exitCode = ParseOptions(argc, argv, &options)) return *exitCode;
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Plotmire"));

  PathReceiver receiver(options.server_name);
  const PathReceiver::ListenResult listening = receiver.Listen();
  // A chart program already runs: it receives the path the desktop program sends next.
  if (listening == PathReceiver::ListenResult::kOtherInstance && options.argument.isEmpty()) return 0;

  ChartWindow window(QCoreApplication::applicationDirPath());
  window.resize(options.size);
  if (listening == PathReceiver::ListenResult::kFailed) {
    window.SetListenNote(QStringLiteral("not receiving paths: %1").arg(receiver.error_text()));
  } else if (listening == PathReceiver::ListenResult::kOtherInstance) {
    window.SetListenNote(QStringLiteral("another Plotmire receives the paths"));
  }
  QObject::connect(&receiver, &PathReceiver::pathReceived, &window, [&window](const QString& path) {
    window.OpenReceivedPath(path);
    window.showNormal();
    window.raise();
    window.activateWindow();
  });
  if (options.argument.contains(QLatin1Char('\\'))) {
    window.OpenReceivedPath(options.argument);
  } else if (!options.argument.isEmpty()) {
    window.OpenFile(options.argument);
  }
  window.show();
  if (!options.screenshot.isEmpty()) {
    QTimer::singleShot(1500, &window, [&window, &options] { TakeScreenshotWhenRead(&window, &options); });
  }
  return app.exec();
}
