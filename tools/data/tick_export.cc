#include "tools/data/tick_export.h"

#include <unistd.h>

#include <cfloat>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <vector>

#include "core/open_regular_file.h"
#include "sessions/civil_date.h"
#include "sessions/clock_time.h"
#include "sessions/session_clock.h"
#include "sessions/tick_classifier.h"
#include "sessions/trading_day_rule.h"
#include "storage/journal_reader.h"
#include "tools/data/collected_line.h"
#include "tools/data/day_files.h"
#include "tools/data/day_source.h"

namespace fs = std::filesystem;

namespace {

constexpr std::int64_t kChinaOffsetSeconds = 8 * 3600;
constexpr std::size_t kFlushBytes = 32u << 20;  // buffered rows of all files before they are appended

void AppendInt(long long value, std::string* out) {
  char text[24];
  const auto r = std::to_chars(text, text + sizeof text, value);
  out->append(text, r.ptr);
}

void AppendPadded(long long value, int width, std::string* out) {
  char text[24];
  std::snprintf(text, sizeof text, "%0*lld", width, value);
  out->append(text);
}

void AppendDate(int date, std::string* out) {
  AppendPadded(date / 10000, 4, out);
  out->push_back('-');
  AppendPadded(date / 100 % 100, 2, out);
  out->push_back('-');
  AppendPadded(date % 100, 2, out);
}

// Unix nanoseconds as China time, with nanoseconds.
void AppendWriteTime(std::int64_t ns, std::string* out) {
  std::int64_t seconds = ns / 1000000000;
  std::int64_t fraction = ns % 1000000000;
  if (fraction < 0) {
    fraction += 1000000000;
    --seconds;
  }
  seconds += kChinaOffsetSeconds;
  std::int64_t days = seconds / 86400;
  std::int64_t second = seconds % 86400;
  if (second < 0) {
    second += 86400;
    --days;
  }
  AppendDate(DateOfDaysSinceEpoch(days), out);
  out->push_back('T');
  AppendPadded(second / 3600, 2, out);
  out->push_back(':');
  AppendPadded(second / 60 % 60, 2, out);
  out->push_back(':');
  AppendPadded(second % 60, 2, out);
  out->push_back('.');
  AppendPadded(fraction, 9, out);
  out->append("+08:00");
}

// The exchange's time of day on the calendar date it fell on (a night tick on the eve of the trading
// day). Empty when the update time is not HH:MM:SS.
void AppendExchangeTime(int day, const TickRecord& t, std::string* out) {
  const int time = ParseClockTime(std::string_view(t.UpdateTime, strnlen(t.UpdateTime, sizeof t.UpdateTime)));
  if (time < 0 || t.UpdateMillisec < 0 || t.UpdateMillisec > 999) return;
  const int date = CalendarDateOf(day, SessionSecond(time));
  AppendDate(date, out);
  out->push_back('T');
  out->append(t.UpdateTime, 8);
  out->push_back('.');
  AppendPadded(t.UpdateMillisec, 3, out);
  out->append("+08:00");
}

// A text field as a CSV cell: quoted when it holds a comma, a quote or a line end.
template <std::size_t N>
void AppendText(const char (&field)[N], std::string* out) {
  const std::string_view text(field, strnlen(field, N));
  if (text.find_first_of(",\"\r\n") == std::string_view::npos) {
    out->append(text);
    return;
  }
  out->push_back('"');
  for (char c : text) {
    if (c == '"') out->push_back('"');
    out->push_back(c);
  }
  out->push_back('"');
}

// The four prices the collector sets to -1 when the exchange sent none.
void AppendSanitisedPrice(double value, std::string* out) {
  if (value != -1.0) AppendExactNumber(value, out);
}


}  // namespace

std::string TickExportHeader(bool raw) {
  return std::string("trading_day,exchange_time,write_time,contract,exchange_trading_day,action_day,update_time,update_millisec,"
         "last_price,volume,turnover,open_interest,average_price,open_price,highest_price,lowest_price,close_price,"
         "settlement_price,pre_settlement_price,pre_close_price,pre_open_interest,upper_limit_price,lower_limit_price,"
         "pre_delta,curr_delta,"
         "bid_price1,bid_volume1,ask_price1,ask_volume1,bid_price2,bid_volume2,ask_price2,ask_volume2,"
         "bid_price3,bid_volume3,ask_price3,ask_volume3,bid_price4,bid_volume4,ask_price4,ask_volume4,"
         "bid_price5,bid_volume5,ask_price5,ask_volume5,sequence") +
         (raw ? ",kind" : "");
}

void AppendExactNumber(double value, std::string* out) {
  if (value == DBL_MAX) return;
  char text[32];
  const auto r = std::to_chars(text, text + sizeof text, value);
  out->append(text, r.ptr);
}

void AppendTickExportRow(int day, const TickRecord& t, std::int64_t writeTimeNs, std::uint64_t sequence,
                         std::string* out) {
  AppendDate(day, out);
  out->push_back(',');
  AppendExchangeTime(day, t, out);
  out->push_back(',');
  AppendWriteTime(writeTimeNs, out);
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
  AppendExactNumber(t.LastPrice, out);
  out->push_back(',');
  AppendInt(t.Volume, out);
  for (double v : {t.Turnover, t.OpenInterest, t.AveragePrice}) {
    out->push_back(',');
    AppendExactNumber(v, out);
  }
  for (double v : {t.OpenPrice, t.HighestPrice, t.LowestPrice, t.ClosePrice}) {
    out->push_back(',');
    AppendSanitisedPrice(v, out);
  }
  for (double v : {t.SettlementPrice, t.PreSettlementPrice, t.PreClosePrice, t.PreOpenInterest, t.UpperLimitPrice,
                   t.LowerLimitPrice, t.PreDelta, t.CurrDelta}) {
    out->push_back(',');
    AppendExactNumber(v, out);
  }
  const double bids[] = {t.BidPrice1, t.BidPrice2, t.BidPrice3, t.BidPrice4, t.BidPrice5};
  const double asks[] = {t.AskPrice1, t.AskPrice2, t.AskPrice3, t.AskPrice4, t.AskPrice5};
  const int bidVolumes[] = {t.BidVolume1, t.BidVolume2, t.BidVolume3, t.BidVolume4, t.BidVolume5};
  const int askVolumes[] = {t.AskVolume1, t.AskVolume2, t.AskVolume3, t.AskVolume4, t.AskVolume5};
  for (int level = 0; level < 5; ++level) {
    out->push_back(',');
    AppendExactNumber(bids[level], out);
    out->push_back(',');
    AppendInt(bidVolumes[level], out);
    out->push_back(',');
    AppendExactNumber(asks[level], out);
    out->push_back(',');
    AppendInt(askVolumes[level], out);
  }
  out->push_back(',');
  AppendInt(static_cast<long long>(sequence), out);
}

TickExportResult ExportDay(const TickExportOptions& options, int day,
                           const std::function<void(std::uint64_t rows)>& progress) {
  TickExportResult result;
  std::unique_ptr<TickSource> source = OpenDaySource(options.workdir, day, &result.error);
  if (source != nullptr && !source->KeepsWholeRecords()) source.reset();
  if (source == nullptr && !DayHasJournal(options.workdir, day)) {
    result.error = DayJournal(options.workdir, day).string() + ": no journal; the export takes the exact ticks of one";
  }
  if (source == nullptr) return result;
  return ExportDay(*source, options, day, progress);
}

TickExportResult ExportDay(TickSource& source, const TickExportOptions& options, int day,
                           const std::function<void(std::uint64_t rows)>& progress) {
  TickExportResult result;
  const std::string dayText = std::to_string(day);

  // Rows are buffered per output file and appended to a temporary beside it; renamed at the end.
  std::map<std::string, std::string> buffers;  // final file name -> rows not yet appended
  std::map<std::string, fs::path> temporaries;
  std::size_t buffered = 0;
  const std::string suffix = ".tmp." + std::to_string(::getpid());
  const std::string header = TickExportHeader(options.raw) + "\n";
  auto flush = [&]() {
    for (auto& [name, rows] : buffers) {
      const bool fresh = temporaries.count(name) == 0;
      if (rows.empty() && !fresh) continue;
      auto it = temporaries.emplace(name, options.outDir / ("." + name + suffix)).first;
      const std::string text = fresh ? header + rows : rows;
      if (!WriteRegularFile(it->second.c_str(), text, !fresh, &result.error)) return false;
      rows.clear();
    }
    buffered = 0;
    return true;
  };
  auto discard = [&]() {
    for (const auto& [name, path] : temporaries) ::unlink(path.c_str());
  };

  // Which ticks are the market's: the rule of bars and replayable, one classifier per contract.
  std::map<std::string, TickClassifier, std::less<>> classifiers;
  const TickClassifier* classifier = nullptr;
  std::string classified;  // the contract of `classifier`
  SourceTick tick;
  for (;;) {
    const TickSource::Result r = source.Next(&tick);
    if (r == TickSource::Result::kError) {
      result.error = source.error();
      discard();
      return result;
    }
    if (r == TickSource::Result::kEnd) break;
    if (tick.malformed) continue;
    if (!options.contracts.empty() && options.contracts.count(std::string(tick.contract)) == 0) continue;
    std::string name = dayText + ".csv";
    if (options.byContract) {
      if (!IsContractName(tick.contract)) {  // cannot name a file: said, and the export fails
        ++result.unnamed;
        continue;
      }
      name = dayText + "-" + std::string(tick.contract) + ".csv";
    }
    if (classifier == nullptr || tick.contract != classified) {
      auto it = classifiers.find(tick.contract);
      if (it == classifiers.end()) {
        const ProductHours* hours = IsContractName(tick.contract) ? FindProductHours(ProductOfContract(tick.contract)) : nullptr;
        it = classifiers.try_emplace(std::string(tick.contract), hours, day, options.toleranceSeconds).first;
      }
      classifier = &it->second;
      classified = it->first;
    }
    const TickRecord& t = *source.Values().record;
    const TickKind kind = classifier->ClassifyArrival(ParseClockTime(tick.update_time), tick.arrival);
    if (kind != TickKind::kSession && !options.raw) {
      ++result.notMarket;
      continue;
    }
    std::string& rows = buffers[name];
    const std::size_t before = rows.size();
    AppendTickExportRow(day, t, tick.write_time_ns, tick.number, &rows);
    if (options.raw) {
      rows.push_back(',');
      rows.append(TickKindName(kind));
    }
    rows.push_back('\n');
    buffered += rows.size() - before;
    if (++result.rows % 100000 == 0 && progress) progress(result.rows);
    if (buffered >= kFlushBytes && !flush()) {
      discard();
      return result;
    }
  }
  if (!options.byContract && result.rows == 0) buffers[dayText + ".csv"];  // an empty day still gets its header
  if (!flush()) {
    discard();
    return result;
  }
  for (const auto& [name, path] : temporaries) {
    if (std::rename(path.c_str(), (options.outDir / name).c_str()) != 0) {
      result.error = (options.outDir / name).string() + ": cannot rename into place";
      discard();
      return result;
    }
    ++result.files;
  }
  result.badRecords = source.Damaged();
  return result;
}
