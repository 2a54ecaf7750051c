#include "core/contract_code.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// The one code rule the collector's intake and the archive share.
TEST(ContractCodeTest, OnlyWholePlainExchangeCodesAreStored) {
  struct Case {
    std::string code;
    bool stored;
  } cases[] = {
      {"rb2405", true},
      {"T2406", true},
      {"SP a2405&a2409", true},  // a combination contract
      {"IO2403-C-3900", true},
      {std::string(30, 'a'), true},
      {std::string(31, 'a'), false},
      {"", false},
      {"...", false},
      {"..", false},
      {"a/b", false},
      {"a\\b", false},
      {"rb2405.csv", false},
      {"\xff\xfe", false},       // not UTF-8, nor any exchange's code
      {"\xe8\x9e\xba", false},  // UTF-8, but no exchange code is
      {"rb,2405", false},
      {"rb\r\n", false},
      {" ", false},  // a space-only code would be the file "Data/<day>/ .csv"
      {"   ", false},
      {" rb2405", false},
      {"rb2405 ", false},
      {"-rb2405", false},
      {"&", false},
      {std::string("rb\0x", 4), false},
  };
  for (const Case& c : cases) EXPECT_EQ(IsContractCode(c.code), c.stored) << c.code;
}

}  // namespace
