#ifndef QUOTELOOM_TESTS_DATA_DATA_FIXTURE_H
#define QUOTELOOM_TESTS_DATA_DATA_FIXTURE_H

#include <stdlib.h>

#include <cfloat>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <ctime>
#include <string>
#include <vector>

#include "sessions/session_clock.h"
#include "storage/journal_writer.h"
#include "storage/tick_line.h"
#include "tests/support/tick_fixtures.h"

// A working folder of the collector in /tmp with per-contract files written line by line in the
// collector's own format (storage's BuildTickLine, fixed style). Test thread only.
class DataFolder {
 public:
  DataFolder() {
    char pattern[] = "/tmp/quoteloom-data-XXXXXX";
    path_ = mkdtemp(pattern);
  }
  ~DataFolder() { std::filesystem::remove_all(path_); }
  DataFolder(const DataFolder&) = delete;
  DataFolder& operator=(const DataFolder&) = delete;

  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path File(int day, const std::string& contract) const {
    return path_ / "Data" / std::to_string(day) / (contract + ".csv");
  }
  void Append(int day, const std::string& contract, const std::string& bytes) const {
    std::filesystem::create_directories(path_ / "Data" / std::to_string(day));
    std::ofstream(File(day, contract), std::ios::binary | std::ios::app) << bytes;
  }

 private:
  std::filesystem::path path_;
};

// One tick of a contract; the rest of the record is the example rb2405 tick.
struct Tick {
  std::string contract = "rb2405";
  std::string time = "21:00:00";
  int ms = 0;
  double last = 3725;
  int volume = 1;
  double turnover = 0;
  double interest = 1000;
  double ask = 3726;
  std::string stamp;     // the collector's write stamp; empty: the moment of `time` on `day`
  int day = 20240308;    // the trading day the tick is filed under

  TickRecord Record() const {
    TickRecord r = ExampleRb2405Record();
    std::snprintf(r.InstrumentID, sizeof r.InstrumentID, "%s", contract.c_str());
    std::snprintf(r.UpdateTime, sizeof r.UpdateTime, "%s", time.c_str());
    r.UpdateMillisec = ms;
    r.LastPrice = last;
    r.Volume = volume;
    r.Turnover = turnover;
    r.OpenInterest = interest;
    r.AskPrice1 = ask;
    return r;
  }
  // Arrived when it says it was made, as a session tick does.
  std::string Stamp() const {
    if (!stamp.empty()) return stamp;
    const int h = std::atoi(time.substr(0, 2).c_str()), m = std::atoi(time.substr(3, 2).c_str()),
              sec = std::atoi(time.substr(6, 2).c_str());
    const int seconds = h * 3600 + m * 60 + sec;
    char text[32];
    std::snprintf(text, sizeof text, "%08d%02d%02d%02d", CalendarDateOf(day, SessionSecond(seconds % 86400)),
                  h % 24, m % 60, sec % 60);
    return text;
  }
  // The write stamp as the journal keeps it: nanoseconds since the epoch of that China time (+08:00
  // for every date since 1991), whatever the test's own time zone.
  std::int64_t WriteTimeNs() const {
    const std::string s = Stamp();
    std::tm t{};
    t.tm_year = std::atoi(s.substr(0, 4).c_str()) - 1900;
    t.tm_mon = std::atoi(s.substr(4, 2).c_str()) - 1;
    t.tm_mday = std::atoi(s.substr(6, 2).c_str());
    t.tm_hour = std::atoi(s.substr(8, 2).c_str());
    t.tm_min = std::atoi(s.substr(10, 2).c_str());
    t.tm_sec = std::atoi(s.substr(12, 2).c_str());
    return (static_cast<std::int64_t>(timegm(&t)) - 8 * 3600) * 1000000000LL;
  }
  std::string Line() const {
    char line[kTickLineSize];
    const std::size_t n = BuildTickLine(Record(), Stamp().c_str(), NumberStyle::kFixed, line);
    return std::string(line, n);
  }
};

// Appends the ticks to the folder's journal of trading day `day` ("yyyymmdd") as the collector does;
// false when one could not be appended.
inline bool AppendJournal(const DataFolder& folder, const char* day, const std::vector<Tick>& ticks) {
  JournalWriter writer(JournalSync::kNone, folder.path().string());
  bool all = true;
  for (const Tick& t : ticks) all = writer.Append(day, t.Record(), t.WriteTimeNs(), {}) && all;
  return all;
}

// "HH:MM:SS" of seconds since midnight.
inline std::string ClockText(int seconds) {
  char text[16];
  std::snprintf(text, sizeof text, "%02d:%02d:%02d", seconds / 3600 % 24, seconds / 60 % 60, seconds % 60);
  return text;
}

inline int Clock(int h, int m, int s = 0) { return h * 3600 + m * 60 + s; }

// Lines of ticks every `stepSeconds` from `from` up to and including `to` (seconds since midnight,
// `to` may be past midnight as a value above 86400), the volume rising by one each.
inline std::string TickRun(const std::string& contract, int from, int to, int stepSeconds = 1, int firstVolume = 1,
                           int day = 20240308) {
  std::string lines;
  int volume = firstVolume;
  for (int t = from; t <= to; t += stepSeconds) {
    Tick tick;
    tick.day = day;
    tick.contract = contract;
    tick.time = ClockText(t);
    tick.volume = volume++;
    lines += tick.Line();
  }
  return lines;
}

#endif
