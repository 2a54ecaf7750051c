#include "collector/collector_runtime.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <memory>
#include <thread>

#include "ThostFtdcMdApi.h"
#include "collector/md_api_factory.h"
#include "collector/open_file_limit.h"
#include "core/file_lock.h"
#include "core/journal_settings.h"
#include "core/log_sink.h"
#include "core/sampled_tick_log.h"
#include "core/string_printf.h"
#include "core/setting_ini.h"
#include "core/stop_save_windows.h"
#include "marketdata/md_spi.h"
#include "queue/live_tick_relay.h"
#include "queue/ring_queue_api_inter.h"
#include "replay/service/replay_service.h"
#include "storage/posix_file_env.h"
#include "storage/tick_writer_thread.h"

namespace {

ReplayServiceOptions ReplayOptionsOf(const CollectorRuntime::Options& o) {
  ReplayServiceOptions replay;
  replay.port = o.replayPort;
  replay.bindAddress = o.replayBindAddress;
  replay.maxConnections = o.replayMaxConnections;
  replay.maxConnectionsPerPeer = o.replayMaxConnectionsPerPeer;
  replay.idleTimeoutMs = o.replayIdleTimeoutMs;
  return replay;
}

}  // namespace

struct CollectorRuntime::Impl {
  explicit Impl(const Options& o)
      : options(o), clock(o.clock != nullptr ? *o.clock : TheSystemClock()), replay(relay, ReplayOptionsOf(o)) {}

  // Runs on the collector thread: setting.ini, the API, its callback object, the fronts, Init.
  void StartCollector();
  CThostFtdcMdApi* CreateApi();

  // Constant after construction.
  const Options options;
  const Clock& clock;

  LiveTickRelay relay;
  ReplayService replay;
  SampledTickLog sampledTicks;  // the tick log when the program brings none
  PosixFileEnv fileEnv;
  AccountSettings account;   // written by the collector thread before Init, read by the callback thread
  StopSaveWindows windows;

  // Created by Start before the writer and the collector thread start; freed with the runtime.
  std::unique_ptr<CTRingQueueApi_inter> queue;
  std::unique_ptr<JournalWriter> journal;  // null when [Journal] enabled=0
  std::unique_ptr<TickWriterThread> writer;
  std::thread collectorThread;

  // Published by the collector thread; the owning thread reads them after joining it.
  std::atomic<CThostFtdcMdApi*> api{nullptr};
  std::atomic<CMdSpi*> spi{nullptr};

  bool started = false;   // owning thread only
  bool shutDown = false;  // owning thread only
};

// setting.ini is read first: the environment it names is chosen when the API is created.
void CollectorRuntime::Impl::StartCollector() {
  ReadSettingIni(options.settingIniPath, &account, &windows);
  // quoteloomd refuses to start on these; the desktop program runs on and says why nothing arrives.
  const std::string problem = FrontSettingsProblem(options.settingIniPath);
  if (!problem.empty()) AppendLine(LogTab::CtpLog, "setting.ini无法使用：" + problem);
  CThostFtdcMdApi* created = CreateApi();
  auto* callbacks = new CMdSpi(created, account, windows, *queue, relay, clock,
                              options.tickLog != nullptr ? *options.tickLog : sampledTicks);
  spi.store(callbacks, std::memory_order_release);
  if (created == nullptr) return;
  api.store(created, std::memory_order_release);
  created->RegisterSpi(callbacks);
  for (auto& address : account.Addresses) {
    if (address[0] != '\0') created->RegisterFront(address);
  }
  created->Init();
}

CThostFtdcMdApi* CollectorRuntime::Impl::CreateApi() {
  if (const char* version = MdApiVersion<CThostFtdcMdApi>()) AppendLineF(LogTab::CtpLog, "行情API版本[%s]", version);
  const MdEnvironment environment = EnvironmentOf(account);
  if (environment == MdEnvironment::kUnknown) {
    AppendLineF(LogTab::CtpLog, "setting.ini的environment=%s无法识别，按生产环境连接", account.Environment);
  }
  const bool production = environment != MdEnvironment::kEvaluation;
  if (kApiChoosesEnvironment<CThostFtdcMdApi>) {
    AppendLine(LogTab::CtpLog, production ? "行情API连接生产环境" : "行情API连接评测环境");
  } else if (!production) {
    AppendLine(LogTab::CtpLog, "此版本行情API不能选择评测环境，按生产环境连接");
  }
  return CreateMdApi<CThostFtdcMdApi>(production);
}

CollectorRuntime::CollectorRuntime(const Options& options) : impl_(new Impl(options)) {}

CollectorRuntime::~CollectorRuntime() {
  Shutdown();
  delete impl_->spi.load(std::memory_order_acquire);
  delete impl_;
}

void CollectorRuntime::Start() {
  Impl& m = *impl_;
  if (m.started) return;
  m.started = true;
  // Before the replay service accepts connections, so they cannot use up what the writer needs.
  std::string limitProblem;
  if (!RaiseOpenFileLimit(&limitProblem)) AppendLine(LogTab::NetworkLog, limitProblem);
  if (m.options.startReplayService) m.replay.StartReplayService();
  // The queue exists before the writer's first pop.
  m.queue.reset(static_cast<CTRingQueueApi_inter*>(CTRingQueueApi::CreateFtdcCTRingQueueApi()));
  m.queue->InitQueue(4096);
  // The journal's setting is read here, before the writer's first record; the account later.
  // The programs refuse to start on a value the journal cannot use; a runtime started without that
  // check keeps the default and says so.
  std::string journalProblem;
  const JournalSettings journal = ReadJournalSettings(m.options.settingIniPath, &journalProblem);
  if (!journalProblem.empty()) AppendLine(LogTab::NetworkLog, journalProblem + "; the default is kept");
  if (journal.enabled) {
    m.journal = std::make_unique<JournalWriter>(journal.sync);
    m.journal->MakeDirectory();
  }
  m.writer = std::make_unique<TickWriterThread>(*m.queue, m.clock, m.fileEnv, m.options.receiver, TheFileLock(),
                                                m.journal.get());
  m.writer->Start();
  m.collectorThread = std::thread([&m] { m.StartCollector(); });
}

void CollectorRuntime::Shutdown() {
  Impl& m = *impl_;
  if (!m.started || m.shutDown) return;
  m.shutDown = true;
  if (m.collectorThread.joinable()) m.collectorThread.join();
  CMdSpi* spi = m.spi.load(std::memory_order_acquire);
  if (spi != nullptr) spi->StopIntake();
  m.writer->StopWhenDrained();
  if (m.replay.running()) m.replay.StopReplayService();
  // No callback can reach the callback object once the API is released.
  if (CThostFtdcMdApi* api = m.api.exchange(nullptr, std::memory_order_acq_rel)) api->Release();
}

const char* CollectorRuntime::MdApiVersionText() {
  const char* version = MdApiVersion<CThostFtdcMdApi>();
  return version != nullptr ? version : "unknown";
}

ReplayService& CollectorRuntime::replayService() { return impl_->replay; }

const ReplayService& CollectorRuntime::replayService() const { return impl_->replay; }

LiveTickRelay& CollectorRuntime::liveTickRelay() { return impl_->relay; }

const StopSaveWindows& CollectorRuntime::stopSaveWindows() const { return impl_->windows; }

CollectorRuntime::Counters CollectorRuntime::counters() const {
  const Impl& m = *impl_;
  Counters c{};
  if (const CMdSpi* spi = m.spi.load(std::memory_order_acquire)) {
    c.ticksReceived = spi->ticksReceived();
    c.ticksAccepted = spi->ticksAccepted();
    c.ticksRefused = spi->ticksRefused();
  }
  if (m.writer != nullptr) {
    const TickWriterThread::Counters w = m.writer->counters();
    c.ticksWritten = w.ticksWritten;
    c.ticksUnstorable = w.ticksUnstorable;
    c.fallbackLines = w.fallbackLines;
    c.linesLost = w.linesLost;
    c.linksRefused = w.linksRefused;
    c.journalRecords = w.journalRecords;
    c.journalFailures = w.journalFailures;
  }
  c.journalEnabled = m.journal != nullptr;
  if (m.queue != nullptr) c.queueDepth = m.queue->SizeApprox();
  return c;
}

CollectorRuntime::FrontReport CollectorRuntime::frontReport() const {
  FrontReport report{"connecting", -1};
  const CMdSpi* spi = impl_->spi.load(std::memory_order_acquire);
  if (spi == nullptr) return report;
  const CMdSpi::FrontStatus status = spi->frontStatus();
  const char* what = "connecting";
  switch (status.state) {
    case CMdSpi::FrontState::kConnecting: what = "connecting"; break;
    case CMdSpi::FrontState::kConnected: what = "connected, logging in"; break;
    case CMdSpi::FrontState::kLoggedIn: what = "logged in"; break;
    case CMdSpi::FrontState::kClosed: what = "closed"; break;
  }
  report.link = status.sinceHhmmss < 0 ? std::string(what)
                                       : StringPrintf("%s since %02d:%02d:%02d", what, status.sinceHhmmss / 10000,
                                                      status.sinceHhmmss / 100 % 100, status.sinceHhmmss % 100);
  const std::int64_t last = spi->lastTickSteadyNs();
  if (last != 0) {
    const std::int64_t now =
        std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch()).count();
    report.lastTickAgeMs = now > last ? (now - last) / 1000000 : 0;
  }
  return report;
}
const CMdSpi* CollectorRuntime::callbacks() const { return impl_->spi.load(std::memory_order_acquire); }

const Clock& CollectorRuntime::clock() const { return impl_->clock; }
