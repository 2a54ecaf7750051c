#include "replay/service/stored_tick_file.h"

#include <charconv>
#include <climits>
#include <cstdio>
#include <cstdlib>

#include "core/string_printf.h"
#include "replay/service/stored_tick_reader.h"

namespace {

constexpr int kUsedFields = 23;

bool IsSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

std::string_view SkipSpace(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && IsSpace(text[i])) ++i;
  return text.substr(i);
}

// Leading white space, an optional sign, the leading digits; 0 without any. Saturates.
int ParseInt(std::string_view text) {
  text = SkipSpace(text);
  bool negative = false;
  if (!text.empty() && (text[0] == '+' || text[0] == '-')) {
    negative = text[0] == '-';
    text.remove_prefix(1);
  }
  long long value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') break;
    value = value * 10 + (c - '0');
    if (value > INT_MAX) return negative ? INT_MIN : INT_MAX;
  }
  return static_cast<int>(negative ? -value : value);
}

// The longest decimal number at the start after white space, whatever the process locale; 0 without one.
double ParseDouble(std::string_view text) {
  text = SkipSpace(text);
  bool negative = false;
  if (!text.empty() && text[0] == '+') {
    text.remove_prefix(1);
  } else if (!text.empty() && text[0] == '-') {
    negative = true;
    text.remove_prefix(1);
  }
  if (text.empty() || text[0] == '+' || text[0] == '-') return 0.0;
  double value = 0.0;
  const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
  if (result.ec == std::errc::invalid_argument) return 0.0;
  if (result.ec == std::errc::result_out_of_range) {
    // Keep strtod's answers: huge values become infinite, tiny ones zero.
    value = std::strtod(std::string(text.substr(0, static_cast<std::size_t>(result.ptr - text.data()))).c_str(),
                        nullptr);
  }
  return negative ? -value : value;
}

}  // namespace

std::string StoredTickFile::Path(std::string_view dataRoot, int day, std::string_view contract) {
  return StringPrintf("%.*s//%d//Tick//%.*s.csv", static_cast<int>(dataRoot.size()), dataRoot.data(), day,
                      static_cast<int>(contract.size()), contract.data());
}

std::optional<int> StoredTickFile::CountCommaLines(const std::string& path) {
  StoredTickReader reader;
  if (reader.Open(path) != StoredTickReader::OpenResult::Ok) return std::nullopt;
  int count = 0;
  std::string_view line;
  while (reader.Next(&line))
    if (line.find(',') != std::string_view::npos) ++count;
  return count;
}

bool StoredTickFile::Load(const std::string& path, std::string_view contract, std::deque<ReplayMessage>* history) {
  StoredTickReader reader;
  if (reader.Open(path) != StoredTickReader::OpenResult::Ok) return false;
  std::string_view line;
  if (!reader.Next(&line)) return true;  // the header line
  while (reader.Next(&line)) history->push_back(ParseLine(line, contract));
  return true;
}

ReplayMessage StoredTickFile::ParseLine(std::string_view line, std::string_view contract) {
  // The line with one comma appended, split at every comma: fields past the last are empty.
  std::string_view fields[kUsedFields];
  std::size_t start = 0;
  for (int i = 0; i < kMaxFields && start <= line.size(); ++i) {
    std::size_t comma = line.find(',', start);
    if (comma == std::string_view::npos) comma = line.size();
    if (i < kUsedFields) fields[i] = line.substr(start, comma - start);
    start = comma + 1;
  }

  ReplayMessage m = ZeroReplayMessage();
  SetReplayText(m.InstrumentID, contract);
  std::string tradingDay(fields[0]);
  if (tradingDay.size() < 6) tradingDay.insert(0, 6 - tradingDay.size(), '0');
  SetReplayText(m.TradingDay, tradingDay);
  SetReplayText(m.ActionDay, fields[1]);
  SetReplayText(m.UpdateTime, fields[3]);
  m.UpdateMillisec = ParseInt(fields[4]);
  m.LastPrice = ParseDouble(fields[5]);
  m.Volume = ParseInt(fields[6]);
  m.HighestPrice = ParseDouble(fields[7]);
  m.LowestPrice = ParseDouble(fields[8]);
  m.OpenPrice = ParseDouble(fields[9]);
  m.ClosePrice = ParseDouble(fields[10]);
  m.AveragePrice = ParseDouble(fields[11]);
  m.AskPrice1 = ParseDouble(fields[12]);
  m.AskVolume1 = ParseInt(fields[13]);
  m.BidPrice1 = ParseDouble(fields[14]);
  m.BidVolume1 = ParseInt(fields[15]);
  m.UpperLimitPrice = ParseDouble(fields[16]);
  m.LowerLimitPrice = ParseDouble(fields[17]);
  m.OpenInterest = ParseDouble(fields[18]);
  m.Turnover = ParseDouble(fields[19]);
  m.PreClosePrice = ParseDouble(fields[20]);
  m.PreOpenInterest = ParseDouble(fields[21]);
  m.PreSettlementPrice = ParseDouble(fields[22]);
  return m;
}
