#include "tools/data/day_bars.h"

#include <charconv>
#include <cstring>
#include <cstdio>
#include <map>
#include <memory>

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

}  // namespace

std::string IsoTime(int day, int sessionSecond) {
  const int date = CalendarDateOf(day, sessionSecond);
  const int time = TimeOfDay(sessionSecond);
  char text[40];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d+08:00", date / 10000, date / 100 % 100, date % 100,
                time / 3600, time / 60 % 60, time % 60);
  return text;
}

void AppendBarLine(const std::string& contract, int day, const Bar& bar, std::string* out) {
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
  std::map<const ProductHours*, std::unique_ptr<BarSlots>> slotsByHours;
  struct ContractBars {
    std::unique_ptr<BarBuilder> builder;  // null: no bars for this code
    std::unique_ptr<TickClassifier> classifier;
  };
  std::map<std::string, ContractBars, std::less<>> builders;
  JournalEntry entry;
  std::string stamp;
  for (;;) {
    const JournalReader::Result r = reader.Next(&entry, &result.error);
    if (r == JournalReader::Result::kError) return result;
    if (r == JournalReader::Result::kEnd) break;
    ++result.lines;
    const std::string_view contract(entry.tick.InstrumentID,
                                    strnlen(entry.tick.InstrumentID, sizeof entry.tick.InstrumentID));
    // Looked up by view: no string is made for a contract already known.
    auto it = builders.find(contract);
    const bool fresh = it == builders.end();
    if (fresh) it = builders.emplace(std::string(contract), ContractBars{}).first;
    if (fresh) {
      const ProductHours* hours = IsContractName(contract) ? FindProductHours(ProductOfContract(contract)) : nullptr;
      if (hours == nullptr) {
        result.warnings.push_back(std::string(contract) + ": product not in the session table, no bars");
        continue;
      }
      auto& slots = slotsByHours[hours];
      if (!slots) slots = std::make_unique<BarSlots>(*hours, period);
      it->second.builder = std::make_unique<BarBuilder>(*slots);
      it->second.classifier = std::make_unique<TickClassifier>(hours, day, toleranceSeconds);
    }
    ContractBars& bars = it->second;
    if (!bars.builder) continue;
    // The exact values go to the builder as they are; only the two times the classifier reads are text.
    stamp.clear();
    AppendLocalStamp(entry.writeTimeNs, &stamp);
    const std::string_view updateTime(entry.tick.UpdateTime, strnlen(entry.tick.UpdateTime, sizeof entry.tick.UpdateTime));
    switch (classify ? bars.classifier->Classify(updateTime, stamp) : TickKind::kSession) {
      case TickKind::kSession:
        bars.builder->Add(entry.tick);
        break;
      case TickKind::kStale:
        ++result.stale;
        break;
      case TickKind::kTest:
        ++result.test;
        break;
    }
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
  std::map<const ProductHours*, std::unique_ptr<BarSlots>> slotsByHours;
  CollectedLine fields;
  for (const std::string& contract : contracts) {
    const ProductHours* hours = FindProductHours(ProductOfContract(contract));
    if (hours == nullptr) {
      result.warnings.push_back(contract + ": product not in the session table, no bars");
      continue;
    }
    auto& slots = slotsByHours[hours];
    if (!slots) slots = std::make_unique<BarSlots>(*hours, period);
    LineBlockReader reader;
    if (!reader.Open((DayFolder(workdir, day) / (contract + ".csv")).string())) {
      result.warnings.push_back(reader.error());
      continue;
    }
    BarBuilder builder(*slots);
    const TickClassifier classifier(hours, day, toleranceSeconds);
    std::string_view line;
    while (reader.Next(&line)) {
      ++result.lines;
      if (!SplitCollectedLine(line, &fields)) continue;
      switch (classify ? classifier.Classify(fields.field[kUpdateTime], fields.field[kWriteStamp]) : TickKind::kSession) {
        case TickKind::kSession:
          builder.Add(fields);
          break;
        case TickKind::kStale:
          ++result.stale;
          break;
        case TickKind::kTest:
          ++result.test;
          break;
      }
    }
    if (!reader.error().empty()) result.warnings.push_back(contract + ".csv: " + reader.error());
    const std::vector<Bar> bars = builder.Finish();
    for (const Bar& bar : bars) AppendBarLine(contract, day, bar, &result.csv);
    result.bars += bars.size();
    ++result.contracts;
  }
  return result;
}
