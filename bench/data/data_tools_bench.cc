// quoteloom-data's audit and bars over a day of per-contract files, beside the raw cost of reading
// the same bytes: items per second are tick lines per second on one core (the files sit in the
// page cache after the first pass).
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "ThostFtdcUserApiStruct.h"
#include "core/tick_record.h"
#include "storage/tick_line.h"
#include "tools/data/bar_builder.h"
#include "tools/data/day_audit.h"
#include "tools/data/day_bars.h"
#include "tools/data/day_files.h"
#include "tools/data/line_block_reader.h"

namespace fs = std::filesystem;

namespace {

constexpr int kDay = 20240308;
constexpr int kContracts = 8;
constexpr int kLinesPerContract = 60000;  // two ticks a second through a night and a day

// A day of the collector's per-contract files in a temporary folder, removed at exit.
class BenchDay {
 public:
  BenchDay() {
    char pattern[] = "/tmp/quoteloom-data-bench-XXXXXX";
    root_ = mkdtemp(pattern);
    fs::create_directories(DayFolder(root_, kDay));
    const char* products[] = {"rb", "hc", "i", "m", "cu", "au", "MA", "ag"};  // all trade at night
    for (int c = 0; c < kContracts; ++c) Write(std::string(products[c]) + "2405");
  }
  ~BenchDay() { fs::remove_all(root_); }

  const fs::path& root() const { return root_; }
  std::uint64_t bytes() const { return bytes_; }
  std::uint64_t lines() const { return static_cast<std::uint64_t>(kContracts) * kLinesPerContract; }

 private:
  void Write(const std::string& contract) {
    std::ofstream out(DayFolder(root_, kDay) / (contract + ".csv"), std::ios::binary);
    CThostFtdcDepthMarketDataField d{};
    std::snprintf(d.TradingDay, sizeof d.TradingDay, "%d", kDay);
    std::snprintf(d.ActionDay, sizeof d.ActionDay, "%d", kDay);
    std::snprintf(d.InstrumentID, sizeof d.InstrumentID, "%s", contract.c_str());
    d.UpperLimitPrice = 3950;
    d.LowerLimitPrice = 3500;
    d.PreSettlementPrice = 3722;
    d.PreClosePrice = 3720;
    d.PreOpenInterest = 1650000;
    d.OpenPrice = d.HighestPrice = d.LowestPrice = 3710;
    d.ClosePrice = 1.7976931348623157e308;
    char line[kTickLineSize];
    // Night 21:00-23:00 and the day session, a tick every half second.
    unsigned second = 21 * 3600;
    for (int i = 0; i < kLinesPerContract; ++i) {
      if (second == 23 * 3600) second = 9 * 3600;
      if (second == 10 * 3600 + 15 * 60) second = 10 * 3600 + 30 * 60;
      if (second == 11 * 3600 + 30 * 60) second = 13 * 3600 + 30 * 60;
      std::snprintf(d.UpdateTime, sizeof d.UpdateTime, "%02u:%02u:%02u", second / 3600 % 24, second / 60 % 60, second % 60);
      d.UpdateMillisec = (i % 2) * 500;
      d.LastPrice = 3700 + (i * 7919 % 41);
      d.Volume = i * 3;
      d.Turnover = d.Volume * 37000.0;
      d.OpenInterest = 1650000 + i % 977;
      d.AveragePrice = 37125.5;
      d.AskPrice1 = d.LastPrice + 1;
      d.BidPrice1 = d.LastPrice;
      d.AskVolume1 = 1 + i % 300;
      d.BidVolume1 = 1 + i % 211;
      TickRecord r;
      BuildTickRecord(&d, &r);
      // Written when it was made, as the collector stores session ticks: the night on the eve.
      char stamp[24];
      std::snprintf(stamp, sizeof stamp, "%d%s", second >= 18 * 3600 ? kDay - 1 : kDay, d.UpdateTime);
      for (char* p = stamp + 8; *p != '\0'; ++p) {
        if (*p == ':') std::memmove(p, p + 1, std::strlen(p));
      }
      const std::size_t n = BuildTickLine(r, stamp, NumberStyle::kFixed, line);
      out.write(line, static_cast<std::streamsize>(n));
      bytes_ += n;
      if (i % 2 == 1) ++second;
    }
  }

  fs::path root_;
  std::uint64_t bytes_ = 0;
};

const BenchDay& Day() {
  static const BenchDay day;
  return day;
}

std::vector<std::string> Files() {
  std::vector<std::string> contracts, files;
  std::string error;
  ListContracts(Day().root(), kDay, &contracts, &error);
  for (const std::string& c : contracts) files.push_back((DayFolder(Day().root(), kDay) / (c + ".csv")).string());
  return files;
}

void Count(benchmark::State& state) {
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * Day().lines()));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * Day().bytes()));
}

// The bytes alone: read() in the reader's block size, nothing looked at.
void BM_ReadBytes(benchmark::State& state) {
  const std::vector<std::string> files = Files();
  std::vector<char> buffer(LineBlockReader::kBlockSize);
  for (auto _ : state) {
    std::uint64_t total = 0;
    for (const std::string& path : files) {
      const int fd = ::open(path.c_str(), O_RDONLY);
      for (ssize_t n; (n = ::read(fd, buffer.data(), buffer.size())) > 0;) total += static_cast<std::uint64_t>(n);
      ::close(fd);
    }
    benchmark::DoNotOptimize(total);
  }
  Count(state);
}
BENCHMARK(BM_ReadBytes)->Unit(benchmark::kMillisecond);

// The same bytes cut into whole lines and split into their 24 fields.
void BM_ReadAndSplitLines(benchmark::State& state) {
  const std::vector<std::string> files = Files();
  for (auto _ : state) {
    std::uint64_t fields = 0;
    for (const std::string& path : files) {
      LineBlockReader reader;
      reader.Open(path);
      std::string_view line;
      CollectedLine split;
      while (reader.Next(&line)) fields += SplitCollectedLine(line, &split);
    }
    benchmark::DoNotOptimize(fields);
  }
  Count(state);
}
BENCHMARK(BM_ReadAndSplitLines)->Unit(benchmark::kMillisecond);

// Argument 1: with the session-tick rule (as the program runs); 0: without it, to show its cost.
void BM_Audit(benchmark::State& state) {
  AuditOptions options;
  options.classify = state.range(0) != 0;
  for (auto _ : state) {
    const DayAudit audit = AuditDay(Day().root(), kDay, options);
    if (audit.lines != Day().lines()) state.SkipWithError("the audit read a different number of lines");
    benchmark::DoNotOptimize(audit.Holes());
  }
  Count(state);
}
BENCHMARK(BM_Audit)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond);

// Arguments: the period, and 1 with the session-tick rule, 0 without. The files are read on several
// threads: the CPU time counted is the whole process's.
void BM_Bars(benchmark::State& state) {
  const int period = static_cast<int>(state.range(0));
  const bool classify = state.range(1) != 0;
  for (auto _ : state) {
    const DayBars bars = BuildDayBars(Day().root(), kDay, period, kDefaultToleranceSeconds, classify);
    if (bars.lines != Day().lines() || bars.bars == 0) state.SkipWithError("bars went wrong");
    benchmark::DoNotOptimize(bars.csv.size());
  }
  Count(state);
}
BENCHMARK(BM_Bars)
    ->Args({60, 1})
    ->Args({60, 0})
    ->Args({kDailyBar, 1})
    ->Args({kDailyBar, 0})
    ->MeasureProcessCPUTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
