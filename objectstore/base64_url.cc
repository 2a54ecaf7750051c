#include "objectstore/base64_url.h"

#include <cstdint>

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";

int ValueOf(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '-') return 62;
  if (c == '_') return 63;
  return -1;
}

}  // namespace

std::string EncodeBase64Url(std::string_view bytes, bool pad) {
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  std::size_t i = 0;
  for (; i + 3 <= bytes.size(); i += 3) {
    const std::uint32_t v = static_cast<std::uint8_t>(bytes[i]) << 16 | static_cast<std::uint8_t>(bytes[i + 1]) << 8 |
                            static_cast<std::uint8_t>(bytes[i + 2]);
    out += kAlphabet[v >> 18];
    out += kAlphabet[(v >> 12) & 63];
    out += kAlphabet[(v >> 6) & 63];
    out += kAlphabet[v & 63];
  }
  const std::size_t rest = bytes.size() - i;
  if (rest == 0) return out;
  std::uint32_t v = static_cast<std::uint8_t>(bytes[i]) << 16;
  if (rest == 2) v |= static_cast<std::uint8_t>(bytes[i + 1]) << 8;
  out += kAlphabet[v >> 18];
  out += kAlphabet[(v >> 12) & 63];
  if (rest == 2) out += kAlphabet[(v >> 6) & 63];
  if (pad) out.append(3 - rest, '=');
  return out;
}

bool DecodeBase64Url(std::string_view text, std::string* bytes) {
  if (text.size() % 4 == 0 && !text.empty()) {
    std::size_t padding = 0;
    while (padding < 2 && text[text.size() - 1 - padding] == '=') ++padding;
    text.remove_suffix(padding);
  }
  if (text.size() % 4 == 1) return false;
  bytes->clear();
  std::uint32_t bits = 0;
  int held = 0;
  for (const char c : text) {
    const int v = ValueOf(c);
    if (v < 0) return false;
    bits = bits << 6 | static_cast<std::uint32_t>(v);
    held += 6;
    if (held >= 8) {
      held -= 8;
      bytes->push_back(static_cast<char>((bits >> held) & 0xFF));
    }
  }
  // The unused low bits of the last character must be zero, so each byte string has one spelling.
  return (bits & ((1u << held) - 1)) == 0;
}
