#include "tools/data/collected_line.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <charconv>
#include <cstring>

bool SplitCollectedLine(std::string_view line, CollectedLine* out) {
  // Commas are found 16 bytes at a time: fields are a few bytes long, so a search call per field
  // costs more than the fields themselves.
  const char* const base = line.data();
  const std::size_t size = line.size();
  std::size_t start = 0;
  int i = 0;
  const auto cut = [&](std::size_t comma) {
    if (i == kCollectedFieldCount - 1) return false;  // a field too many
    out->field[i++] = std::string_view(base + start, comma - start);
    start = comma + 1;
    return true;
  };
  std::size_t at = 0;
#if defined(__SSE2__)
  const __m128i commas = _mm_set1_epi8(',');
  for (; at + 16 <= size; at += 16) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(base + at));
    unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, commas)));
    while (mask != 0) {
      if (!cut(at + static_cast<std::size_t>(__builtin_ctz(mask)))) return false;
      mask &= mask - 1;
    }
  }
#endif
  for (; at < size; ++at) {
    if (base[at] == ',' && !cut(at)) return false;
  }
  if (i != kCollectedFieldCount - 1) return false;
  out->field[i] = std::string_view(base + start, size - start);
  const std::size_t contentStart = out->field[kWriteStamp].size() + 1;
  out->content = line.substr(contentStart);
  return true;
}

bool ParseWhole(std::string_view text, long long* value) {
  const auto r = std::from_chars(text.data(), text.data() + text.size(), *value);
  return r.ec == std::errc() && r.ptr == text.data() + text.size() && !text.empty();
}

bool ParseWhole(std::string_view text, double* value) {
  const auto r = std::from_chars(text.data(), text.data() + text.size(), *value);
  return r.ec == std::errc() && r.ptr == text.data() + text.size() && !text.empty();
}
