#include "platform/frontsim/sim_client.h"

#include <sys/socket.h>

#include <cerrno>

bool SimClient::Flush() {
  while (backlog() > 0) {
    ssize_t n = ::send(fd, out.data() + out_offset, backlog(), MSG_NOSIGNAL);
    if (n > 0) {
      out_offset += static_cast<std::size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
    return false;
  }
  if (out_offset == out.size()) {
    out.clear();
    out_offset = 0;
  } else if (out_offset > 1024 * 1024) {
    out.erase(0, out_offset);
    out_offset = 0;
  }
  return true;
}
