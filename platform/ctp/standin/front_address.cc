#include "platform/ctp/standin/front_address.h"

bool ParseFrontAddress(std::string_view text, FrontAddress* address) {
  constexpr std::string_view kScheme = "tcp://";
  if (text.substr(0, kScheme.size()) != kScheme) return false;
  text.remove_prefix(kScheme.size());
  std::size_t colon = text.rfind(':');
  if (colon == std::string_view::npos || colon == 0 || colon + 1 == text.size()) return false;
  std::string_view host = text.substr(0, colon);
  std::string_view port = text.substr(colon + 1);
  // A bracketed IPv6 literal keeps its brackets out of the host name.
  if (host.front() == '[' && host.back() == ']' && host.size() > 2) host = host.substr(1, host.size() - 2);
  unsigned long value = 0;
  for (char c : port) {
    if (c < '0' || c > '9' || value > 65535) return false;
    value = value * 10 + static_cast<unsigned long>(c - '0');
  }
  if (value == 0 || value > 65535) return false;
  address->host = std::string(host);
  address->port = static_cast<unsigned short>(value);
  return true;
}
