#include "shell/collector_system.h"

#include "collector/collector_runtime.h"
#include "replay/service/replay_service.h"

CollectorSystem::CollectorSystem() = default;

CollectorSystem::~CollectorSystem() {
  // The runtime's threads may still report; it stays until the process ends.
  (void)runtime_.release();
}

void CollectorSystem::Start(bool startReplayService, TickReportReceiver* receiver) {
  if (runtime_) return;
  CollectorRuntime::Options options;
  options.startReplayService = startReplayService;
  options.receiver = receiver;
  runtime_ = std::make_unique<CollectorRuntime>(options);
  runtime_->Start();
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
}

const StopSaveWindows& CollectorSystem::stopSaveWindows() const {
  return runtime_ ? runtime_->stopSaveWindows() : builtInWindows_;
}

std::uint64_t CollectorSystem::TicksRefused() const { return runtime_ ? runtime_->counters().ticksRefused : 0; }

std::uint64_t CollectorSystem::JournalFailures() const {
  return runtime_ ? runtime_->counters().journalFailures : 0;
}
