#include "cluster/tick_subject.h"

#include "sessions/product_hours.h"

namespace {

bool NeedsEscape(unsigned char c) {
  return c <= 0x20 || c >= 0x7f || c == '.' || c == '*' || c == '>' || c == '%';
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

std::string EncodeSubjectToken(std::string_view raw) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(raw.size());
  for (unsigned char c : raw) {
    if (NeedsEscape(c)) {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 0xF];
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

std::optional<std::string> DecodeSubjectToken(std::string_view token) {
  std::string out;
  for (std::size_t i = 0; i < token.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(token[i]);
    if (c != '%') {
      if (NeedsEscape(c)) return std::nullopt;
      out += static_cast<char>(c);
      continue;
    }
    if (i + 2 >= token.size()) return std::nullopt;
    const int hi = HexValue(token[i + 1]);
    const int lo = HexValue(token[i + 2]);
    if (hi < 0 || lo < 0) return std::nullopt;
    const unsigned char decoded = static_cast<unsigned char>(hi * 16 + lo);
    if (!NeedsEscape(decoded)) return std::nullopt;  // one spelling per code
    out += static_cast<char>(decoded);
    i += 2;
  }
  if (out.empty()) return std::nullopt;
  return out;
}

std::string ProductOf(std::string_view contract) {
  const std::string_view product = ProductOfContract(contract);
  return product.empty() ? "_" : std::string(product);
}

std::string TickSubject(std::string_view prefix, std::string_view contract) {
  std::string subject(prefix);
  subject += '.';
  subject += ProductOf(contract);
  subject += '.';
  subject += EncodeSubjectToken(contract);
  return subject;
}

bool IsValidSubjectPrefix(std::string_view prefix) {
  if (prefix.empty() || prefix.front() == '.' || prefix.back() == '.') return false;
  if (prefix.find("..") != std::string_view::npos) return false;
  for (unsigned char c : prefix) {
    if (c <= 0x20 || c >= 0x7f || c == '*' || c == '>') return false;
  }
  return true;
}
