#include "cluster/tick_id.h"

#include <cstdio>

TickId TickIdOfContent(std::string_view content) {
  using u128 = unsigned __int128;
  const u128 prime = (static_cast<u128>(0x0000000001000000ULL) << 64) | 0x000000000000013BULL;
  u128 hash = (static_cast<u128>(0x6c62272e07bb0142ULL) << 64) | 0x62b821756295c58dULL;
  for (unsigned char c : content) {
    hash ^= c;
    hash *= prime;
  }
  return TickId{static_cast<std::uint64_t>(hash >> 64), static_cast<std::uint64_t>(hash)};
}

void TickId::Text(char (&out)[33]) const {
  static const char kHex[] = "0123456789abcdef";
  for (int i = 0; i < 16; ++i) {
    out[i] = kHex[(high >> (60 - 4 * i)) & 0xF];
    out[16 + i] = kHex[(low >> (60 - 4 * i)) & 0xF];
  }
  out[32] = '\0';
}

std::string TickId::Text() const {
  char text[33];
  Text(text);
  return text;
}
