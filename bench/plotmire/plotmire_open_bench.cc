// Opening a day of 100,000 tick lines in the chart program and drawing it, offscreen.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QDir>
#include <QImage>
#include <QTemporaryDir>

#include <QFile>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <vector>

#include "plotmire/chart_data.h"
#include "plotmire/chart_window.h"
#include "plotmire/tick_file_follower.h"
#include "tools/plotmire_sample_day/sample_day_writer.h"

namespace {

constexpr int64_t kLines = 100000;

// The sample file, written once for all benchmarks.
const QString& SampleFile() {
  static QTemporaryDir dir;
  static const QString path = [] {
    QDir(dir.path()).mkpath("Data/20240301");
    const QString file = dir.filePath("Data/20240301/rb2405.csv");
    SampleDay day;
    day.lines = kLines;
    std::ofstream out(file.toStdString(), std::ios::binary);
    WriteSampleDay(day, out);
    return file;
  }();
  return path;
}

void Settle() {
  for (int i = 0; i < 3; ++i) QApplication::processEvents();
}

// A big file is read a step at a time while the window handles its events; wait for the last step.
void SettleLoaded(const ChartWindow& window) {
  for (int i = 0; i < 10000 && window.loading(); ++i) QApplication::processEvents(QEventLoop::AllEvents, 10);
  Settle();
}

// Reading and parsing only.
void BM_ReadFile(benchmark::State& state) {
  for (auto _ : state) {
    TickFileFollower follower(SampleFile());
    ChartData data;
    std::vector<ChartTick> ticks;
    do {
      follower.Poll(&ticks);
    } while (follower.unread() > 0);
    data.Append(std::move(ticks));
    benchmark::DoNotOptimize(data.size());
  }
  state.SetItemsProcessed(state.iterations() * kLines);
}

// What a user waits for: a new window opens the file, charts it and is painted into an image.
void BM_OpenAndDraw(benchmark::State& state) {
  for (auto _ : state) {
    ChartWindow window(QDir::tempPath());
    window.resize(1280, 800);
    window.show();
    window.OpenFile(SampleFile());
    SettleLoaded(window);
    QImage image = window.grab().toImage();
    benchmark::DoNotOptimize(image.bits());
    if (window.data().size() != static_cast<size_t>(kLines)) state.SkipWithError("not every line was charted");
  }
}

// A check of the followed file that finds ten new lines, while 100,000 are charted.
void BM_FollowTenLines(benchmark::State& state) {
  QTemporaryDir dir;
  const QString file = dir.filePath("rb2405.csv");
  QFile::copy(SampleFile(), file);
  ChartWindow window(QDir::tempPath());
  window.resize(1280, 800);
  window.show();
  window.OpenFile(file);
  SettleLoaded(window);
  SampleDay tail;
  tail.lines = 10;
  std::string lines;
  {
    std::ostringstream out;
    WriteSampleDay(tail, out);
    lines = out.str();
  }
  for (auto _ : state) {
    state.PauseTiming();
    std::ofstream(file.toStdString(), std::ios::binary | std::ios::app) << lines;
    state.ResumeTiming();
    window.Refresh();
    Settle();
    QImage image = window.grab().toImage();
    benchmark::DoNotOptimize(image.bits());
  }
}

BENCHMARK(BM_ReadFile)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpenAndDraw)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FollowTenLines)->Unit(benchmark::kMillisecond);

}  // namespace

// The offscreen platform notes on every window that it ignores size hints; that is no news here.
QtMessageHandler previous_handler = nullptr;

void QuietHandler(QtMsgType type, const QMessageLogContext& context, const QString& message) {
  if (message.contains(QLatin1String("propagateSizeHints"))) return;
  if (previous_handler != nullptr) {
    previous_handler(type, context, message);
  } else {
    std::fprintf(stderr, "%s\n", qPrintable(message));
  }
}

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  previous_handler = qInstallMessageHandler(QuietHandler);
  SampleFile();
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
