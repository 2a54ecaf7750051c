#include "platform/frontsim/replay_tick.h"

#include <algorithm>
#include <cfloat>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <sstream>

#include "core/open_regular_file.h"

#include "storage/tick_line.h"

#include "sessions/clock_time.h"
#include "sessions/tick_classifier.h"

namespace {

// A whole day of every contract is a few hundred megabytes; a file far larger is not a replay file.
constexpr std::size_t kMaxReplayFileBytes = std::size_t{1} << 31;

bool ToDouble(std::string_view text, double* value) { return ParseTickLineNumber(text, value); }
bool ToInt(std::string_view text, int* value) { return ParseTickLineNumber(text, value); }

template <std::size_t N>
bool ToText(std::string_view text, char (&to)[N]) {
  if (text.size() >= N) return false;
  std::memcpy(to, text.data(), text.size());
  to[text.size()] = '\0';
  return true;
}

// When the tick was recorded: the collector's write stamp (yyyymmddHHMMSS, the order of arrival) with
// the tick's milliseconds; without a stamp, its action day and update time (the day's start when the
// update time is not one). Only differences matter.
double RecordedSeconds(std::string_view stamp, const FrontDepthMarketData& f) {
  const double millis = f.UpdateMillisec / 1000.0;
  int date = 0, timeOfDay = 0;
  if (ParseWriteStamp(stamp, &date, &timeOfDay)) return TickClassifier::LocalSeconds(date, timeOfDay) + millis;
  timeOfDay = ParseClockTime(std::string_view(f.UpdateTime, strnlen(f.UpdateTime, sizeof f.UpdateTime)));
  return TickClassifier::LocalSeconds(std::atoi(f.ActionDay), std::max(timeOfDay, 0)) + millis;
}

}  // namespace

bool ParseTickLine(std::string_view line, FrontDepthMarketData* f) {
  using namespace tick_field;
  while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.remove_suffix(1);
  TickLineFields split;
  if (!SplitTickLine(line, &split)) return false;
  const auto& p = split.field;
  std::memset(f, 0, sizeof *f);
  bool ok = ToText(p[kInstrumentID], f->InstrumentID) && !p[kInstrumentID].empty() &&
            ToText(p[kInstrumentID], f->ExchangeInstID) && ToText(p[kTradingDay], f->TradingDay) &&
            ToText(p[kActionDay], f->ActionDay) && ToText(p[kUpdateTime], f->UpdateTime) &&
            ToInt(p[kUpdateMillisec], &f->UpdateMillisec) && ToDouble(p[kLastPrice], &f->LastPrice) &&
            ToInt(p[kVolume], &f->Volume) && ToDouble(p[kHighestPrice], &f->HighestPrice) &&
            ToDouble(p[kLowestPrice], &f->LowestPrice) && ToDouble(p[kOpenPrice], &f->OpenPrice) &&
            ToDouble(p[kClosePrice], &f->ClosePrice) && ToDouble(p[kAveragePrice], &f->AveragePrice) &&
            ToDouble(p[kAskPrice1], &f->AskPrice1) && ToInt(p[kAskVolume1], &f->AskVolume1) &&
            ToDouble(p[kBidPrice1], &f->BidPrice1) && ToInt(p[kBidVolume1], &f->BidVolume1) &&
            ToDouble(p[kUpperLimitPrice], &f->UpperLimitPrice) && ToDouble(p[kLowerLimitPrice], &f->LowerLimitPrice) &&
            ToDouble(p[kOpenInterest], &f->OpenInterest) && ToDouble(p[kTurnover], &f->Turnover) &&
            ToDouble(p[kPreClosePrice], &f->PreClosePrice) && ToDouble(p[kPreOpenInterest], &f->PreOpenInterest) &&
            ToDouble(p[kPreSettlementPrice], &f->PreSettlementPrice);
  if (!ok) return false;
  for (double* price : {&f->ClosePrice, &f->OpenPrice, &f->HighestPrice, &f->LowestPrice}) {
    if (*price == -1.0) *price = DBL_MAX;
  }
  f->SettlementPrice = DBL_MAX;
  f->CurrDelta = DBL_MAX;
  for (double* price : {&f->BidPrice2, &f->AskPrice2, &f->BidPrice3, &f->AskPrice3, &f->BidPrice4,
                        &f->AskPrice4, &f->BidPrice5, &f->AskPrice5}) {
    *price = DBL_MAX;
  }
  return true;
}

bool LoadReplay(const std::vector<std::string>& paths, std::vector<ListedContract>* contracts,
                std::vector<ReplayTick>* ticks, std::size_t* bad_lines, std::string* error) {
  namespace fs = std::filesystem;
  std::vector<fs::path> files;
  for (const std::string& path : paths) {
    std::error_code ec;
    if (fs::is_directory(path, ec)) {
      for (const auto& entry : fs::directory_iterator(path, ec)) {
        if (entry.path().extension() == ".csv") files.push_back(entry.path());
      }
    } else if (fs::is_regular_file(path, ec)) {
      files.push_back(path);
    } else {
      *error = "no such replay file or folder: " + path;
      return false;
    }
  }
  std::sort(files.begin(), files.end());
  std::map<std::string, std::size_t> index_of;
  contracts->clear();
  ticks->clear();
  *bad_lines = 0;
  for (const fs::path& file : files) {
    std::string text;
    std::string why;
    if (!ReadRegularFile(file.c_str(), kMaxReplayFileBytes, &text, &why)) {
      *error = "cannot read " + why;
      return false;
    }
    std::istringstream in(std::move(text));
    std::string line;
    while (std::getline(in, line)) {
      if (line.empty() || line == "\r") continue;
      ReplayTick tick;
      if (!ParseTickLine(line, &tick.field)) {
        ++*bad_lines;
        continue;
      }
      auto [at, added] = index_of.emplace(tick.field.InstrumentID, contracts->size());
      if (added) contracts->push_back(ContractForCode(tick.field.InstrumentID));
      tick.contract = at->second;
      std::snprintf(tick.field.ExchangeID, sizeof tick.field.ExchangeID, "%s",
                    (*contracts)[tick.contract].exchange.c_str());
      tick.at_s = RecordedSeconds(std::string_view(line).substr(0, line.find(',')), tick.field);
      ticks->push_back(tick);
    }
  }
  std::stable_sort(ticks->begin(), ticks->end(),
                   [](const ReplayTick& a, const ReplayTick& b) { return a.at_s < b.at_s; });
  if (!ticks->empty()) {
    double first = ticks->front().at_s;
    for (ReplayTick& tick : *ticks) tick.at_s -= first;
  }
  return true;
}
