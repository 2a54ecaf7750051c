#include "tools/data/replay_line.h"

#include <charconv>
#include <cmath>
#include <cstring>

#include "storage/tick_line.h"
#include "tools/data/exact_line.h"

void AppendReplayLine(const CollectedLine& f, std::string* out) {
  static constexpr CollectedField kOrder[] = {
      kTradingDay, kActionDay, kInstrumentID, kUpdateTime, kUpdateMillisec, kLastPrice, kVolume, kHighestPrice,
      kLowestPrice, kOpenPrice, kClosePrice, kAveragePrice, kAskPrice1, kAskVolume1, kBidPrice1, kBidVolume1,
      kUpperLimitPrice, kLowerLimitPrice, kOpenInterest, kTurnover, kPreClosePrice, kPreOpenInterest,
      kPreSettlementPrice, kWriteStamp};
  bool first = true;
  for (CollectedField field : kOrder) {
    if (!first) out->push_back(',');
    first = false;
    out->append(f.field[field]);
  }
  out->append("\r\n");
}

void AppendReplayNumber(double value, std::string* out) {
  // The shortest fixed text of the smallest subnormal has 326 characters.
  char shortest[400];
  const auto r = std::to_chars(shortest, shortest + sizeof shortest, value, std::chars_format::fixed);
  const std::string_view text(shortest, r.ec == std::errc() ? static_cast<std::size_t>(r.ptr - shortest) : 0);
  const std::size_t point = text.find('.');
  if (point != std::string_view::npos && text.size() - point - 1 > 2) {
    out->append(text);
    return;
  }
  // Two decimals hold the value exactly (nan and inf included): the per-contract file's own text.
  // Below 1e13 a double's spacing is under 0.002, so that text is the shortest one with its
  // decimals filled up to two; larger values and nan or inf are printed again.
  if (std::fabs(value) < 1e13) {
    out->append(text);
    out->append(point == std::string_view::npos ? ".00" : text.size() - point == 2 ? "0" : "");
    return;
  }
  char fixed[kNumberSize];
  out->append(fixed, FormatNumber(value, NumberStyle::kFixed, fixed));
}

bool AppendExactReplayLine(const TickRecord& t, std::string_view writeStamp, std::string* out) {
  if (!LineTextIsClean(t)) return false;
  AppendFieldText(t.TradingDay, out);
  out->push_back(',');
  AppendFieldText(t.ActionDay, out);
  out->push_back(',');
  AppendFieldText(t.InstrumentID, out);
  out->push_back(',');
  AppendFieldText(t.UpdateTime, out);
  AppendTickValues(t, &AppendReplayNumber, out);
  out->push_back(',');
  out->append(writeStamp);
  out->append("\r\n");
  return true;
}

bool AppendReplayLine(TickSource& source, const SourceTick& tick, std::string* out) {
  if (source.StoresText()) {
    const CollectedLine* fields = source.Fields();
    if (fields == nullptr) return false;
    AppendReplayLine(*fields, out);
    return true;
  }
  return AppendExactReplayLine(*source.Values().record, tick.write_stamp, out);
}
