#ifndef QUOTELOOM_TOOLS_DATA_EXACT_LINE_H
#define QUOTELOOM_TOOLS_DATA_EXACT_LINE_H

#include <cstdint>
#include <cstring>
#include <string>

#include "storage/journal_format.h"

// A journal record as a line of the per-contract file's 24 fields, but with every double in the
// shortest text that reads back to the same value, so the tools that read lines get the exact tick.
// The write stamp is the write time on China time (AppendChinaStamp). Pure function, any thread.
void BuildExactCollectedLine(const JournalEntry& entry, std::string* out);

// yyyymmddHHMMSS of a journal write time on China time, as the collector in China stamps its CSV
// lines, whatever time zone the tool runs in.
void AppendChinaStamp(std::int64_t writeTimeNs, std::string* out);

// Hands the record's numbers from UpdateMillisec to PreSettlementPrice to `out` in the stored line's
// order: out.Int(value) for an integer, out.Double(value) for a double.
template <typename Out>
void VisitTickValues(const TickRecord& t, Out& out) {
  out.Int(t.UpdateMillisec);
  out.Double(t.LastPrice);
  out.Int(t.Volume);
  for (double v : {t.HighestPrice, t.LowestPrice, t.OpenPrice, t.ClosePrice, t.AveragePrice, t.AskPrice1}) out.Double(v);
  out.Int(t.AskVolume1);
  out.Double(t.BidPrice1);
  out.Int(t.BidVolume1);
  for (double v : {t.UpperLimitPrice, t.LowerLimitPrice, t.OpenInterest, t.Turnover, t.PreClosePrice,
                   t.PreOpenInterest, t.PreSettlementPrice}) {
    out.Double(v);
  }
}

// The record's fields from UpdateMillisec to PreSettlementPrice in the stored line's order, each
// after a comma; `appendDouble` writes each double, integers are written whole.
void AppendTickValues(const TickRecord& tick, void (*appendDouble)(double, std::string*), std::string* out);

// A text field of a record, up to its terminator.
template <std::size_t N>
void AppendFieldText(const char (&field)[N], std::string* out) {
  out->append(field, strnlen(field, N));
}

// Digits after the decimal point in the shortest text of `value` (0 for whole numbers, at most 17).
int ShortestDecimals(double value);

#endif
