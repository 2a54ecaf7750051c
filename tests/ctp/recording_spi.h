#ifndef QUOTELOOM_TESTS_CTP_RECORDING_SPI_H
#define QUOTELOOM_TESTS_CTP_RECORDING_SPI_H

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "ThostFtdcMdApi.h"

// Records every callback as a line of text; the test thread waits for lines. Callbacks arrive on the
// API's callback thread, the waits run on the test thread.
class RecordingSpi : public CThostFtdcMdSpi {
 public:
  // Runs on the callback thread after OnFrontConnected was recorded (for example a login).
  std::function<void()> on_connected;
  std::function<void(CThostFtdcRspUserLoginField*, CThostFtdcRspInfoField*)> on_login;

  void OnFrontConnected() override {
    Record("connected");
    if (on_connected) on_connected();
  }
  void OnFrontDisconnected(int reason) override { Record("disconnected " + std::to_string(reason)); }
  void OnRspUserLogin(CThostFtdcRspUserLoginField* login, CThostFtdcRspInfoField* info, int id,
                      bool last) override {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (info) last_error_text_ = info->ErrorMsg;
    }
    Record("login " + std::to_string(id) + " " + std::to_string(info ? info->ErrorID : -1) +
           (last ? " last" : ""));
    if (on_login) on_login(login, info);
  }
  void OnRspSubMarketData(CThostFtdcSpecificInstrumentField* instrument, CThostFtdcRspInfoField* info, int,
                          bool last) override {
    Record("sub " + std::string(instrument ? instrument->InstrumentID : "(null)") + " " +
           std::to_string(info ? info->ErrorID : -1) + (last ? " last" : ""));
  }
  void OnRspUnSubMarketData(CThostFtdcSpecificInstrumentField* instrument, CThostFtdcRspInfoField* info, int,
                            bool last) override {
    Record("unsub " + std::string(instrument ? instrument->InstrumentID : "(null)") + " " +
           std::to_string(info ? info->ErrorID : -1) + (last ? " last" : ""));
  }
  void OnRtnDepthMarketData(CThostFtdcDepthMarketDataField* tick) override {
    std::lock_guard<std::mutex> lock(mutex_);
    ticks_.push_back(*tick);
    if (callback_thread_ == std::thread::id()) callback_thread_ = std::this_thread::get_id();
    if (callback_thread_ != std::this_thread::get_id()) wrong_thread_ = true;
    changed_.notify_all();
  }

  // Waits up to the limit until pred (given the lines and ticks so far) holds.
  bool WaitFor(const std::function<bool(const std::vector<std::string>&,
                                        const std::vector<CThostFtdcDepthMarketDataField>&)>& pred,
               std::chrono::milliseconds limit = std::chrono::milliseconds(5000)) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, limit, [&] { return pred(lines_, ticks_); });
  }
  bool WaitForLine(const std::string& line, int count = 1,
                   std::chrono::milliseconds limit = std::chrono::milliseconds(5000)) {
    return WaitFor([&](const std::vector<std::string>& lines, const auto&) {
      int seen = 0;
      for (const auto& l : lines) seen += l == line;
      return seen >= count;
    }, limit);
  }
  std::vector<std::string> lines() {
    std::lock_guard<std::mutex> lock(mutex_);
    return lines_;
  }
  std::vector<CThostFtdcDepthMarketDataField> ticks() {
    std::lock_guard<std::mutex> lock(mutex_);
    return ticks_;
  }
  std::string last_error_text() {
    std::lock_guard<std::mutex> lock(mutex_);
    return last_error_text_;
  }
  bool wrong_thread() {
    std::lock_guard<std::mutex> lock(mutex_);
    return wrong_thread_;
  }

 private:
  void Record(std::string line) {
    std::lock_guard<std::mutex> lock(mutex_);
    lines_.push_back(std::move(line));
    if (callback_thread_ == std::thread::id()) callback_thread_ = std::this_thread::get_id();
    if (callback_thread_ != std::this_thread::get_id()) wrong_thread_ = true;
    changed_.notify_all();
  }

  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<std::string> lines_;
  std::vector<CThostFtdcDepthMarketDataField> ticks_;
  std::string last_error_text_;
  std::thread::id callback_thread_;
  bool wrong_thread_ = false;
};

#endif
