#include "core/errno_text.h"

#include <cstring>

std::string ErrnoText(int error) {
  char buffer[256];
  // The GNU strerror_r may return a static text instead of filling the buffer.
  return strerror_r(error, buffer, sizeof(buffer));
}
