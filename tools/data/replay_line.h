#ifndef QUOTELOOM_TOOLS_DATA_REPLAY_LINE_H
#define QUOTELOOM_TOOLS_DATA_REPLAY_LINE_H

#include <cstdint>
#include <string>
#include <string_view>

#include "core/tick_record.h"
#include "tools/data/collected_line.h"
#include "tools/data/tick_source.h"

// One line of the replay service's stored tick file (docs/quoteloom-data.md, replayable): the 24
// fields in the replay service's order, ended by CR LF. Pure functions, any thread.

// The fields of a per-contract line, copied as the collector wrote them.
void AppendReplayLine(const CollectedLine& fields, std::string* out);

// The texts of the numbers of a contract's last line, by place: most of a tick's numbers are the
// tick's before it (the day's limits and settlements, often its prices), and are copied rather than
// written again. One per contract; one thread.
struct ReplayNumberMemory {
  static constexpr int kDoubles = 15;  // doubles of a line
  std::uint64_t bits[kDoubles] = {};
  std::uint8_t size[kDoubles] = {};   // 0: nothing kept
  char text[kDoubles][24];
};

// A record with `writeStamp` last. Doubles carry two decimals as the per-contract file does,
// or the shortest text that reads back to the same double when two decimals would round it
// (92.005); integers and texts are as the collector writes them. False, with nothing appended, when
// a text field holds a comma or a control byte and would break the line.
// `memory` (may be null) is the contract's.
bool AppendExactReplayLine(const TickRecord& tick, std::string_view writeStamp, std::string* out,
                           ReplayNumberMemory* memory = nullptr);

// The line of the tick a source handed out last: a store of text lines gives its fields as stored,
// a store of records the exact line. False when the tick makes no line.
bool AppendReplayLine(TickSource& source, const SourceTick& tick, std::string* out,
                      ReplayNumberMemory* memory = nullptr);

// The text of one double in such a line.
void AppendReplayNumber(double value, std::string* out);

#endif
