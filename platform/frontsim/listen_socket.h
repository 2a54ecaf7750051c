#ifndef QUOTELOOM_PLATFORM_FRONTSIM_LISTEN_SOCKET_H
#define QUOTELOOM_PLATFORM_FRONTSIM_LISTEN_SOCKET_H

#include <string>

// A non-blocking listening TCP socket on host:port (port 0: any free one). Returns the descriptor and
// the port actually bound, or -1 with a message. Any thread.
int ListenTcp(const std::string& host, unsigned short port, unsigned short* bound_port, std::string* error);

#endif
