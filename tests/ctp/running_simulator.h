#ifndef QUOTELOOM_TESTS_CTP_RUNNING_SIMULATOR_H
#define QUOTELOOM_TESTS_CTP_RUNNING_SIMULATOR_H

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <thread>

#include "ThostFtdcMdApi.h"
#include "platform/frontsim/front_simulator.h"

// A front simulator on an ephemeral loopback port, served by a thread of its own for one test.
class RunningSimulator {
 public:
  explicit RunningSimulator(SimOptions options) : simulator_(WithEphemeralPort(std::move(options))) {
    std::string error;
    prepared_ = simulator_.Prepare(&error);
    EXPECT_TRUE(prepared_) << error;
    if (prepared_) thread_ = std::thread([this] { simulator_.Run(); });
  }
  ~RunningSimulator() {
    simulator_.Stop();
    if (thread_.joinable()) thread_.join();
  }
  FrontSimulator& operator*() { return simulator_; }
  FrontSimulator* operator->() { return &simulator_; }
  std::string front() const { return "tcp://127.0.0.1:" + std::to_string(simulator_.port()); }

 private:
  static SimOptions WithEphemeralPort(SimOptions options) {
    options.listen_host = "127.0.0.1";
    options.listen_port = 0;
    return options;
  }
  FrontSimulator simulator_;
  bool prepared_ = false;
  std::thread thread_;
};

// The API instance of one test, released at its end.
struct ApiReleaser {
  void operator()(CThostFtdcMdApi* api) const { api->Release(); }
};
using ApiPtr = std::unique_ptr<CThostFtdcMdApi, ApiReleaser>;

#endif
