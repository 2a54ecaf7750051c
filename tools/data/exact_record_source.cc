#include "tools/data/exact_record_source.h"

#include <charconv>
#include <cstddef>
#include <cstring>

#include "sessions/tick_classifier.h"
#include "storage/trading_day.h"
#include "tools/data/exact_line.h"
#include "tools/data/record_fields.h"

bool ExactRecordSource::Emit(SourceTick* tick) {
  const TickRecord& t = entry_.tick;
  const char* const image = image_ != nullptr ? image_ : reinterpret_cast<const char*>(&t);
  const char* const code = image + offsetof(TickRecord, InstrumentID);
  const std::size_t codeSize = strnlen(code, sizeof t.InstrumentID);
  if (!skipped_.empty() && Skipped(code, codeSize)) return false;
  static_assert(sizeof stamp_ == kWriteStampSize);
  // Ticks are written many to a second: the stamp is made again only for a new second.
  const std::int64_t writeSecond = entry_.writeTimeNs / 1000000000 - (entry_.writeTimeNs % 1000000000 < 0);
  if (writeSecond != write_second_ || stamp_[0] == '\0') {
    FormatChinaStampOfTime(entry_.writeTimeNs, stamp_);
    write_second_ = writeSecond;
  }
  // Every field set one by one: clearing the whole struct first costs a string instruction per tick.
  tick->malformed = false;
  tick->contract = std::string_view(code, codeSize);
  tick->number = entry_.sequence;
  const char* const time = image + offsetof(TickRecord, UpdateTime);
  tick->update_time = std::string_view(time, strnlen(time, sizeof t.UpdateTime));
  tick->write_stamp = std::string_view(stamp_, kWriteStampSize - 1);
  // A stale snapshot is told by when the tick arrived, where the journal records it, not by when
  // the writer got to it.
  const std::int64_t arrivalNs = ArrivalOrWriteTimeNs(entry_);
  const std::int64_t second = arrivalNs / 1000000000 - (arrivalNs % 1000000000 < 0);
  if (second != arrival_second_) {
    char arrival[kWriteStampSize];
    FormatChinaStampOfTime(arrivalNs, arrival);
    arrival_ = TickClassifier::StampSeconds(std::string_view(arrival, kWriteStampSize - 1));
    arrival_second_ = second;
  }
  tick->arrival = arrival_;
  tick->write_time_ns = entry_.writeTimeNs;
  tick->content = std::string_view(reinterpret_cast<const char*>(&entry_.tick), sizeof entry_.tick);
  fields_made_ = false;
  return true;
}

bool ExactRecordSource::Skipped(const char* code, std::size_t size) const {
  return skipped_.count(std::string_view(code, size)) != 0;
}

const CollectedLine* ExactRecordSource::Fields() {
  if (!fields_made_) {
    fields_made_ = true;
    BuildExactCollectedLine(entry_, &line_);
    fields_ok_ = SplitCollectedLine(line_, &fields_);
  }
  return fields_ok_ ? &fields_ : nullptr;
}

// The same text BuildExactCollectedLine gives the field: numbers in their shortest exact text.
std::string_view ExactRecordSource::FieldText(CollectedField field) {
  if (fields_made_ && fields_ok_) return fields_.field[field];
  const TickRecord& t = entry_.tick;
  field_text_.clear();
  switch (field) {
    case kWriteStamp: return std::string_view(stamp_, kWriteStampSize - 1);
    case kInstrumentID: AppendFieldText(t.InstrumentID, &field_text_); return field_text_;
    case kTradingDay: AppendFieldText(t.TradingDay, &field_text_); return field_text_;
    case kActionDay: AppendFieldText(t.ActionDay, &field_text_); return field_text_;
    case kUpdateTime: AppendFieldText(t.UpdateTime, &field_text_); return field_text_;
    default: break;
  }
  char text[32];
  for (const RecordDoubleField& f : kRecordDoubleFields) {
    if (f.field != field) continue;
    const auto r = std::to_chars(text, text + sizeof text, t.*f.member);
    field_text_.assign(text, r.ptr);
  }
  for (const RecordIntField& f : kRecordIntFields) {
    if (f.field != field) continue;
    const auto r = std::to_chars(text, text + sizeof text, t.*f.member);
    field_text_.assign(text, r.ptr);
  }
  return field_text_;
}

// A comma in a text field would split the line into more than 24 fields.
bool ExactRecordSource::HasLine() {
  if (fields_made_) return fields_ok_;
  const TickRecord& t = entry_.tick;
  const auto clean = [](const char* field, std::size_t size) { return std::memchr(field, ',', strnlen(field, size)) == nullptr; };
  return clean(t.InstrumentID, sizeof t.InstrumentID) && clean(t.TradingDay, sizeof t.TradingDay) &&
         clean(t.ActionDay, sizeof t.ActionDay) && clean(t.UpdateTime, sizeof t.UpdateTime);
}
