#ifndef QUOTELOOM_CLUSTER_EXACT_TICK_H
#define QUOTELOOM_CLUSTER_EXACT_TICK_H

#include <cstdint>
#include <string>
#include <string_view>

#include "cluster/tick_id.h"
#include "storage/journal_format.h"
#include "storage/tick_line.h"
#include "storage/trading_day.h"

// A tick as the cluster carries it. The body of a message is the collector's journal record of the
// tick, byte for byte (docs/tick-files.md): every field exact, the write time, the arrival time, the
// collector's sequence and a CRC-32. From it come the lines a collector wrote, the id and the filing
// day. Pure functions, any thread.

// The body sent: a record of the journal version written.
inline constexpr std::size_t kTickBodySize = kJournalRecordSize;

// The record's bytes as a message body.
void EncodeTickBody(const JournalEntry& entry, std::string* out);
// False, with the reason, for a body that is not one whole record with a good checksum. A record of
// journal version 1 (from an older publisher) is read too, without an arrival time.
bool DecodeTickBody(std::string_view body, JournalEntry* out, std::string* why);

// The tick's id: over fields 2 to 24 of its time-stream line, as the collector writes it, so every
// collector of the same feed, and every line already stored, gives the same id.
TickId TickIdOfRecord(const TickRecord& tick);

// The lines of the tick as a collector writes them: general style for the time-stream file, fixed for
// the per-contract file. Each ends in CR LF.
struct ExactTickLines {
  char stamp[kWriteStampSize];
  std::string day;  // the filing day of the stamp (the collector's 18:00 rule)
  char general[kTickLineSize];
  std::size_t generalSize = 0;
  char fixed[kTickLineSize];
  std::size_t fixedSize = 0;

  std::string_view generalLine() const { return {general, generalSize}; }
  std::string_view fixedLine() const { return {fixed, fixedSize}; }
  // Fields 2 to 24 of the general line: what the id is made from.
  std::string_view exchangeContent() const;
};
void BuildExactTickLines(const JournalEntry& entry, ExactTickLines* out);

#endif
