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

// What a contract's last line held, by place: most of a tick's fields are the tick's before it (the
// trading and action days, the code, the day's limits and settlements, often its prices and its
// second), and their text is copied rather than checked and written again. One per contract; one
// thread.
struct ReplayLineMemory {
  static constexpr int kDoubles = 15;  // doubles of a line
  std::uint64_t bits[kDoubles] = {};
  std::uint8_t size[kDoubles] = {};   // 0: nothing kept
  char text[kDoubles][24];

  // The four text fields as the last clean record held them, and their text "TradingDay,ActionDay,
  // InstrumentID,UpdateTime" (textsSize 0: nothing kept), the time from timeAt on.
  char tradingDay[sizeof TickRecord::TradingDay];
  char actionDay[sizeof TickRecord::ActionDay];
  char instrumentID[sizeof TickRecord::InstrumentID];
  char updateTime[sizeof TickRecord::UpdateTime];
  std::uint8_t textsSize = 0;
  std::uint8_t timeAt = 0;
  char texts[sizeof tradingDay + sizeof actionDay + sizeof instrumentID + sizeof updateTime];
};

// A record with `writeStamp` last. Doubles carry two decimals as the per-contract file does,
// or the shortest text that reads back to the same double when two decimals would round it
// (92.005); integers and texts are as the collector writes them. False, with nothing appended, when
// a text field holds a comma or a control byte and would break the line.
// `memory` (may be null) is the contract's.
bool AppendExactReplayLine(const TickRecord& tick, std::string_view writeStamp, std::string* out,
                           ReplayLineMemory* memory = nullptr);

// The line of the tick a source handed out last: a store of text lines gives its fields as stored,
// a store of records the exact line. False when the tick makes no line.
bool AppendReplayLine(TickSource& source, const SourceTick& tick, std::string* out,
                      ReplayLineMemory* memory = nullptr);

// The text of one double in such a line.
void AppendReplayNumber(double value, std::string* out);

#endif
