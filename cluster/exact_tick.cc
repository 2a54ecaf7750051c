#include "cluster/exact_tick.h"

#include <cstring>

#include "cluster/filing_day.h"

void EncodeTickBody(const JournalEntry& entry, std::string* out) {
  unsigned char record[kJournalRecordSize];
  EncodeJournalRecord(entry, record);
  out->assign(reinterpret_cast<const char*>(record), sizeof(record));
}

bool DecodeTickBody(std::string_view body, JournalEntry* out, std::string* why) {
  const std::uint32_t version = body.size() == kJournalRecordSizeV1 ? 1 : kJournalVersion;
  if (body.size() != JournalRecordSize(version)) {
    *why = "body of " + std::to_string(body.size()) + " bytes, not one tick record of " +
           std::to_string(kTickBodySize);
    return false;
  }
  if (!DecodeJournalRecord(reinterpret_cast<const unsigned char*>(body.data()), out, version)) {
    *why = "tick record with a bad checksum or an unterminated text";
    return false;
  }
  return true;
}

namespace {

std::string_view ContentOf(const char* line, std::size_t size) {
  const std::string_view text(line, size);
  const std::size_t comma = text.find(',');
  if (comma == std::string_view::npos || size < comma + 3) return {};
  return text.substr(comma + 1, size - comma - 3);  // without the stamp and CR LF
}

}  // namespace

std::string_view ExactTickLines::exchangeContent() const { return ContentOf(general, generalSize); }

TickId TickIdOfRecord(const TickRecord& tick) {
  static thread_local char line[kTickLineSize];
  const std::size_t size = BuildTickLine(tick, "00000000000000", NumberStyle::kGeneral, line);
  return TickIdOfContent(ContentOf(line, size));
}

void BuildExactTickLines(const JournalEntry& entry, ExactTickLines* out) {
  FormatWriteStampOfTime(entry.writeTimeNs, out->stamp);
  out->day = FilingDayOfStamp(out->stamp);
  out->generalSize = BuildTickLine(entry.tick, out->stamp, NumberStyle::kGeneral, out->general);
  out->fixedSize = BuildTickLine(entry.tick, out->stamp, NumberStyle::kFixed, out->fixed);
}
