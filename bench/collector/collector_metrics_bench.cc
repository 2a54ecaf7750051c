// What one scrape of the collector's metrics costs inside the process: every sample read from the
// running collector's counters (intake with its universe, writer, replay service, sessions,
// /proc) and serialised as Prometheus text. The HTTP round trip comes on top
// (collector_load_bench prints whole scrapes).
#include <benchmark/benchmark.h>
#include <prometheus/text_serializer.h>

#include <chrono>
#include <thread>

#include "collector/collector_health.h"
#include "collector/collector_metrics.h"
#include "collector/collector_runtime.h"

namespace {

void BM_CollectorScrape(benchmark::State& state) {
  CollectorRuntime::Options options;
  options.startReplayService = true;
  options.replayPort = 0;
  options.replayBindAddress = "127.0.0.1";
  options.settingIniPath = "/nonexistent/setting.ini";
  CollectorRuntime runtime(options);
  runtime.Start();
  while (runtime.callbacks() == nullptr) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  CollectorHealth health(runtime);
  CollectorMetrics metrics(runtime, health);
  const prometheus::TextSerializer serializer;
  std::size_t bytes = 0;
  for (auto _ : state) {
    SampleSet samples;
    metrics.Fill(samples);
    const std::string text = serializer.Serialize(samples.Take());
    bytes = text.size();
    benchmark::DoNotOptimize(text.data());
  }
  state.counters["bytes"] = static_cast<double>(bytes);
  runtime.Shutdown();
}
BENCHMARK(BM_CollectorScrape)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
