#ifndef QUOTELOOM_PLATFORM_FRONTSIM_TRUTH_WRITER_H
#define QUOTELOOM_PLATFORM_FRONTSIM_TRUTH_WRITER_H

#include <cstdio>
#include <string>

#include "platform/ctp/wire/front_message.h"
#include "sessions/tick_classifier.h"

// The simulator's ground truth: per trading day a file <DIR>/<yyyymmdd>.csv with one line per record
// sent, classed as it was made (docs/frontsim.md has the columns). Owned by the simulator's loop thread.
class TruthWriter {
 public:
  explicit TruthWriter(std::string dir) : dir_(std::move(dir)) {}
  ~TruthWriter();
  TruthWriter(const TruthWriter&) = delete;
  TruthWriter& operator=(const TruthWriter&) = delete;

  // `sent` is the local clock at sending as yyyymmddHHMMSS. False once a write failed (reported once).
  bool Record(int tradingDay, TickKind kind, const std::string& sent, const FrontDepthMarketData& tick);
  void Flush();

 private:
  std::string dir_;
  std::FILE* file_ = nullptr;
  int day_ = 0;
  bool failed_ = false;
};

#endif
