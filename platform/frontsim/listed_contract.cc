#include "platform/frontsim/listed_contract.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <sstream>

#include "core/open_regular_file.h"

#include "sessions/civil_date.h"
#include "sessions/product_hours.h"

namespace {

// A list of every listed contract is some tens of kilobytes.
constexpr std::size_t kMaxListBytes = 16 << 20;

enum class Listing {
  kCycle,        // the months of the mask within the coming twelve
  kGold,         // the three nearest months, then the even months within a year
  kCrude,        // twelve consecutive months, then quarterly months up to two years
  kBitumen,      // six consecutive months, then quarterly months up to two years
  kStockIndex,   // this month, next month and the two following quarterly months
  kBond,         // the three nearest quarterly months
};

struct ProductTerms {
  const char* code;
  const char* exchange;
  bool three_digits;
  double price;
  double tick;
  int multiplier;
  unsigned months;  // bit m-1 set when month m is listed (kCycle)
  Listing listing;
};

constexpr unsigned kAll = 0xFFF;
constexpr unsigned M(std::initializer_list<int> months) {
  unsigned mask = 0;
  for (int m : months) mask |= 1u << (m - 1);
  return mask;
}
constexpr unsigned kOdd = M({1, 3, 5, 7, 9, 11});

// The products the collector subscribes, with rough price levels of their markets.
constexpr ProductTerms kProducts[] = {
    {"sc", "INE", false, 420, 0.1, 1000, kAll, Listing::kCrude},
    {"AP", "CZCE", true, 8000, 1, 10, M({1, 3, 4, 5, 10, 11, 12}), Listing::kCycle},
    {"FG", "CZCE", true, 1700, 1, 20, kAll, Listing::kCycle},
    {"CF", "CZCE", true, 15000, 5, 5, kOdd, Listing::kCycle},
    {"JR", "CZCE", true, 3000, 1, 20, kOdd, Listing::kCycle},
    {"LR", "CZCE", true, 3000, 1, 20, kOdd, Listing::kCycle},
    {"MA", "CZCE", true, 2500, 1, 10, kAll, Listing::kCycle},
    {"OI", "CZCE", true, 9000, 1, 10, kOdd, Listing::kCycle},
    {"PM", "CZCE", true, 2500, 1, 50, kOdd, Listing::kCycle},
    {"RI", "CZCE", true, 2600, 1, 20, kOdd, Listing::kCycle},
    {"RM", "CZCE", true, 2800, 1, 10, M({1, 3, 5, 7, 8, 9, 11}), Listing::kCycle},
    {"RS", "CZCE", true, 5500, 1, 10, M({7, 8, 9, 11}), Listing::kCycle},
    {"SF", "CZCE", true, 7000, 2, 5, kAll, Listing::kCycle},
    {"SM", "CZCE", true, 6500, 2, 5, kAll, Listing::kCycle},
    {"SR", "CZCE", true, 5800, 1, 10, kOdd, Listing::kCycle},
    {"TA", "CZCE", true, 5000, 2, 5, kAll, Listing::kCycle},
    {"WH", "CZCE", true, 2700, 1, 20, kOdd, Listing::kCycle},
    {"ZC", "CZCE", true, 800, 0.2, 100, kAll, Listing::kCycle},
    {"CY", "CZCE", true, 22000, 5, 5, kAll, Listing::kCycle},
    {"CJ", "CZCE", true, 10000, 5, 5, M({1, 3, 5, 7, 9, 12}), Listing::kCycle},
    {"a", "DCE", false, 5500, 1, 10, kOdd, Listing::kCycle},
    {"b", "DCE", false, 4500, 1, 10, kAll, Listing::kCycle},
    {"bb", "DCE", false, 150, 0.05, 500, kAll, Listing::kCycle},
    {"c", "DCE", false, 2600, 1, 10, kOdd, Listing::kCycle},
    {"cs", "DCE", false, 3000, 1, 10, kOdd, Listing::kCycle},
    {"eg", "DCE", false, 5000, 1, 10, kAll, Listing::kCycle},
    {"fb", "DCE", false, 1500, 0.5, 10, kAll, Listing::kCycle},
    {"i", "DCE", false, 1100, 0.5, 100, kAll, Listing::kCycle},
    {"jd", "DCE", false, 4500, 1, 10, kAll, Listing::kCycle},
    {"jm", "DCE", false, 2000, 0.5, 60, kAll, Listing::kCycle},
    {"j", "DCE", false, 2800, 0.5, 100, kAll, Listing::kCycle},
    {"l", "DCE", false, 8000, 1, 5, kAll, Listing::kCycle},
    {"m", "DCE", false, 3500, 1, 10, M({1, 3, 5, 7, 8, 9, 11, 12}), Listing::kCycle},
    {"p", "DCE", false, 8000, 2, 10, kAll, Listing::kCycle},
    {"pp", "DCE", false, 8500, 1, 5, kAll, Listing::kCycle},
    {"v", "DCE", false, 8500, 1, 5, kAll, Listing::kCycle},
    {"y", "DCE", false, 9000, 2, 10, M({1, 3, 5, 7, 8, 9, 11, 12}), Listing::kCycle},
    {"ag", "SHFE", false, 5500, 1, 15, kAll, Listing::kCycle},
    {"al", "SHFE", false, 18000, 5, 5, kAll, Listing::kCycle},
    {"au", "SHFE", false, 380, 0.02, 1000, kAll, Listing::kGold},
    {"bu", "SHFE", false, 3000, 2, 10, kAll, Listing::kBitumen},
    {"cu", "SHFE", false, 68000, 10, 5, kAll, Listing::kCycle},
    {"fu", "SHFE", false, 2500, 1, 10, kAll, Listing::kCycle},
    {"hc", "SHFE", false, 5000, 1, 10, kAll, Listing::kCycle},
    {"ni", "SHFE", false, 130000, 10, 1, kAll, Listing::kCycle},
    {"pb", "SHFE", false, 15000, 5, 5, kAll, Listing::kCycle},
    {"rb", "SHFE", false, 5000, 1, 10, kAll, Listing::kCycle},
    {"ru", "SHFE", false, 14000, 5, 10, M({1, 3, 4, 5, 6, 7, 8, 9, 10, 11}), Listing::kCycle},
    {"sn", "SHFE", false, 160000, 10, 1, kAll, Listing::kCycle},
    {"sp", "SHFE", false, 6000, 2, 10, kAll, Listing::kCycle},
    {"wr", "SHFE", false, 5000, 1, 10, kAll, Listing::kCycle},
    {"zn", "SHFE", false, 22000, 5, 5, kAll, Listing::kCycle},
    {"IC", "CFFEX", false, 6000, 0.2, 200, 0, Listing::kStockIndex},
    {"IF", "CFFEX", false, 5000, 0.2, 300, 0, Listing::kStockIndex},
    {"IH", "CFFEX", false, 3400, 0.2, 300, 0, Listing::kStockIndex},
    {"T", "CFFEX", false, 98, 0.005, 10000, 0, Listing::kBond},
    {"TF", "CFFEX", false, 100, 0.005, 10000, 0, Listing::kBond},
    {"TS", "CFFEX", false, 100.5, 0.005, 20000, 0, Listing::kBond},
};

// Day of the month of the n-th Friday (n from 1) of a month.
int NthFriday(int year, int month, int n) {
  constexpr int kFriday = 6;
  const int weekday = WeekdayOfDate(CalendarDate(year, month, 1));
  const int first_friday = 1 + (kFriday - weekday + 7) % 7;
  return first_friday + 7 * (n - 1);
}

// Month numbers are counted from year 0 so that adding months is plain addition.
int MonthIndex(int year, int month) { return year * 12 + (month - 1); }

void AddContract(const ProductTerms& terms, int month_index, std::vector<ListedContract>* out) {
  int year = month_index / 12;
  int month = month_index % 12 + 1;
  int yymm = (year % 100) * 100 + month;
  char code[32];
  if (terms.three_digits) {
    std::snprintf(code, sizeof code, "%s%03d", terms.code, yymm % 1000);
  } else {
    std::snprintf(code, sizeof code, "%s%04d", terms.code, yymm);
  }
  ListedContract contract;
  contract.code = code;
  contract.exchange = terms.exchange;
  contract.base_price = terms.price;
  contract.tick = terms.tick;
  contract.multiplier = terms.multiplier;
  contract.average_is_price = std::strcmp(terms.exchange, "CZCE") == 0;
  out->push_back(contract);
}

void ListProduct(const ProductTerms& terms, int year, int month, int day, std::vector<ListedContract>* out) {
  int now = MonthIndex(year, month);
  auto quarterly = [](int index) { return (index % 12 + 1) % 3 == 0; };
  switch (terms.listing) {
    case Listing::kCycle:
      // The delivery month still trades in its first half.
      for (int i = day <= 14 ? now : now + 1; i < now + 12; ++i) {
        if (terms.months & (1u << (i % 12))) AddContract(terms, i, out);
      }
      break;
    case Listing::kGold: {
      int first = day <= 14 ? now : now + 1;
      for (int i = first; i < now + 12; ++i) {
        if (i < first + 3 || (i % 12 + 1) % 2 == 0) AddContract(terms, i, out);
      }
      break;
    }
    case Listing::kCrude:
    case Listing::kBitumen: {
      int first = day <= 14 ? now : now + 1;
      int consecutive = terms.listing == Listing::kCrude ? 12 : 6;
      for (int i = first; i < now + 25; ++i) {
        if (i < first + consecutive || quarterly(i)) AddContract(terms, i, out);
      }
      break;
    }
    case Listing::kStockIndex: {
      // The current month expires on its third Friday.
      int first = day <= NthFriday(year, month, 3) ? now : now + 1;
      AddContract(terms, first, out);
      AddContract(terms, first + 1, out);
      int added = 0;
      for (int i = first + 2; added < 2; ++i) {
        if (quarterly(i)) {
          AddContract(terms, i, out);
          ++added;
        }
      }
      break;
    }
    case Listing::kBond: {
      int first = day <= NthFriday(year, month, 2) ? now : now + 1;
      int added = 0;
      for (int i = first; added < 3; ++i) {
        if (quarterly(i)) {
          AddContract(terms, i, out);
          ++added;
        }
      }
      break;
    }
  }
}

const ProductTerms* FindProduct(const std::string& product) {
  for (const ProductTerms& terms : kProducts) {
    if (product == terms.code) return &terms;
  }
  return nullptr;
}

}  // namespace

std::vector<ListedContract> BuiltInListedContracts(int trading_day) {
  int year = trading_day / 10000;
  int month = trading_day / 100 % 100;
  int day = trading_day % 100;
  std::vector<ListedContract> contracts;
  for (const ProductTerms& terms : kProducts) ListProduct(terms, year, month, day, &contracts);
  return contracts;
}

ListedContract ContractForCode(const std::string& code) {
  ListedContract contract;
  contract.code = code;
  contract.exchange = "SIM";
  if (const ProductTerms* terms = FindProduct(std::string(ProductOfContract(code)))) {
    contract.exchange = terms->exchange;
    contract.base_price = terms->price;
    contract.tick = terms->tick;
    contract.multiplier = terms->multiplier;
    contract.average_is_price = std::strcmp(terms->exchange, "CZCE") == 0;
  }
  return contract;
}

bool LoadListedContracts(const std::string& path, std::vector<ListedContract>* contracts, std::string* error) {
  std::string text;
  std::string why;
  if (!ReadRegularFile(path.c_str(), kMaxListBytes, &text, &why)) {
    *error = "cannot read the contract list " + why;
    return false;
  }
  std::istringstream in(std::move(text));
  contracts->clear();
  std::string line;
  int number = 0;
  while (std::getline(in, line)) {
    ++number;
    while (!line.empty() && std::isspace(static_cast<unsigned char>(line.back()))) line.pop_back();
    std::size_t start = line.find_first_not_of(" \t");
    if (start == std::string::npos || line[start] == '#') continue;
    line.erase(0, start);
    bool bad = line.size() > 30;
    for (char c : line) bad = bad || !std::isalnum(static_cast<unsigned char>(c));
    if (bad) {
      *error = path + ":" + std::to_string(number) + ": not a contract code: " + line;
      return false;
    }
    contracts->push_back(ContractForCode(line));
  }
  return true;
}
