#ifndef QUOTELOOM_CORE_TICK_REPORT_RECEIVER_H
#define QUOTELOOM_CORE_TICK_REPORT_RECEIVER_H

// Receives the tick writer's report after both files of a record are written. Called on the tick
// writer thread; an implementation must not make the writer wait for another thread.
class TickReportReceiver {
 public:
  virtual ~TickReportReceiver() = default;
  // fileName "rb2405.csv", lastPrice "%0.02lf", openInterest "%0.00lf",
  // localTime "yyyy/mm/dd HH:MM:SS", tradingDay the record's TradingDay.
  virtual void OnTickReport(const char* fileName, const char* lastPrice, const char* openInterest,
                            const char* localTime, const char* tradingDay) = 0;
};

#endif
