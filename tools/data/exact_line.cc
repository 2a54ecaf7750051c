#include "tools/data/exact_line.h"

#include <charconv>
#include <cstring>
#include <string_view>

#include "storage/trading_day.h"

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

}  // namespace

void AppendChinaStamp(std::int64_t ns, std::string* out) {
  char stamp[kWriteStampSize];
  FormatChinaStampOfTime(ns, stamp);
  out->append(stamp);
}

void AppendTickValues(const TickRecord& t, void (*appendDouble)(double, std::string*), std::string* out) {
  struct Appender {
    void (*appendDouble)(double, std::string*);
    std::string* out;
    void Int(long long v) {
      out->push_back(',');
      AppendInt(v, out);
    }
    void Double(double v) {
      out->push_back(',');
      appendDouble(v, out);
    }
  } appender{appendDouble, out};
  VisitTickValues(t, appender);
}

void BuildExactCollectedLine(const JournalEntry& entry, std::string* out) {
  const TickRecord& t = entry.tick;
  out->clear();
  AppendChinaStamp(entry.writeTimeNs, out);
  out->push_back(',');
  AppendFieldText(t.InstrumentID, out);
  out->push_back(',');
  AppendFieldText(t.TradingDay, out);
  out->push_back(',');
  AppendFieldText(t.ActionDay, out);
  out->push_back(',');
  AppendFieldText(t.UpdateTime, out);
  AppendTickValues(t, &AppendDouble, out);
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
