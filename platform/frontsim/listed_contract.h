#ifndef QUOTELOOM_PLATFORM_FRONTSIM_LISTED_CONTRACT_H
#define QUOTELOOM_PLATFORM_FRONTSIM_LISTED_CONTRACT_H

#include <string>
#include <vector>

// One contract that trades on the simulated front, with what its price walk needs. Plain value.
struct ListedContract {
  std::string code;
  std::string exchange;
  double base_price = 1000;
  double tick = 1;
  int multiplier = 10;
  bool average_is_price = false;  // the exchange quotes the average as a price, not price times multiplier
};

// The realistic list for a trading day yyyymmdd: every product the collector generates, with the months
// its exchange actually lists around that day, in the digit form the collector uses.
std::vector<ListedContract> BuiltInListedContracts(int trading_day);

// One code a line (blank lines and lines starting with '#' skipped); the product part of each code picks
// the price parameters. False with a message when the file cannot be read or holds a bad code.
bool LoadListedContracts(const std::string& path, std::vector<ListedContract>* contracts, std::string* error);

// Price parameters for a code outside any list (replayed files): those of its product, or defaults.
ListedContract ContractForCode(const std::string& code);

#endif
