#ifndef QUOTELOOM_PLATFORM_FRONTSIM_REPLAY_TICK_H
#define QUOTELOOM_PLATFORM_FRONTSIM_REPLAY_TICK_H

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "platform/ctp/wire/front_message.h"
#include "platform/frontsim/listed_contract.h"

// One tick of a recorded day, to be sent again. Plain value.
struct ReplayTick {
  std::size_t contract = 0;  // index into the replay's contract list
  double at_s = 0;           // seconds after the first tick of the replay
  FrontDepthMarketData field{};
};

// One line of the collector's per-contract files (24 comma-separated fields, CR LF or LF) into a depth
// record. A stored -1 in the four prices the collector blanks becomes the largest double again, and the
// fields a line does not carry stay unset (largest double for prices, 0 for volumes). False for a line
// that is not a tick line.
bool ParseTickLine(std::string_view line, FrontDepthMarketData* field);

// Reads every path (a per-contract file, or a folder whose *.csv files are read), orders all ticks by
// the time they were recorded (the write stamp, else action day and update time), and lists the
// contracts seen. Bad lines are counted, not fatal.
bool LoadReplay(const std::vector<std::string>& paths, std::vector<ListedContract>* contracts,
                std::vector<ReplayTick>* ticks, std::size_t* bad_lines, std::string* error);

#endif
