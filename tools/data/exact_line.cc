#include "tools/data/exact_line.h"

#include <charconv>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string_view>

namespace {

void AppendDouble(double value, std::string* out) {
  char text[32];
  const auto r = std::to_chars(text, text + sizeof text, value);
  out->append(text, r.ptr);
}

void AppendInt(long long value, std::string* out) {
  char text[24];
  const auto r = std::to_chars(text, text + sizeof text, value);
  out->append(text, r.ptr);
}

template <std::size_t N>
void AppendText(const char (&field)[N], std::string* out) {
  out->append(field, strnlen(field, N));
}

}  // namespace

void AppendLocalStamp(std::int64_t ns, std::string* out) {
  const std::time_t seconds = static_cast<std::time_t>(ns / 1000000000);
  // Records come in write order, many in one second: the local time is worked out once per second.
  thread_local std::time_t lastSeconds = -1;
  thread_local char text[32];
  if (seconds != lastSeconds || lastSeconds == -1) {
    std::tm t{};
    localtime_r(&seconds, &t);
    std::snprintf(text, sizeof text, "%04d%02d%02d%02d%02d%02d", t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_hour,
                  t.tm_min, t.tm_sec);
    lastSeconds = seconds;
  }
  out->append(text);
}

void BuildExactCollectedLine(const JournalEntry& entry, std::string* out) {
  const TickRecord& t = entry.tick;
  out->clear();
  AppendLocalStamp(entry.writeTimeNs, out);
  out->push_back(',');
  AppendText(t.InstrumentID, out);
  out->push_back(',');
  AppendText(t.TradingDay, out);
  out->push_back(',');
  AppendText(t.ActionDay, out);
  out->push_back(',');
  AppendText(t.UpdateTime, out);
  out->push_back(',');
  AppendInt(t.UpdateMillisec, out);
  out->push_back(',');
  AppendDouble(t.LastPrice, out);
  out->push_back(',');
  AppendInt(t.Volume, out);
  for (double v : {t.HighestPrice, t.LowestPrice, t.OpenPrice, t.ClosePrice, t.AveragePrice, t.AskPrice1}) {
    out->push_back(',');
    AppendDouble(v, out);
  }
  out->push_back(',');
  AppendInt(t.AskVolume1, out);
  out->push_back(',');
  AppendDouble(t.BidPrice1, out);
  out->push_back(',');
  AppendInt(t.BidVolume1, out);
  for (double v : {t.UpperLimitPrice, t.LowerLimitPrice, t.OpenInterest, t.Turnover, t.PreClosePrice,
                   t.PreOpenInterest, t.PreSettlementPrice}) {
    out->push_back(',');
    AppendDouble(v, out);
  }
}

int ShortestDecimals(double value) {
  char text[400];  // the largest double has 309 digits in fixed notation
  const auto r = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed);
  if (r.ec != std::errc()) return 0;
  const std::string_view s(text, static_cast<std::size_t>(r.ptr - text));
  const auto point = s.find('.');
  if (point == std::string_view::npos) return 0;
  const int decimals = static_cast<int>(s.size() - point - 1);
  return decimals > 17 ? 17 : decimals;
}
