#ifndef QUOTELOOM_CLUSTER_STORED_TICK_LINE_H
#define QUOTELOOM_CLUSTER_STORED_TICK_LINE_H

#include <array>
#include <cstddef>
#include <string>
#include <string_view>

#include "storage/tick_line.h"

// One stored tick line of a time-stream file (24 fields, general number style, CR LF), checked
// field by field. Views into the caller's text, which must outlive the object. Pure, any thread.
struct StoredTickLine {
  static constexpr std::size_t kFieldCount = kTickLineFieldCount;
  static constexpr std::size_t kMaxLineSize = 4096;   // far above the longest general-style line
  static constexpr std::size_t kMaxContractSize = 30;  // the record's code buffer less its terminator

  std::string_view text;  // the whole line, CR LF included
  std::array<std::string_view, kFieldCount> fields;

  std::string_view writeStamp() const { return fields[tick_field::kWriteStamp]; }
  std::string_view contract() const { return fields[tick_field::kInstrumentID]; }
  // Fields 2 to 24: everything the exchange sent, without the collector's write stamp or CR LF.
  std::string_view exchangeContent() const;
};

// Fills `out` when `text` is exactly one well-formed tick line ending in CR LF; false otherwise, with
// the first fault in `why` when it is given.
bool ParseStoredTickLine(std::string_view text, StoredTickLine* out, std::string* why = nullptr);

// The same tick as the per-contract file holds it: doubles in fixed style "%.2f". The general-style
// "1.79769e+308" (the vendor's not-set marker) becomes the largest double again.
std::string FixedStyleLine(const StoredTickLine& line);

#endif
