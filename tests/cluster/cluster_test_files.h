#ifndef QUOTELOOM_TESTS_CLUSTER_CLUSTER_TEST_FILES_H
#define QUOTELOOM_TESTS_CLUSTER_CLUSTER_TEST_FILES_H

#include <stdlib.h>

#include <cfloat>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "cluster/exact_tick.h"
#include "storage/journal_writer.h"

#include "tests/support/file_text.h"

// A fresh folder under /tmp, removed with the object. Test thread only.
class TempFolder {
 public:
  TempFolder() {
    char pattern[] = "/tmp/quoteloom-cluster-XXXXXX";
    path_ = mkdtemp(pattern);
  }
  ~TempFolder() { std::filesystem::remove_all(path_); }
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

// Unix nanoseconds of a local-time write stamp yyyymmddHHMMSS, plus `nanos`.
inline std::int64_t StampTime(const std::string& stamp, std::int64_t nanos = 123456789) {
  std::tm t{};
  std::sscanf(stamp.c_str(), "%4d%2d%2d%2d%2d%2d", &t.tm_year, &t.tm_mon, &t.tm_mday, &t.tm_hour, &t.tm_min, &t.tm_sec);
  t.tm_year -= 1900;
  t.tm_mon -= 1;
  t.tm_isdst = -1;
  return static_cast<std::int64_t>(std::mktime(&t)) * 1000000000 + nanos;
}

// A tick of `contract` whose volume `n` makes it unique, written at local time `stamp`. Its open
// interest and turnover need more than six digits and its price has half ticks, so only exact
// values keep them.
inline JournalEntry TestTick(const std::string& contract, int n, const std::string& stamp = "20240301090507") {
  JournalEntry e;
  TickRecord& t = e.tick;
  std::memset(&t, 0, sizeof(t));
  std::snprintf(t.InstrumentID, sizeof(t.InstrumentID), "%s", contract.c_str());
  std::snprintf(t.TradingDay, sizeof(t.TradingDay), "20240301");
  std::snprintf(t.ActionDay, sizeof(t.ActionDay), "20240301");
  std::snprintf(t.UpdateTime, sizeof(t.UpdateTime), "09:05:07");
  t.UpdateMillisec = n % 1000;
  t.LastPrice = 92.005 + n % 7;
  t.Volume = n;
  t.HighestPrice = 3750;
  t.LowestPrice = 3700;
  t.OpenPrice = 3710;
  t.ClosePrice = DBL_MAX;
  t.AveragePrice = 37251.25;
  t.BidPrice1 = 3726;
  t.BidVolume1 = 15;
  t.AskPrice1 = 3725;
  t.AskVolume1 = 30;
  t.UpperLimitPrice = 3950;
  t.LowerLimitPrice = 3500;
  t.OpenInterest = 1654321;
  t.Turnover = 4598765432.5 + n;
  t.PreClosePrice = 3720;
  t.PreOpenInterest = 1650001;
  t.PreSettlementPrice = 3722;
  t.Filled = 1;
  e.writeTimeNs = StampTime(stamp);
  return e;
}

// The lines a collector writes for TestTick(contract, n, stamp).
inline std::string TestTickLine(const std::string& contract, int n, const std::string& stamp = "20240301090507") {
  ExactTickLines lines;
  BuildExactTickLines(TestTick(contract, n, stamp), &lines);
  return std::string(lines.generalLine());
}
inline std::string TestFixedLine(const std::string& contract, int n, const std::string& stamp = "20240301090507") {
  ExactTickLines lines;
  BuildExactTickLines(TestTick(contract, n, stamp), &lines);
  return std::string(lines.fixedLine());
}

// Appends the ticks to the journals of `folder` as a collector would, each under its filing day.
inline void AppendTicks(const std::filesystem::path& folder, const std::vector<JournalEntry>& ticks) {
  std::filesystem::create_directories(folder);
  JournalWriter writer(JournalSync::kNone, folder.string());
  ExactTickLines lines;
  for (const JournalEntry& e : ticks) {
    BuildExactTickLines(e, &lines);
    writer.Append(lines.day.c_str(), e.tick, e.writeTimeNs, std::chrono::steady_clock::now());
  }
}

inline void AppendText(const std::filesystem::path& path, const std::string& text) {
  std::filesystem::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary | std::ios::app) << text;
}

#endif
