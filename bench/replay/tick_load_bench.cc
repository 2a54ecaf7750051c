// Load tool: reads a stored tick file of 100,000 lines into a history, both passes under the file
// lock as a replay does, and prints how long it took.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>
#include <mutex>

#include "core/file_lock.h"
#include "replay/service/stored_tick_file.h"

int main() {
  constexpr int kLines = 100000;
  char pattern[] = "/tmp/quoteloom-tick-load-XXXXXX";
  const std::string dir = mkdtemp(pattern);
  const std::string path = dir + "/rb1710.csv";
  {
    std::ofstream out(path, std::ios::binary);
    out << "TradingDay,ActionDay,Exchange,UpdateTime,UpdateMillisec,LastPrice,Volume,HighestPrice,LowestPrice,"
           "OpenPrice,ClosePrice,AveragePrice,AskPrice1,AskVolume1,BidPrice1,BidVolume1,UpperLimitPrice,"
           "LowerLimitPrice,OpenInterest,Turnover,PreClosePrice,PreOpenInterest,PreSettlementPrice\r\n";
    for (int i = 0; i < kLines; ++i) {
      out << "20170901,20170901,SHFE," << "09:" << (10 + i / 6000 % 50) << ":" << (10 + i / 100 % 50) << ","
          << (i % 2) * 500 << "," << 3650 + i % 17 << "." << i % 10 << "," << i << ",3700,3600,3640,3649.5,"
          << "3651.25,3651,7,3650,9,3900,3400,2500000,4.5e9,3644,2400000,3646\r\n";
    }
  }
  const auto bytes = std::filesystem::file_size(path);

  double best = 1e9;
  std::size_t loaded = 0;
  for (int run = 0; run < 5; ++run) {
    const auto start = std::chrono::steady_clock::now();
    std::deque<ReplayMessage> history;
    std::optional<int> count;
    {
      std::lock_guard<std::mutex> lock(TheFileLock());
      count = StoredTickFile::CountCommaLines(path);
    }
    {
      std::lock_guard<std::mutex> lock(TheFileLock());
      StoredTickFile::Load(path, "rb1710", &history);
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    best = std::min(best, seconds);
    loaded = history.size();
    if (!count || *count - 1 != kLines) std::printf("unexpected count\n");
  }
  std::filesystem::remove_all(dir);
  std::printf("stored tick file of %d lines (%.1f MB): counted and loaded %zu messages in %.1f ms (best of 5; "
              "target under 1000 ms)\n",
              kLines, static_cast<double>(bytes) / 1e6, loaded, best * 1000);
  return best < 1.0 && loaded == kLines ? 0 : 1;
}
