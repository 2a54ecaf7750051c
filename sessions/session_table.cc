#include <cstdio>
#include <cstdlib>
#include <map>

#include "sessions/product_hours.h"

namespace {

// Hours as the exchanges publish them. Change a row here when an exchange changes its hours, and
// the table in docs/trading-sessions.md with it. The night auction runs 20:55-21:00, the day
// auction 08:55-09:00 (after a holiday, when there was no night), CFFEX's 09:25-09:30.
const std::vector<SessionTableRow> kRows = {
    // SHFE and INE metals to 01:00
    {"cu al zn pb ni sn ss ao bc", "20:55 21:00-01:00 | 08:55 09:00-10:15 10:30-11:30 13:30-15:00"},
    // gold, silver, crude oil to 02:30
    {"au ag sc", "20:55 21:00-02:30 | 08:55 09:00-10:15 10:30-11:30 13:30-15:00"},
    // SHFE and INE to 23:00
    {"rb hc bu ru fu sp br nr lu", "20:55 21:00-23:00 | 08:55 09:00-10:15 10:30-11:30 13:30-15:00"},
    // DCE to 23:00
    {"a b c cs eg eb i j jm l m p pg pp rr v y", "20:55 21:00-23:00 | 08:55 09:00-10:15 10:30-11:30 13:30-15:00"},
    // CZCE to 23:00
    {"CF CY FG MA OI PF PX RM SA SH SR TA ZC", "20:55 21:00-23:00 | 08:55 09:00-10:15 10:30-11:30 13:30-15:00"},
    // day session only
    {"wr bb fb jd lh AP CJ JR LR PK PM RI RS SF SM UR WH", "08:55 09:00-10:15 10:30-11:30 13:30-15:00"},
    // CFFEX stock index futures
    {"IC IF IH IM", "09:25 09:30-11:30 13:00-15:00"},
    // CFFEX treasury bond futures
    {"T TF TL TS", "09:25 09:30-11:30 13:00-15:15"},
};

std::map<std::string, ProductHours, std::less<>> BuildIndex() {
  std::map<std::string, ProductHours, std::less<>> index;
  for (const SessionTableRow& row : kRows) {
    std::string error;
    const std::optional<ProductHours> hours = ProductHours::Parse(row.hours, &error);
    if (!hours) {
      // The table is part of the program; a bad row is a build mistake the tests catch.
      std::fprintf(stderr, "session table: %s: %s\n", row.hours, error.c_str());
      std::abort();
    }
    std::string_view products = row.products;
    while (!products.empty()) {
      const std::size_t space = products.find(' ');
      const std::string_view product = products.substr(0, space);
      if (!product.empty()) index.emplace(std::string(product), *hours);
      products = space == std::string_view::npos ? std::string_view() : products.substr(space + 1);
    }
  }
  return index;
}

}  // namespace

const std::vector<SessionTableRow>& SessionTable() { return kRows; }

const ProductHours* FindProductHours(std::string_view product) {
  static const std::map<std::string, ProductHours, std::less<>> index = BuildIndex();
  const auto it = index.find(product);
  return it == index.end() ? nullptr : &it->second;
}
