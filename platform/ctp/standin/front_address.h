#ifndef QUOTELOOM_PLATFORM_CTP_STANDIN_FRONT_ADDRESS_H
#define QUOTELOOM_PLATFORM_CTP_STANDIN_FRONT_ADDRESS_H

#include <string>
#include <string_view>

// A front address "tcp://host:port" taken apart. Any thread.
struct FrontAddress {
  std::string host;
  unsigned short port = 0;
};

// False for anything that is not "tcp://" followed by a non-empty host, ':' and a port 1-65535.
bool ParseFrontAddress(std::string_view text, FrontAddress* address);

#endif
