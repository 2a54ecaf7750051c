#ifndef QUOTELOOM_COLLECTOR_COLLECTOR_RUNTIME_H
#define QUOTELOOM_COLLECTOR_COLLECTOR_RUNTIME_H

// The running collector as both programs use it: the start sequence of the data view without the
// window (open-file limit raised, replay service when enabled, tick writer thread, collector thread)
// and the orderly shutdown (stop accepting ticks, write everything queued, stop the replay service).
// Created, started and shut down by one thread (the window's or the headless program's main thread).
//
// Contract shared by quoteloomd and the desktop shell; implemented in collector_runtime.cc.
#include <cstdint>
#include <string>

class CMdSpi;
class Clock;
class LiveTickRelay;
class StopSaveWindows;
class ReplayService;
class TickLogChannel;
class TickReportReceiver;

class CollectorRuntime {
 public:
  struct Options {
    bool startReplayService = true;           // "MDServicestate" is "1" or empty
    unsigned short replayPort = 7777;
    std::string replayBindAddress = "0.0.0.0";  // dotted IPv4; 127.0.0.1 keeps it on this machine
    std::uint32_t replayMaxConnections = 0;      // 0: the descriptor limit less a reserve
    std::uint32_t replayMaxConnectionsPerPeer = 64;
    std::uint32_t replayIdleTimeoutMs = 60000;
    const char* settingIniPath = "./setting.ini";
    const Clock* clock = nullptr;             // null: the system clock
    TickReportReceiver* receiver = nullptr;   // null: reports are dropped
    TickLogChannel* tickLog = nullptr;        // null: a sample line every 12th tick, as quoteloomd shows
  };

  struct Counters {
    std::uint64_t ticksReceived;     // every tick callback
    std::uint64_t ticksAccepted;     // pushed into the writer queue by the intake
    std::uint64_t ticksRefused;      // refused by the intake (bad code or text, not subscribed)
    std::uint64_t ticksWritten;      // records with both lines on disk (data file or its fallback)
    std::uint64_t ticksUnstorable;   // records the writer refused (unsafe code or text): not stored
    std::uint64_t fallbackLines;     // lines that went to cresh1.txt / cresh2.txt
    std::uint64_t linesLost;         // lines that reached neither file
    std::uint64_t linksRefused;      // lines not written through a symbolic link in their path
    std::uint64_t queueDepth;        // records waiting in the writer queue
    std::uint64_t journalRecords;    // records appended to Journal/<day>.qtj
    std::uint64_t journalFailures;   // records the journal could not take (their CSV lines unaffected)
    bool journalEnabled;             // [Journal] enabled in setting.ini
  };

  // The link to the front for a status line.
  struct FrontReport {
    // "connecting", "connected, logging in since HH:MM:SS", "logged in since HH:MM:SS" or
    // "closed since HH:MM:SS" (the local clock of the change).
    std::string link;
    std::int64_t lastTickAgeMs;  // since the last tick taken into the writer queue; -1 before the first
  };

  explicit CollectorRuntime(const Options& options);
  ~CollectorRuntime();
  CollectorRuntime(const CollectorRuntime&) = delete;
  CollectorRuntime& operator=(const CollectorRuntime&) = delete;

  // Runs once: open-file limit raised, replay service (when enabled), tick writer thread, collector thread.
  void Start();
  // Stops the intake, lets the writer write every queued record, stops the replay service.
  void Shutdown();

  // The version the built-in CTP market-data API reports, or "unknown" for a release without one.
  static const char* MdApiVersionText();

  ReplayService& replayService();
  const ReplayService& replayService() const;
  LiveTickRelay& liveTickRelay();
  // The stop-save windows as the collector holds them: the built-in ones until it has read setting.ini.
  const StopSaveWindows& stopSaveWindows() const;
  Counters counters() const;
  FrontReport frontReport() const;
  // The callback object once the collector thread has created it, else null; its counters may be
  // read from any thread.
  const CMdSpi* callbacks() const;
  const Clock& clock() const;

 private:
  struct Impl;
  Impl* impl_;
};

#endif
