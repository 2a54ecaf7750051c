#include "replay/service/replay_job.h"

#include <chrono>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "core/clock.h"
#include "core/file_lock.h"
#include "core/gbk.h"
#include "core/log_sink.h"
#include "core/string_printf.h"
#include "core/tick_record.h"
#include "queue/live_tick_relay.h"
#include "replay/service/replay_rules.h"
#include "replay/net/pack_decoder.h"
#include "replay/service/stored_tick_file.h"
#include "replay/service/stored_tick_reader.h"

namespace {

constexpr auto kPace = std::chrono::milliseconds(1);

constexpr char kHistoryLine[] =
    "(%d)[client:%u]发送行情 %s [%s][%s][%s][%d][%0.02lf][%d][%0.02lf][%0.02lf][%0.02lf][%0.02lf][%0.02lf][%0.02lf][%d]";
constexpr char kLiveLine[] =
    "(%d)[client:%u]发送实时行情 %s [%s][%s][%s][%d][%0.02lf][%d][%0.02lf][%0.02lf][%0.02lf][%0.02lf][%0.02lf][%0.02lf][%d]";

void Log(const std::string& line) { AppendLine(LogTab::ClientConnections, line); }

}  // namespace

ReplayMessage TickMessageFromRecord(const TickRecord& r) {
  ReplayMessage m = ZeroReplayMessage();
  SetReplayText(m.InstrumentID, std::string_view(r.InstrumentID, strnlen(r.InstrumentID, sizeof(r.InstrumentID))));
  SetReplayText(m.TradingDay, std::string_view(r.TradingDay, strnlen(r.TradingDay, sizeof(r.TradingDay))));
  SetReplayText(m.ActionDay, std::string_view(r.ActionDay, strnlen(r.ActionDay, sizeof(r.ActionDay))));
  SetReplayText(m.UpdateTime, std::string_view(r.UpdateTime, strnlen(r.UpdateTime, sizeof(r.UpdateTime))));
  m.LastPrice = r.LastPrice;
  m.PreSettlementPrice = r.PreSettlementPrice;
  m.PreClosePrice = r.PreClosePrice;
  m.PreOpenInterest = r.PreOpenInterest;
  m.OpenPrice = r.OpenPrice;
  m.HighestPrice = r.HighestPrice;
  m.LowestPrice = r.LowestPrice;
  m.ClosePrice = r.ClosePrice;
  m.Turnover = r.Turnover;
  m.OpenInterest = r.OpenInterest;
  m.UpperLimitPrice = r.UpperLimitPrice;
  m.LowerLimitPrice = r.LowerLimitPrice;
  m.AveragePrice = r.AveragePrice;
  m.BidPrice1 = r.BidPrice1;
  m.AskPrice1 = r.AskPrice1;
  m.Volume = r.Volume;
  m.UpdateMillisec = r.UpdateMillisec;
  m.BidVolume1 = r.BidVolume1;
  m.AskVolume1 = r.AskVolume1;
  return m;
}

ReplayJob::ReplayJob(ReplayShared& shared, ActiveRequest request, std::uint64_t generation,
                     const std::atomic<bool>& clientGone)
    : shared_(shared), request_(std::move(request)), generation_(generation), clientGone_(clientGone) {}

bool ReplayJob::Stopped() const {
  return shared_.abandon.load(std::memory_order_acquire) || clientGone_.load(std::memory_order_acquire) ||
         shared_.generation.load(std::memory_order_acquire) > generation_;
}

void ReplayJob::Run() {
  const int first = ParseReplayDay(request_.firstDay);
  const int last = ParseReplayDay(request_.lastDay);
  const int year = first / 10000;
  const int month = first / 100 - year * 100;
  AppendLineF(LogTab::ClientConnections, "%d年%d月%d日", year, month, first - year * 10000 - month * 100);

  for (int day = first; day <= last && !Stopped(); day = NextReplayDay(day)) {
    ReplayDay(day);
    std::this_thread::sleep_for(kPace);
  }
  if (!Stopped()) SendLive();
  // Held since its request (while it is served, the client only receives): idle from now on.
  if (!clientGone_.load(std::memory_order_acquire)) request_.server->HoldOpen(request_.client, false);
}

void ReplayJob::ReplayDay(int day) {
  const std::string path = StoredTickFile::Path(shared_.dataRoot, day, request_.contract);
  StoredTickReader reader;
  StoredTickReader::OpenResult opened;
  {
    std::lock_guard<std::mutex> lock(TheFileLock());
    opened = reader.Open(path);
  }
  if (opened == StoredTickReader::OpenResult::Missing) {
    AppendLineF(LogTab::ClientConnections, "没找到%s", path.c_str());
    return;
  }
  AppendLineF(LogTab::ClientConnections, "OK找到%s", path.c_str());
  const ClockReading now = shared_.clock.Now();
  AppendLineF(LogTab::ClientConnections, "%04d %02d %02d %02d:%02d:%02d %s", now.year, now.month, now.day, now.hour,
              now.minute, now.second, path.c_str());
  if (opened == StoredTickReader::OpenResult::Unreadable) {
    // It exists but cannot be read (no permission, a folder or a named pipe in its place): skip the day.
    AppendLineF(LogTab::ClientConnections, "没找到%s", path.c_str());
    return;
  }
  const int count = CountCommaLines(reader);
  if (Stopped()) return;
  AppendLineF(LogTab::ClientConnections, "读取csv共 %d 条记录", count - 1);
  SendStoredTicks(reader);
}

int ReplayJob::CountCommaLines(StoredTickReader& reader) {
  constexpr int kCountChunk = 1024;
  int count = 0;
  for (bool more = true; more && !Stopped();) {
    std::lock_guard<std::mutex> lock(TheFileLock());
    std::string_view line;
    for (int i = 0; i < kCountChunk && (more = reader.Next(&line)); ++i)
      if (line.find(',') != std::string_view::npos) ++count;
  }
  return count;
}

void ReplayJob::SendStoredTicks(StoredTickReader& reader) {
  std::vector<ReplayMessage> chunk;
  chunk.reserve(kChunkLines);
  bool more;
  {
    std::lock_guard<std::mutex> lock(TheFileLock());
    std::string_view header;
    more = reader.Rewind() && reader.Next(&header);
  }
  while (more && !Stopped()) {
    chunk.clear();
    {
      std::lock_guard<std::mutex> lock(TheFileLock());
      std::string_view line;
      while (chunk.size() < static_cast<std::size_t>(kChunkLines) && (more = reader.Next(&line)))
        chunk.push_back(StoredTickFile::ParseLine(line, request_.contract));
    }
    for (const ReplayMessage& message : chunk) {
      if (!SendMessage(message, kHistoryLine, ++sent_)) return;
      std::this_thread::sleep_for(kPace);
    }
  }
}

void ReplayJob::SendLive() {
  int m = 0;
  while (shared_.livePhase.load(std::memory_order_acquire) && !Stopped()) {
    TickRecord record;
    if (shared_.relay.Take(&record) && !SendMessage(TickMessageFromRecord(record), kLiveLine, ++m)) return;
    std::this_thread::sleep_for(kPace);
  }
}

bool ReplayJob::WaitForRoom() {
  if (shared_.sendQueueBytes == 0) return !Stopped();
  constexpr std::int64_t kUnit = kPackHeaderSize + kReplayMessageSize;
  for (;;) {
    if (Stopped()) return false;
    const std::int64_t queued = request_.server->QueuedSendBytes(request_.client);
    if (queued < 0) return false;  // the connection is closing
    if (queued + kUnit <= static_cast<std::int64_t>(shared_.sendQueueBytes)) return true;
    std::this_thread::sleep_for(kPace);
  }
}

bool ReplayJob::SendMessage(const ReplayMessage& msg, const char* format, int counter) {
  if (!WaitForRoom()) return false;
  // The texts of a stored file are GBK; the log is UTF-8.
  Log(StringPrintf(format, counter, request_.client, GbkToUtf8(ReplayText(msg.InstrumentID)).c_str(),
                   GbkToUtf8(ReplayText(msg.TradingDay)).c_str(), GbkToUtf8(ReplayText(msg.ActionDay)).c_str(),
                   GbkToUtf8(ReplayText(msg.UpdateTime)).c_str(), msg.UpdateMillisec, msg.LastPrice, msg.Volume,
                   msg.HighestPrice, msg.LowestPrice, msg.OpenPrice, msg.ClosePrice, msg.AveragePrice, msg.AskPrice1,
                   msg.AskVolume1));
  const ReplayMessageBytes bytes = EncodeReplayMessage(msg);
  request_.server->Send(request_.client, bytes.data(), static_cast<int>(bytes.size()));
  return true;
}
