#include "storage/tick_writer_thread.h"

#include <time.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>

#include "core/log_sink.h"
#include "storage/storage_paths.h"
#include "storage/tick_line.h"
#include "storage/trading_day.h"

namespace {

constexpr auto kPause = std::chrono::milliseconds(1);
constexpr auto kIdleSleep = std::chrono::milliseconds(10);

// Refused codes logged one by one; past this many the rest are only counted.
constexpr std::size_t kMaxListedCodes = 1000;

void RealSleep(std::chrono::milliseconds duration) { std::this_thread::sleep_for(duration); }

std::chrono::steady_clock::time_point RealNow() { return std::chrono::steady_clock::now(); }

// The write time the journal keeps: Unix time in nanoseconds, whatever clock names the trading day.
std::int64_t UnixTimeNs() {
  timespec ts;
  clock_gettime(CLOCK_REALTIME, &ts);
  return static_cast<std::int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

// The code as a log text: control bytes, backslashes and bytes outside ASCII as \xNN, bounded by the field.
std::string Printable(const char (&code)[sizeof(TickRecord::InstrumentID)]) {
  std::string out;
  for (std::size_t i = 0; i < sizeof(code) && code[i] != '\0'; ++i) {
    const unsigned char c = static_cast<unsigned char>(code[i]);
    if (c < 0x20 || c >= 0x7f || c == '\\') {
      char escaped[5];
      std::snprintf(escaped, sizeof(escaped), "\\x%02x", c);
      out += escaped;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

}  // namespace

TickWriterThread::TickWriterThread(CTRingQueueApi& queue, const Clock& clock, FileEnv& env,
                                   TickReportReceiver* receiver, std::mutex& fileLock, JournalWriter* journal)
    : queue_(queue), clock_(clock), env_(env), receiver_(receiver), fileLock_(fileLock), journal_(journal),
      sleep_(&RealSleep),
      now_(&RealNow),
      timeStreamLosses_(kTimeStreamDirectory),
      contractLosses_(kDataDirectory) {}

TickWriterThread::~TickWriterThread() {
  if (running()) StopWhenDrained();
}

void TickWriterThread::Start() {
  if (running()) return;
  stop_.store(false, std::memory_order_relaxed);
  thread_ = std::thread([this] { Run(); });
}

void TickWriterThread::StopWhenDrained() {
  if (!running()) return;
  stop_.store(true, std::memory_order_release);
  thread_.join();
}

void TickWriterThread::Run() {
  for (;;) {
    // Read before the pop: an empty queue seen after the stop request means everything is written.
    const bool stopping = stop_.load(std::memory_order_acquire);
    if (WriteOne()) continue;  // records are waiting: no sleep between them
    if (stopping) {
      timeStreamLosses_.Flush();
      contractLosses_.Flush();
      if (journal_ != nullptr) journal_->Close();
      return;
    }
    sleep_(kIdleSleep);
    sleep_(kPause);
  }
}

bool TickWriterThread::WriteOne() {
  TickRecord record;
  ClearTickRecord(&record);
  queue_.Pop(&record);
  if (record.Filled != 1) {
    const auto now = now_();
    timeStreamLosses_.Poll(now);
    contractLosses_.Poll(now);
    if (journal_ != nullptr) journal_->Poll(now);
    return false;
  }
  WriteRecord(record);
  return true;
}

void TickWriterThread::WriteRecord(const TickRecord& record) {
  const ClockReading now = clock_.Now();
  char stamp[kWriteStampSize];
  char day[kTradingDaySize];
  FormatWriteStamp(now, stamp);
  ComputeTradingDay(now, day);

  char timeStreamPath[kFilePathSize];
  char contractPath[kFilePathSize];
  if (!TimeStreamFilePath(day, timeStreamPath)) {
    Refuse(record, "交易日不能作文件名");
    return;
  }
  if (!ContractFilePath(day, record.InstrumentID, contractPath)) {
    Refuse(record, "合约代码不能作文件名");
    return;
  }
  if (!LineTextIsClean(record)) {
    Refuse(record, "含逗号或控制字符");
    return;
  }

  static thread_local char general[kTickLineSize];
  static thread_local char fixed[kTickLineSize];
  const std::size_t generalSize = BuildTickLine(record, stamp, NumberStyle::kGeneral, general);
  const std::size_t fixedSize = BuildTickLine(record, stamp, NumberStyle::kFixed, fixed);

  EnsureTimeStreamDirectory(env_);
  const bool timeStreamStored = AppendTickLine(timeStreamPath, general, generalSize, kTimeStreamFallbackFile,
                                               general, generalSize, timeStreamLosses_);
  EnsureDayDirectory(env_, day);
  const bool contractStored = AppendTickLine(contractPath, fixed, fixedSize, kContractFallbackFile, general,
                                             generalSize, contractLosses_);
  // The journal is independent of the CSV files: a loss on either side never costs the other.
  // The journal's write time is the reading that made the write stamp, so the stamp can be told from it.
  if (journal_ != nullptr) {
    const std::int64_t writeTimeNs = now.unixNanoseconds != 0 ? now.unixNanoseconds : UnixTimeNs();
    journal_->Append(day, record, writeTimeNs, now_(), TickArrivalNs(record, writeTimeNs));
  }
  // Only what is on disk counts and is reported; a lost line shows in linesLost.
  if (!timeStreamStored || !contractStored) return;
  ticksWritten_.fetch_add(1, std::memory_order_relaxed);
  Report(record);
}

bool TickWriterThread::AppendTickLine(const char* path, const char* line, std::size_t size, const char* fallback,
                                      const char* fallbackLine, std::size_t fallbackSize, LostLineLog& losses) {
  int error = 0;
  int fallbackError = 0;
  bool stored = true;
  {
    std::lock_guard<std::mutex> lock(fileLock_);
    // A failed write or close counts like a failed open: the data file does not hold the line.
    if (env_.AppendToFile(path, line, size, &error) != FileEnv::AppendStatus::kOk) {
      stored = env_.AppendToFile(fallback, fallbackLine, fallbackSize, &fallbackError) == FileEnv::AppendStatus::kOk;
      (stored ? fallbackLines_ : linesLost_).fetch_add(1, std::memory_order_relaxed);
    }
  }
  // Logged after the file lock is released: the log may make this thread wait.
  if (error == ELOOP) RefuseLink(path);
  if (stored) {
    losses.Stored(now_());
  } else {
    losses.Lost(now_(), path, error, fallback, fallbackError);
  }
  return stored;
}

void TickWriterThread::Refuse(const TickRecord& record, const char* why) {
  ticksUnstorable_.fetch_add(1, std::memory_order_relaxed);
  const std::string code = Printable(record.InstrumentID);
  if (refusedCodes_.count(code) > 0) return;
  if (refusedCodes_.size() >= kMaxListedCodes) {
    if (!refusedCodesFull_) AppendLineF(LogTab::NetworkLog, "不存储的合约超过%zu个，其余只计数", kMaxListedCodes);
    refusedCodesFull_ = true;
    return;
  }
  refusedCodes_.insert(code);
  AppendLineF(LogTab::NetworkLog, "行情不存储[%s]：%s", code.c_str(), why);
}

void TickWriterThread::RefuseLink(const char* path) {
  linksRefused_.fetch_add(1, std::memory_order_relaxed);
  const char* slash = std::strrchr(path, '/');
  const std::string folder = slash == nullptr ? "." : std::string(path, slash);
  if (linkedFolders_.size() >= kMaxListedCodes || !linkedFolders_.insert(folder).second) return;
  AppendLineF(LogTab::NetworkLog, "不写入[%s]：路径中有符号链接，行情改写备用文件", path);
}

void TickWriterThread::Report(const TickRecord& record) {
  if (receiver_ == nullptr) return;
  char fileName[64];
  char lastPrice[kNumberSize];
  char openInterest[kNumberSize];
  char localTime[32];
  char tradingDay[kTradingDaySize];
  std::snprintf(fileName, sizeof(fileName), "%.*s.csv", static_cast<int>(sizeof(record.InstrumentID)),
                record.InstrumentID);
  std::snprintf(lastPrice, sizeof(lastPrice), "%0.02lf", record.LastPrice);
  std::snprintf(openInterest, sizeof(openInterest), "%0.00lf", record.OpenInterest);
  const ClockReading t = clock_.Now();
  std::snprintf(localTime, sizeof(localTime), "%04d/%02d/%02d %02d:%02d:%02d", t.year, t.month, t.day, t.hour,
                t.minute, t.second);
  std::snprintf(tradingDay, sizeof(tradingDay), "%.*s", static_cast<int>(sizeof(record.TradingDay)),
                record.TradingDay);
  receiver_->OnTickReport(fileName, lastPrice, openInterest, localTime, tradingDay);
}

TickWriterThread::Counters TickWriterThread::counters() const {
  Counters c;
  c.ticksWritten = ticksWritten_.load(std::memory_order_relaxed);
  c.ticksUnstorable = ticksUnstorable_.load(std::memory_order_relaxed);
  c.fallbackLines = fallbackLines_.load(std::memory_order_relaxed);
  c.linesLost = linesLost_.load(std::memory_order_relaxed);
  c.linksRefused = linksRefused_.load(std::memory_order_relaxed);
  if (journal_ != nullptr) {
    c.journalRecords = journal_->recordsWritten();
    c.journalFailures = journal_->failures();
  }
  return c;
}
