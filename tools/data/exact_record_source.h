#ifndef QUOTELOOM_TOOLS_DATA_EXACT_RECORD_SOURCE_H
#define QUOTELOOM_TOOLS_DATA_EXACT_RECORD_SOURCE_H

#include <functional>
#include <set>
#include <string>
#include <string_view>

#include "storage/journal_format.h"
#include "tools/data/tick_source.h"

// What every store of exact journal records (a journal, a packed day) shares: the record last read
// handed out as a tick, its values and its line. A store reads records into entry_ and calls Emit.
// One thread.
class ExactRecordSource : public TickSource {
 public:
  SourceValues Values(std::uint32_t) override { return {&entry_.tick, 0}; }
  const CollectedLine* Fields() override;
  std::string_view FieldText(CollectedField field) override;
  bool HasLine() override;
  bool StoresText() const override { return false; }
  bool KeepsWholeRecords() const override { return true; }
  void Skip(std::string_view contract) override { skipped_.emplace(contract); }

 protected:
  // Fills `tick` from entry_; false (nothing handed out) when its contract is skipped.
  bool Emit(SourceTick* tick);

  JournalEntry entry_;
  // The tick's fields as the store holds them in TickRecord's layout (a journal record), read for
  // the tick's texts in place of entry_.tick, whose bytes were just copied; null: entry_.tick.
  const char* image_ = nullptr;
  std::set<std::string, std::less<>> skipped_;

 private:
  // Out of line, so the code's view stays in registers on the way of every tick.
  bool Skipped(const char* code, std::size_t size) const;

  char stamp_[15] = "";  // yyyymmddHHMMSS (storage/trading_day.h)
  std::int64_t write_second_ = 0;  // of stamp_
  // The arrival second last read and its reading as the classifier takes it: ticks arrive many to
  // a second.
  std::int64_t arrival_second_ = -1;
  std::int64_t arrival_ = -1;
  bool fields_made_ = false;
  bool fields_ok_ = false;
  std::string line_;
  std::string field_text_;
  CollectedLine fields_;
};

#endif
