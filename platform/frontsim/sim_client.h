#ifndef QUOTELOOM_PLATFORM_FRONTSIM_SIM_CLIENT_H
#define QUOTELOOM_PLATFORM_FRONTSIM_SIM_CLIENT_H

#include <cstddef>
#include <string>
#include <unordered_set>

#include "platform/ctp/wire/frame_decoder.h"

// One connection to the simulator and what it has asked for; owned by the simulator's loop thread.
struct SimClient {
  int fd = -1;
  FrameDecoder decoder;
  std::string out;              // frames not yet taken by the socket, from out_offset on
  std::size_t out_offset = 0;
  bool logged_in = false;
  bool closing = false;         // sends what it holds, then closes
  bool dead = false;            // closed at the end of the loop's turn
  std::unordered_set<std::size_t> subscribed;  // indices of listed contracts

  std::size_t backlog() const { return out.size() - out_offset; }
  // Hands as much as the socket takes; false when the socket failed.
  bool Flush();
};

#endif
