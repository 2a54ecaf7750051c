#include "sessions/exchange.h"

#include <array>
#include <cstdint>
#include <vector>

#include "sessions/product_hours.h"
#include "sessions/session_clock.h"

namespace {

struct ExchangeProducts {
  Exchange exchange;
  const char* products;  // space-separated
};

const ExchangeProducts kListings[] = {
    {Exchange::kShfe, "cu al zn pb ni sn ss ao au ag rb hc bu ru fu sp br wr"},
    {Exchange::kIne, "sc nr lu bc ec"},
    {Exchange::kDce, "a b c cs eg eb i j jm l m p pg pp rr v y bb fb jd lh"},
    {Exchange::kCzce, "CF CY FG MA OI PF PX RM SA SH SR TA ZC AP CJ JR LR PK PM RI RS SF SM UR WH"},
    {Exchange::kCffex, "IC IF IH IM T TF TL TS"},
};

constexpr int kLetters = 128;

bool IsLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

// Indexed by the first two characters of a product (the second 0 for one-letter products).
using ProductIndex = std::array<std::uint8_t, kLetters * kLetters>;

ProductIndex BuildIndex() {
  ProductIndex index;
  index.fill(static_cast<std::uint8_t>(Exchange::kUnknown));
  for (const ExchangeProducts& listing : kListings) {
    std::string_view rest = listing.products;
    while (!rest.empty()) {
      const std::size_t space = rest.find(' ');
      const std::string_view product = rest.substr(0, space);
      const int second = product.size() > 1 ? product[1] : 0;
      index[product[0] * kLetters + second] = static_cast<std::uint8_t>(listing.exchange);
      rest = space == std::string_view::npos ? std::string_view() : rest.substr(space + 1);
    }
  }
  return index;
}

const ProductIndex& Index() {
  static const ProductIndex index = BuildIndex();
  return index;
}

// The hours of every product of each exchange that the session table knows.
std::vector<const ProductHours*> HoursOf(Exchange exchange) {
  std::vector<const ProductHours*> hours;
  for (const ExchangeProducts& listing : kListings) {
    if (listing.exchange != exchange) continue;
    std::string_view rest = listing.products;
    while (!rest.empty()) {
      const std::size_t space = rest.find(' ');
      if (const ProductHours* h = FindProductHours(rest.substr(0, space))) hours.push_back(h);
      rest = space == std::string_view::npos ? std::string_view() : rest.substr(space + 1);
    }
  }
  return hours;
}

constexpr int kMonday = 2;
constexpr int kFriday = 6;
constexpr int kSaturday = 7;

// Whether a session second on this calendar weekday belongs to a trading day at all.
bool TradingWeekday(int sessionSecond, int weekday) {
  if (sessionSecond >= kDaySessionSecond) return weekday >= kMonday && weekday <= kFriday;
  if (sessionSecond >= kMidnightSessionSecond) return weekday > kMonday && weekday <= kSaturday;
  return weekday >= kMonday && weekday <= kFriday;
}

}  // namespace

const char* ExchangeName(Exchange exchange) {
  static const char* const kNames[] = {"SHFE", "INE", "DCE", "CZCE", "CFFEX", "unknown"};
  return kNames[static_cast<int>(exchange)];
}

Exchange ExchangeOfProduct(std::string_view product) {
  if (product.empty() || product.size() > 2 || !IsLetter(product[0])) return Exchange::kUnknown;
  const int second = product.size() > 1 ? product[1] : 0;
  if (second != 0 && !IsLetter(static_cast<char>(second))) return Exchange::kUnknown;
  return static_cast<Exchange>(Index()[product[0] * kLetters + second]);
}

Exchange ExchangeOfCode(const char* code) {
  if (code == nullptr || !IsLetter(code[0])) return Exchange::kUnknown;
  if (!IsLetter(code[1])) return static_cast<Exchange>(Index()[code[0] * kLetters]);
  if (IsLetter(code[2])) return Exchange::kUnknown;
  return static_cast<Exchange>(Index()[code[0] * kLetters + code[1]]);
}

bool ExchangeInSession(Exchange exchange, const ClockReading& reading) {
  if (exchange == Exchange::kUnknown) return false;
  static const std::array<std::vector<const ProductHours*>, kExchangeCount> kHours = [] {
    std::array<std::vector<const ProductHours*>, kExchangeCount> all;
    for (int e = 0; e < kExchangeCount; ++e) all[e] = HoursOf(static_cast<Exchange>(e));
    return all;
  }();
  const int second = SessionSecond(reading.hour * 3600 + reading.minute * 60 + reading.second);
  if (!TradingWeekday(second, reading.weekday)) return false;
  for (const ProductHours* hours : kHours[static_cast<int>(exchange)]) {
    if (hours->Locate(second).period >= 0) return true;
  }
  return false;
}
