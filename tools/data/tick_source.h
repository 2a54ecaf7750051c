#ifndef QUOTELOOM_TOOLS_DATA_TICK_SOURCE_H
#define QUOTELOOM_TOOLS_DATA_TICK_SOURCE_H

#include <ctime>

#include <cstdint>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

#include "core/tick_record.h"
#include "tools/data/collected_line.h"

// The ticks of one trading day from one store, in stored order, decoded: what audit, bars, export
// and replayable read, whatever the store (a journal, the per-contract files, a packed day). Each
// store is one class behind this interface. One thread.

// One tick as Next hands it out. Views stay valid until the next call of Next.
struct SourceTick {
  static constexpr std::int64_t kNoWriteTime = std::numeric_limits<std::int64_t>::min();

  std::string_view contract;   // the code the store files it under
  std::uint64_t number = 0;    // 1-based line of its contract's file, or sequence number in a journal
  bool malformed = false;      // stored but not a tick (a line without 24 fields): only the above hold
  std::string_view update_time;                // the exchange's "HH:MM:SS" as stored
  std::string_view content;    // its stored bytes apart from the arrival: the same for a tick sent again
  std::string_view write_stamp;                // yyyymmddHHMMSS of its arrival on China time
  std::int64_t arrival = -1;                   // the same as TickClassifier::StampSeconds reads it
  std::int64_t write_time_ns = kNoWriteTime;   // Unix time of its arrival, when the store keeps it
};

// The tick's values: the exact record where the store keeps one, else read from its text.
struct SourceValues {
  const TickRecord* record = nullptr;
  // Bits (1 << CollectedField) of numbers the store holds as text that reads as no number.
  std::uint32_t unreadable = 0;
};

class TickSource {
 public:
  enum class Result { kTick, kEnd, kError };

  virtual ~TickSource() = default;

  // The next tick; kEnd after the last; kError when the day cannot be read on (error() says why).
  virtual Result Next(SourceTick* tick) = 0;
  // The values and the 24 stored fields of the tick last handed out, made on first use. A store of
  // text reads only the numbers in `fields` (bits 1 << CollectedField; the rest stay 0). Fields()
  // is null when the tick has no such line (malformed, or a text field with a comma in a record).
  static constexpr std::uint32_t kAllFields = ~0u;
  virtual SourceValues Values(std::uint32_t fields = kAllFields) = 0;
  virtual const CollectedLine* Fields() = 0;
  // Whether Fields() would give a line, told without making it.
  virtual bool HasLine() = 0;
  // The text of one field of the tick's line as Fields() gives it, made alone (for a tick that
  // is not malformed). Valid until the next call.
  virtual std::string_view FieldText(CollectedField field) = 0;
  // True when Fields() are text as stored (copied byte for byte); false when built from exact values.
  virtual bool StoresText() const = 0;
  // True when the store keeps whole records (every field of the exchange's tick).
  virtual bool KeepsWholeRecords() const = 0;

  // Contracts the store lists before it is read (files of a folder, a packed day's index), in name
  // order, so a contract without ticks still shows; empty when they are known only as read.
  virtual const std::vector<std::string>& Listed() const = 0;
  // Leaves `contract`'s ticks out of the pass (its work is up to date); a store that keeps each
  // contract apart does not read them at all.
  virtual void Skip(std::string_view contract) = 0;

  // When `contract`'s store was last changed, as of opening (false when it cannot be told).
  virtual bool Modified(std::string_view contract, timespec* when) const = 0;
  // After the pass: whether `contract`'s store was read whole, with nothing half written at its end
  // and unchanged while it was read.
  virtual bool Settled(std::string_view contract) const = 0;
  // Why `contract`'s ticks could not all be read; empty when they could.
  virtual std::string ContractError(std::string_view contract) const = 0;

  // Problems with single files that did not end the day, in the order met.
  virtual const std::vector<std::string>& FileErrors() const = 0;
  // Records skipped because their checksum failed.
  virtual std::uint64_t Damaged() const = 0;
  // The file or folder that holds the day, for messages.
  virtual const std::string& Path() const = 0;
  virtual const std::string& error() const = 0;
};

#endif
