#include "platform/frontsim/replay_tick.h"

#include <algorithm>
#include <cerrno>
#include <cfloat>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>

#include "sessions/clock_time.h"
#include "sessions/tick_classifier.h"

namespace {

bool ToDouble(std::string_view text, double* value) {
  if (text.empty() || text.size() > 400) return false;
  std::string copy(text);
  char* end = nullptr;
  *value = std::strtod(copy.c_str(), &end);
  return *end == '\0';
}

bool ToInt(std::string_view text, int* value) {
  if (text.empty() || text.size() > 11) return false;
  std::string copy(text);
  char* end = nullptr;
  errno = 0;
  long parsed = std::strtol(copy.c_str(), &end, 10);
  if (*end != '\0' || errno != 0 || parsed < INT32_MIN || parsed > INT32_MAX) return false;
  *value = static_cast<int>(parsed);
  return true;
}

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
  while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.remove_suffix(1);
  std::string_view parts[24];
  std::size_t count = 0;
  std::size_t start = 0;
  for (;;) {
    std::size_t comma = line.find(',', start);
    if (count == 24) return false;
    parts[count++] = line.substr(start, comma == std::string_view::npos ? std::string_view::npos : comma - start);
    if (comma == std::string_view::npos) break;
    start = comma + 1;
  }
  if (count != 24) return false;
  std::memset(f, 0, sizeof *f);
  bool ok = ToText(parts[1], f->InstrumentID) && !parts[1].empty() && ToText(parts[1], f->ExchangeInstID) &&
            ToText(parts[2], f->TradingDay) && ToText(parts[3], f->ActionDay) &&
            ToText(parts[4], f->UpdateTime) && ToInt(parts[5], &f->UpdateMillisec) &&
            ToDouble(parts[6], &f->LastPrice) && ToInt(parts[7], &f->Volume) &&
            ToDouble(parts[8], &f->HighestPrice) && ToDouble(parts[9], &f->LowestPrice) &&
            ToDouble(parts[10], &f->OpenPrice) && ToDouble(parts[11], &f->ClosePrice) &&
            ToDouble(parts[12], &f->AveragePrice) && ToDouble(parts[13], &f->AskPrice1) &&
            ToInt(parts[14], &f->AskVolume1) && ToDouble(parts[15], &f->BidPrice1) &&
            ToInt(parts[16], &f->BidVolume1) && ToDouble(parts[17], &f->UpperLimitPrice) &&
            ToDouble(parts[18], &f->LowerLimitPrice) && ToDouble(parts[19], &f->OpenInterest) &&
            ToDouble(parts[20], &f->Turnover) && ToDouble(parts[21], &f->PreClosePrice) &&
            ToDouble(parts[22], &f->PreOpenInterest) && ToDouble(parts[23], &f->PreSettlementPrice);
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
    std::ifstream in(file, std::ios::binary);
    if (!in) {
      *error = "cannot read " + file.string();
      return false;
    }
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
