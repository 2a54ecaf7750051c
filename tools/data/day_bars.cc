#include "tools/data/day_bars.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstring>
#include <cstdio>
#include <map>
#include <memory>
#include <thread>

#include "sessions/clock_time.h"
#include "sessions/session_clock.h"
#include "tools/data/csv_day_source.h"
#include "tools/data/day_files.h"
#include "tools/data/day_source.h"

namespace fs = std::filesystem;

const char kBarCsvHeader[] = "contract,trading_day,start,end,open,high,low,close,volume,turnover,open_interest,ticks";

namespace {

void AppendNumber(double value, std::string* out) {
  char text[64];
  const auto r = std::to_chars(text, text + sizeof text, value);
  out->append(text, r.ptr);
}

void AppendInteger(long long value, std::string* out) {
  char text[24];
  const auto r = std::to_chars(text, text + sizeof text, value);
  out->append(text, r.ptr);
}

// True for a session tick; a stale snapshot or test data is counted in `stale` or `test` instead.
constexpr std::string_view kUnknownProduct = ": product not in the session table, no bars";

bool IsSessionTick(TickKind kind, std::uint64_t* stale, std::uint64_t* test) {
  if (kind == TickKind::kStale) ++*stale;
  if (kind == TickKind::kTest) ++*test;
  return kind == TickKind::kSession;
}

}  // namespace

std::string IsoTime(int day, int sessionSecond) {
  const int date = CalendarDateOf(day, sessionSecond);
  const int time = TimeOfDay(sessionSecond);
  char text[40];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d+08:00", date / 10000, date / 100 % 100, date % 100,
                time / 3600, time / 60 % 60, time % 60);
  return text;
}

void AppendBarLine(std::string_view contract, int day, const Bar& bar, std::string* out) {
  out->append(contract);
  out->push_back(',');
  AppendInteger(day, out);
  out->push_back(',');
  out->append(IsoTime(day, bar.begin));
  out->push_back(',');
  out->append(IsoTime(day, bar.end));
  for (double price : {bar.open, bar.high, bar.low, bar.close}) {
    out->push_back(',');
    AppendNumber(price, out);
  }
  out->push_back(',');
  AppendInteger(bar.volume, out);
  out->push_back(',');
  AppendNumber(bar.turnover, out);
  out->push_back(',');
  AppendNumber(bar.open_interest, out);
  out->push_back(',');
  AppendInteger(static_cast<long long>(bar.ticks), out);
  out->push_back('\n');
}

DayBars BuildDayBars(TickSource& source, int day, int period, int toleranceSeconds, bool classify) {
  DayBars result;
  std::map<const ProductHours*, std::unique_ptr<BarSlots>> slotsByHours;
  struct ContractBars {
    std::unique_ptr<BarBuilder> builder;  // null: no bars for this code
    std::unique_ptr<TickClassifier> classifier;
  };
  std::map<std::string, ContractBars, std::less<>> builders;
  const auto newContract = [&](std::string_view contract) {
    ContractBars bars;
    const ProductHours* hours = IsContractName(contract) ? FindProductHours(ProductOfContract(contract)) : nullptr;
    if (hours == nullptr) {
      result.warnings.push_back(std::string(contract) + std::string(kUnknownProduct));
      source.Skip(contract);
      return bars;
    }
    auto& slots = slotsByHours[hours];
    if (!slots) slots = std::make_unique<BarSlots>(*hours, period);
    bars.builder = std::make_unique<BarBuilder>(*slots);
    bars.classifier = std::make_unique<TickClassifier>(hours, day, toleranceSeconds);
    return bars;
  };
  for (const std::string& contract : source.Listed()) builders.emplace(contract, newContract(contract));
  // Stores may interleave every contract: a code of up to 15 bytes is looked for in a small cache of
  // the last code of each slot before the map is searched (by view: no string made for a known code).
  struct CodeSlot {
    std::uint64_t key[2] = {0, 0};
    ContractBars* bars = nullptr;  // map nodes stay where they are
  };
  constexpr int kCacheBits = 6;
  std::array<CodeSlot, std::size_t{1} << kCacheBits> cache;
  const auto barsOf = [&](std::string_view contract) -> ContractBars& {
    CodeSlot code;
    CodeSlot* slot = nullptr;
    if (contract.size() < sizeof code.key) {
      std::memcpy(code.key, contract.data(), contract.size());
      slot = &cache[((code.key[0] ^ (code.key[1] * 31)) * 0x9E3779B97F4A7C15ull) >> (64 - kCacheBits)];
      if (slot->bars != nullptr && slot->key[0] == code.key[0] && slot->key[1] == code.key[1]) return *slot->bars;
    }
    auto it = builders.find(contract);
    if (it == builders.end()) it = builders.emplace(std::string(contract), newContract(contract)).first;
    if (slot != nullptr) *slot = CodeSlot{{code.key[0], code.key[1]}, &it->second};
    return it->second;
  };
  SourceTick tick;
  for (;;) {
    const TickSource::Result r = source.Next(&tick);
    if (r == TickSource::Result::kError) {
      result.error = source.error();
      return result;
    }
    if (r == TickSource::Result::kEnd) break;
    ++result.lines;
    if (tick.malformed) continue;
    ContractBars& bars = barsOf(tick.contract);
    if (!bars.builder) continue;
    const TickKind kind = classify ? bars.classifier->ClassifyArrival(ParseClockTime(tick.update_time), tick.arrival)
                                   : TickKind::kSession;
    if (!IsSessionTick(kind, &result.stale, &result.test)) continue;
    const SourceValues values = source.Values(BarBuilder::kFields);
    bars.builder->Add(*values.record, values.unreadable, tick.content);
  }
  for (const std::string& error : source.FileErrors()) result.warnings.push_back(error);
  if (source.Damaged() > 0) {
    result.warnings.push_back(source.Path() + ": " + std::to_string(source.Damaged()) + " damaged records left out");
  }
  for (const auto& [contract, contractBars] : builders) {
    if (!contractBars.builder) continue;
    const std::vector<Bar> bars = contractBars.builder->Finish();
    // A file that could not be opened gave no contract.
    if (bars.empty() && !source.ContractError(contract).empty()) continue;
    for (const Bar& bar : bars) AppendBarLine(contract, day, bar, &result.csv);
    result.bars += bars.size();
    ++result.contracts;
  }
  return result;
}

namespace {

bool IsUnknownProductWarning(const std::string& warning) {
  return warning.size() >= kUnknownProduct.size() &&
         warning.compare(warning.size() - kUnknownProduct.size(), kUnknownProduct.size(), kUnknownProduct) == 0;
}

// The bars of two halves of a day's contracts, put together as one pass over them all would give
// them: the lines in name order, the counts summed, the unknown products before the files' errors.
DayBars JoinHalves(DayBars first, DayBars second) {
  DayBars day;
  day.error = !first.error.empty() ? first.error : second.error;
  day.csv = std::move(first.csv) + second.csv;
  day.contracts = first.contracts + second.contracts;
  day.bars = first.bars + second.bars;
  day.lines = first.lines + second.lines;
  day.stale = first.stale + second.stale;
  day.test = first.test + second.test;
  for (bool unknown : {true, false}) {
    for (const DayBars* half : {&first, &second}) {
      for (const std::string& warning : half->warnings) {
        if (IsUnknownProductWarning(warning) == unknown) day.warnings.push_back(warning);
      }
    }
  }
  return day;
}

}  // namespace

DayBars BuildDayBars(const fs::path& workdir, int day, int period, int toleranceSeconds, bool classify) {
  DayBars result;
  const std::unique_ptr<TickSource> source = OpenDaySource(workdir, day, &result.error);
  if (!source) return result;
  const std::vector<std::string>& listed = source->Listed();
  if (!source->StoresText() || listed.size() < 2) return BuildDayBars(*source, day, period, toleranceSeconds, classify);
  // A day of per-contract files is a file per contract: its two halves (in name order) are made on
  // two threads, each contract whole on one.
  const std::size_t half = listed.size() / 2;
  CsvDaySource first(workdir, day), second(workdir, day);
  first.OpenContracts(std::vector<std::string>(listed.begin(), listed.begin() + static_cast<std::ptrdiff_t>(half)));
  second.OpenContracts(std::vector<std::string>(listed.begin() + static_cast<std::ptrdiff_t>(half), listed.end()));
  DayBars firstBars;
  std::thread other([&] { firstBars = BuildDayBars(first, day, period, toleranceSeconds, classify); });
  DayBars secondBars = BuildDayBars(second, day, period, toleranceSeconds, classify);
  other.join();
  return JoinHalves(std::move(firstBars), std::move(secondBars));
}
