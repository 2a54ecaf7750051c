// Measures how late a 10 ms timer of the desktop window fires while ticks pour in: either from a
// synthetic writer thread (default) or from the real collector fed by the front simulator
// (--frontsim PATH). Prints p50, p99 and the largest lateness.
#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "shell/dialogs.h"
#include "shell/ferrowick_app.h"
#include "shell/ferrowick_view.h"
#include "shell/file_row_model.h"
#include "tools/shell_latency/latency_probe.h"
#include "tools/shell_latency/synthetic_system.h"
#ifdef QUOTELOOM_HAVE_COLLECTOR
#include "shell/collector_system.h"
#endif

namespace {

struct Args {
  double rate = 5000;
  double seconds = 20;
  int contracts = 600;
  std::string frontsim;
};

// Answers every box at once, so nothing modal stops the event loop being measured.
class AnsweringDialogs : public Dialogs {
 public:
  QMessageBox::StandardButton Message(QWidget*, QMessageBox::Icon, const QString&, const QString& text,
                                      QMessageBox::StandardButtons) override {
    std::fprintf(stderr, "message: %s\n", text.toUtf8().constData());
    return QMessageBox::Ok;
  }
  void About(QWidget*) override {}
};

bool ParseArgs(int argc, char** argv, Args* args) {
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string option = argv[i];
    const char* value = argv[i + 1];
    if (option == "--rate") args->rate = std::atof(value);
    else if (option == "--seconds") args->seconds = std::atof(value);
    else if (option == "--contracts") args->contracts = std::atoi(value);
    else if (option == "--frontsim") args->frontsim = value;
    else return false;
  }
  return (argc % 2) == 1 && args->rate > 0 && args->seconds > 0 && args->contracts > 0;
}

void RunFor(double seconds) {
  QEventLoop loop;
  QTimer::singleShot(static_cast<int>(seconds * 1000), &loop, &QEventLoop::quit);
  loop.exec();
}

#ifdef QUOTELOOM_HAVE_COLLECTOR
// Starts the simulator on a free port and writes setting.ini for it into the current directory.
bool StartSimulator(const Args& args, QProcess* simulator) {
  simulator->setProgram(QString::fromStdString(args.frontsim));
  simulator->setArguments({"--listen", "127.0.0.1:0", "--total-rate", QString::number(args.rate),
                           "--duration", QString::number(args.seconds + 60)});
  simulator->setProcessChannelMode(QProcess::ForwardedErrorChannel);
  simulator->start();
  if (!simulator->waitForStarted(5000) || !simulator->waitForReadyRead(10000)) return false;
  const QString first = QString::fromUtf8(simulator->readLine()).trimmed();
  if (!first.startsWith("listening ")) return false;
  QFile ini("setting.ini");
  if (!ini.open(QIODevice::WriteOnly)) return false;
  ini.write("[AccountInfo]\nbrokeid=9999\nusername=quoteloom\npassword=quoteloom\nservernum=1\naddress1=tcp://");
  ini.write(first.mid(10).toUtf8() + "\n");
  return true;
}
#endif

}  // namespace

int main(int argc, char** argv) {
  Args args;
  if (!ParseArgs(argc, argv, &args)) {
    std::fprintf(stderr,
                 "usage: quoteloom-shell-latency [--rate TICKS_PER_S] [--seconds S] [--contracts N]"
                 " [--frontsim PATH]\n");
    return 2;
  }
  if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
  }
  QApplication application(argc, argv);
  QApplication::setQuitOnLastWindowClosed(false);
  QTemporaryDir work;
  const QString frontsim = QFileInfo(QString::fromStdString(args.frontsim)).absoluteFilePath();
  args.frontsim = frontsim.toStdString();
  QDir::setCurrent(work.path());  // Data/ and setting.ini of this run stay in the scratch folder

  QProcess simulator;
  SyntheticSystem* synthetic = nullptr;
  CFerrowickApp::Options options;
  options.runtimeDir = work.filePath("run");
  options.settingsPath = work.filePath("Quoteloom.conf");
  options.autostartDir = work.filePath("autostart");
  options.dialogs = std::make_shared<AnsweringDialogs>();
  options.quitOnClose = false;
  {
    QSettings seed(options.settingsPath, QSettings::IniFormat);
    seed.setValue("Settings/MDServicestate", "0");  // no replay port needed for the measurement
    seed.setValue("Settings/AutoRunState", "0");
  }
  if (args.frontsim.empty() || !QFileInfo(frontsim).isFile()) {
    if (!args.frontsim.empty()) std::fprintf(stderr, "no simulator at %s\n", args.frontsim.c_str());
    args.frontsim.clear();
    options.makeSystem = [&] {
      auto system = std::make_unique<SyntheticSystem>(args.rate, args.contracts);
      synthetic = system.get();
      return std::unique_ptr<ShellSystem>(std::move(system));
    };
  } else {
#ifdef QUOTELOOM_HAVE_COLLECTOR
    if (!StartSimulator(args, &simulator)) {
      std::fprintf(stderr, "the simulator did not start\n");
      return 1;
    }
    options.makeSystem = [] { return std::unique_ptr<ShellSystem>(std::make_unique<CollectorSystem>()); };
#else
    std::fprintf(stderr, "built without the collector: only the synthetic writer is available\n");
    return 2;
#endif
  }

  CFerrowickApp app(std::move(options));
  if (!app.InitInstance()) return 1;
  // Wait for the first rows: login and subscription come before the first tick.
  QElapsedTimer warmUp;
  warmUp.start();
  while ((app.view() == nullptr || app.view()->rows()->rowCount() < 2) && warmUp.elapsed() < 30000) RunFor(0.1);
  LatencyProbe probe(10);
  probe.Start();
  RunFor(args.seconds);

  const FileRowModel* rows = app.view() != nullptr ? app.view()->rows() : nullptr;
  long long written = 0;
  const int fileRows = rows != nullptr ? std::max(0, rows->rowCount() - 1) : 0;
  for (int row = 0; row < fileRows; ++row) written += rows->Text(row, FileRowModel::kWriteCount).toLongLong();
  std::printf("source %s, %.0f ticks/s for %.0f s: %zu timer ticks, lateness p50 %.2f ms, p99 %.2f ms, max %.2f ms\n",
              args.frontsim.empty() ? "synthetic writer" : "front simulator + collector", args.rate, args.seconds,
              probe.samples().size(), probe.Quantile(0.5), probe.Quantile(0.99), probe.Quantile(1.0));
  std::printf("rows %d, reports shown %lld%s\n", fileRows, written,
              synthetic != nullptr ? (", reports sent " + std::to_string(synthetic->reported())).c_str() : "");
  app.OnMainFrameClosed();
  if (simulator.state() != QProcess::NotRunning) {
    simulator.terminate();
    simulator.waitForFinished(5000);
  }
  return 0;
}
