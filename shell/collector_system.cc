#include "shell/collector_system.h"

#include "collector/collector_health.h"
#include "collector/collector_metrics.h"
#include "collector/collector_runtime.h"
#include "core/log_sink.h"
#include "core/retention_settings.h"
#include "core/setting_ini.h"
#include "history/day_close_job.h"
#include "history/day_close_thread.h"
#include "history/history_status.h"
#include "replay/service/replay_service.h"

CollectorSystem::CollectorSystem(std::string metricsEndpoint)
    : metricsEndpoint_(std::move(metricsEndpoint)), history_(std::make_unique<HistoryStatus>()) {}

CollectorSystem::~CollectorSystem() {
  if (dayCloseThread_) dayCloseThread_->Stop();
  // The runtime's threads may still report; it stays until the process ends, with what reads it.
  (void)runtime_.release();
  (void)health_.release();
  (void)metrics_.release();
  (void)history_.release();
}

// The window keeps collecting without metrics it cannot serve, and says why on the CTP log tab;
// a port another program holds is tried again until it is free.
void CollectorSystem::StartMetrics() {
  const std::string text = metricsEndpoint_.empty() ? kCollectorMetricsDefault : metricsEndpoint_;
  MetricsAddress address;
  std::string error;
  if (!ParseMetricsAddress(text, &address, &error)) {
    AppendLine(LogTab::CtpLog, "指标服务设置无效，不提供指标：" + error);
    return;
  }
  health_ = std::make_unique<CollectorHealth>(*runtime_);
  metrics_ = std::make_unique<CollectorMetrics>(*runtime_, *health_);
  metrics_->AddSamples([history = history_.get()](SampleSet& s) {
    history->Fill(s);
    AddWorkdirFreeSample(s, ".");
  });
  const auto serving = [host = address.host, metrics = metrics_.get()](const std::string&) {
    AppendLineF(LogTab::CtpLog, "指标服务 http://%s:%u/metrics", host.c_str(), metrics->port());
  };
  switch (metrics_->Start(address, &error, serving)) {
    case MetricsEndpoint::Outcome::kRefused:
    case MetricsEndpoint::Outcome::kWaiting:
      AppendLine(LogTab::CtpLog, "指标服务未启动：" + error);
      break;
    case MetricsEndpoint::Outcome::kServing:
      serving("");
      break;
    case MetricsEndpoint::Outcome::kOff:
      break;
  }
}

void CollectorSystem::Start(bool startReplayService, TickReportReceiver* receiver, TickLogChannel* tickLog) {
  if (runtime_) return;
  CollectorRuntime::Options options;
  options.startReplayService = startReplayService;
  options.receiver = receiver;
  options.tickLog = tickLog;
  runtime_ = std::make_unique<CollectorRuntime>(options);
  StartMetrics();
  runtime_->Start();
  StartDayClose();
}

// Finished days are packed and the retention applied on a thread of the lowest priority, as in
// quoteloomd; its lines go to the tab 断网日志.
void CollectorSystem::StartDayClose() {
  std::string problem;  // the program has refused a bad setting before it got here
  const RetentionSettings retention = ReadRetentionSettings(kSettingIniPath, &problem);
  const auto logged = [](const std::string& line) { AppendLine(LogTab::NetworkLog, line); };
  dayClose_ = std::make_unique<DayCloseJob>(".", retention, PackJournalDay, logged, history_.get());
  dayCloseThread_ = std::make_unique<DayCloseThread>(*dayClose_, runtime_->clock(), DayCloseThread::Options());
  logged("packing finished days into History/; keeping " + RetentionText(retention));
  dayCloseThread_->Start(logged);
}

void CollectorSystem::StartReplayService() {
  if (runtime_) runtime_->replayService().StartReplayService();
}

void CollectorSystem::StopReplayService() {
  if (runtime_) runtime_->replayService().StopReplayService();
}

bool CollectorSystem::ReplayServiceRunning() const {
  return runtime_ && runtime_->replayService().running();
}

void CollectorSystem::Shutdown() {
  if (runtime_) runtime_->Shutdown();
  if (dayCloseThread_) dayCloseThread_->Stop();
}

const StopSaveWindows& CollectorSystem::stopSaveWindows() const {
  return runtime_ ? runtime_->stopSaveWindows() : builtInWindows_;
}

std::uint64_t CollectorSystem::TicksRefused() const { return runtime_ ? runtime_->counters().ticksRefused : 0; }

const char* CollectorSystem::MetricsNote() const { return metrics_ ? metrics_->StatusNote() : ""; }

std::uint64_t CollectorSystem::JournalFailures() const {
  return runtime_ ? runtime_->counters().journalFailures : 0;
}
