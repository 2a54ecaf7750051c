#include "tools/data/day_bars.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <charconv>
#include <cstring>
#include <cstdio>
#include <map>
#include <memory>
#include <thread>

#include "sessions/session_clock.h"
#include "storage/journal_reader.h"
#include "tools/data/day_files.h"
#include "tools/data/exact_line.h"
#include "tools/data/line_block_reader.h"

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

namespace {

// The day from its exact journal: one builder per contract, fed in the order the ticks were stored.
DayBars BuildDayBarsFromJournal(const fs::path& journal, int day, int period, int toleranceSeconds, bool classify) {
  DayBars result;
  JournalReader reader;
  if (!reader.Open(journal.string(), &result.error)) return result;
  reader.ReadAhead();
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
      result.warnings.push_back(std::string(contract) + ": product not in the session table, no bars");
      return bars;
    }
    auto& slots = slotsByHours[hours];
    if (!slots) slots = std::make_unique<BarSlots>(*hours, period);
    bars.builder = std::make_unique<BarBuilder>(*slots);
    bars.classifier = std::make_unique<TickClassifier>(hours, day, toleranceSeconds);
    return bars;
  };
  // A journal interleaves every contract: a code of up to 15 bytes is looked for in a small cache of
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
  JournalEntry entry;
  for (;;) {
    const JournalReader::Result r = reader.Next(&entry, &result.error);
    if (r == JournalReader::Result::kError) return result;
    if (r == JournalReader::Result::kEnd) break;
    ++result.lines;
    ContractBars& bars = barsOf(std::string_view(entry.tick.InstrumentID,
                                                 strnlen(entry.tick.InstrumentID, sizeof entry.tick.InstrumentID)));
    if (!bars.builder) continue;
    // The exact values go to the builder as they are.
    const std::string_view updateTime(entry.tick.UpdateTime, strnlen(entry.tick.UpdateTime, sizeof entry.tick.UpdateTime));
    const TickKind kind = classify ? bars.classifier->ClassifyArrival(ParseClockTime(updateTime),
                                                                      LocalStampSeconds(ArrivalOrWriteTimeNs(entry)))
                                   : TickKind::kSession;
    if (IsSessionTick(kind, &result.stale, &result.test)) bars.builder->Add(entry.tick);
  }
  if (reader.badRecords() > 0) {
    result.warnings.push_back(journal.string() + ": " + std::to_string(reader.badRecords()) +
                              " damaged records left out");
  }
  for (const auto& [contract, contractBars] : builders) {
    if (!contractBars.builder) continue;
    const std::vector<Bar> bars = contractBars.builder->Finish();
    for (const Bar& bar : bars) AppendBarLine(contract, day, bar, &result.csv);
    result.bars += bars.size();
    ++result.contracts;
  }
  return result;
}

}  // namespace

DayBars BuildDayBars(const fs::path& workdir, int day, int period, int toleranceSeconds, bool classify) {
  const fs::path journal = DayJournal(workdir, day);
  std::error_code ec;
  if (fs::exists(fs::symlink_status(journal, ec))) return BuildDayBarsFromJournal(journal, day, period, toleranceSeconds, classify);
  DayBars result;
  std::vector<std::string> contracts;
  if (!ListContracts(workdir, day, &contracts, &result.error)) return result;
  // Contracts are independent: workers take them in turn, each file read by one of them, and the
  // results are put together in the contracts' order.
  struct ContractPart {
    std::string contract;
    const BarSlots* slots = nullptr;  // null: no bars for this code
    std::unique_ptr<TickClassifier> classifier;
    std::string csv;
    std::uint64_t lines = 0, bars = 0, stale = 0, test = 0;
    std::string warning;
    bool read = false;  // its file opened
  };
  std::map<const ProductHours*, std::unique_ptr<BarSlots>> slotsByHours;
  std::vector<ContractPart> parts(contracts.size());
  for (std::size_t i = 0; i < contracts.size(); ++i) {
    ContractPart& part = parts[i];
    part.contract = contracts[i];
    const ProductHours* hours = FindProductHours(ProductOfContract(part.contract));
    if (hours == nullptr) {
      part.warning = part.contract + ": product not in the session table, no bars";
      continue;
    }
    auto& slots = slotsByHours[hours];
    if (!slots) slots = std::make_unique<BarSlots>(*hours, period);
    part.slots = slots.get();
    part.classifier = std::make_unique<TickClassifier>(hours, day, toleranceSeconds);
  }
  const auto build = [&](ContractPart& part) {
    LineBlockReader reader;
    if (!reader.Open((DayFolder(workdir, day) / (part.contract + ".csv")).string())) {
      part.warning = reader.error();
      return;
    }
    part.read = true;
    BarBuilder builder(*part.slots);
    CollectedLine fields;
    std::string_view line;
    while (reader.Next(&line)) {
      ++part.lines;
      if (!SplitCollectedLine(line, &fields)) continue;
      const TickKind kind = classify ? part.classifier->Classify(fields.field[kUpdateTime], fields.field[kWriteStamp])
                                     : TickKind::kSession;
      if (IsSessionTick(kind, &part.stale, &part.test)) builder.Add(fields);
    }
    if (!reader.error().empty()) part.warning = part.contract + ".csv: " + reader.error();
    const std::vector<Bar> bars = builder.Finish();
    for (const Bar& bar : bars) AppendBarLine(part.contract, day, bar, &part.csv);
    part.bars = bars.size();
  };
  std::atomic<std::size_t> next{0};
  const auto work = [&] {
    for (std::size_t i; (i = next.fetch_add(1, std::memory_order_relaxed)) < parts.size();) {
      if (parts[i].slots != nullptr) build(parts[i]);
    }
  };
  const std::size_t workers = std::min<std::size_t>(parts.size(), std::clamp(std::thread::hardware_concurrency(), 1u, 4u));
  std::vector<std::thread> threads;
  for (std::size_t w = 1; w < workers; ++w) threads.emplace_back(work);
  work();
  for (std::thread& thread : threads) thread.join();
  for (const ContractPart& part : parts) {
    if (!part.warning.empty()) result.warnings.push_back(part.warning);
    result.lines += part.lines;
    if (!part.read) continue;
    result.csv += part.csv;
    result.bars += part.bars;
    result.stale += part.stale;
    result.test += part.test;
    ++result.contracts;
  }
  return result;
}
