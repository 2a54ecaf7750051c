#ifndef QUOTELOOM_MARKETDATA_MD_SPI_H
#define QUOTELOOM_MARKETDATA_MD_SPI_H

#include <atomic>
#include <cstdint>
#include <mutex>

#include "ThostFtdcMdApi.h"
#include "core/clock.h"
#include "core/setting_ini.h"
#include "core/stop_save_windows.h"
#include "core/tick_log_channel.h"
#include "marketdata/exchange_tick_counters.h"
#include "marketdata/front_counters.h"
#include "marketdata/instrument_universe.h"
#include "marketdata/repeat_summary.h"
#include "marketdata/tick_screen.h"
#include "queue/live_tick_relay.h"
#include "queue/ring_queue_api.h"

// The collector's callback object: logs in on every connection, subscribes the whole generated
// universe on every successful login, and takes every tick of a subscribed contract into the writer
// queue. Its callbacks
// run on the API's callback thread; StopIntake and the counters may be called from any thread.
class CMdSpi final : public CThostFtdcMdSpi {
 public:
  // `api` may be null (then no request is ever sent). The settings are read when used, so they
  // may be filled after construction, before the API starts. Every tick taken into the queue is
  // reported to `tickLog`.
  CMdSpi(CThostFtdcMdApi* api, const AccountSettings& account, const StopSaveWindows& windows,
         CTRingQueueApi& queue, LiveTickRelay& relay, const Clock& clock, TickLogChannel& tickLog);

  void OnFrontConnected() override;
  void OnFrontDisconnected(int nReason) override;
  void OnRspUserLogin(CThostFtdcRspUserLoginField* pRspUserLogin, CThostFtdcRspInfoField* pRspInfo, int nRequestID,
                      bool bIsLast) override;
  void OnRspError(CThostFtdcRspInfoField* pRspInfo, int nRequestID, bool bIsLast) override;
  void OnRspSubMarketData(CThostFtdcSpecificInstrumentField* pSpecificInstrument, CThostFtdcRspInfoField* pRspInfo,
                          int nRequestID, bool bIsLast) override;
  void OnRspUnSubMarketData(CThostFtdcSpecificInstrumentField* pSpecificInstrument,
                            CThostFtdcRspInfoField* pRspInfo, int nRequestID, bool bIsLast) override;
  void OnRtnDepthMarketData(CThostFtdcDepthMarketDataField* pDepthMarketData) override;

  // After this returns no tick is pushed into the writer queue any more; later ticks are dropped.
  void StopIntake();

  // Every tick callback, before any screening.
  std::uint64_t ticksReceived() const { return ticksReceived_.load(std::memory_order_relaxed); }
  // Ticks pushed into the writer queue so far.
  std::uint64_t ticksAccepted() const { return ticksAccepted_.load(std::memory_order_acquire); }
  // Ticks the intake refused: a code that cannot name a file, a broken text field, a contract not
  // subscribed since the last login.
  std::uint64_t ticksRefused() const { return screen_.refused(); }
  // Where the link to the front stands: before the first connection, connected and logging in,
  // logged in, or closed (the API reconnects by itself).
  enum class FrontState { kConnecting = 0, kConnected = 1, kLoggedIn = 2, kClosed = 3 };
  struct FrontStatus {
    FrontState state;
    int sinceHhmmss;  // the local clock when it entered that state, HHMMSS; -1 before any change
  };
  FrontStatus frontStatus() const;
  // steady_clock nanoseconds of the last tick pushed into the writer queue; 0 before the first.
  std::int64_t lastTickSteadyNs() const { return exchangeTicks_.lastAnyTickNs(); }

  // The trading day of the last successful login (yyyymmdd), 0 before.
  int tradingDay() const { return tradingDay_; }
  const InstrumentUniverse& universe() const { return universe_; }
  const TickScreen& screen() const { return screen_; }
  const FrontCounters& front() const { return front_; }
  const ExchangeTickCounters& exchangeTicks() const { return exchangeTicks_; }

 private:
  // True, with a line on standard error, when `info` carries a non-zero error number.
  static bool IsErrorRspInfo(const CThostFtdcRspInfoField* info);
  void ReqUserLogin();
  void SubscribeMarketData();
  // False when the tick falls into a stop-save window (and writes the notice once per stay).
  bool OutsideStopSaveWindows(const ClockReading& now);
  void SetFrontState(FrontState state);
  std::int64_t NowSeconds() const;

  // Constant after construction.
  CThostFtdcMdApi* const api_;
  const AccountSettings& account_;
  const StopSaveWindows& windows_;
  CTRingQueueApi& queue_;
  LiveTickRelay& relay_;
  const Clock& clock_;
  TickLogChannel& tickLog_;

  // Callback thread only.
  int requestId_ = 0;
  int tradingDay_ = 0;
  InstrumentUniverse universe_;
  TickScreen screen_;
  bool noticeArmed_ = true;
  RepeatSummary disconnects_;

  // Guards the push against StopIntake, so nothing is pushed once StopIntake has returned.
  std::mutex intakeMutex_;
  bool accepting_ = true;  // guarded by intakeMutex_
  std::atomic<std::uint64_t> ticksAccepted_{0};
  // Written by the callback thread, read by any: state * 1000000 + HHMMSS (HHMMSS 999999: unknown).
  std::atomic<int> frontState_{static_cast<int>(FrontState::kConnecting) * 1000000 + 999999};

  // Written by the callback thread, read by any thread.
  std::atomic<std::uint64_t> ticksReceived_{0};
  FrontCounters front_;
  ExchangeTickCounters exchangeTicks_;
};

#endif
