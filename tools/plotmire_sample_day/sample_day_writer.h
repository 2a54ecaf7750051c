#ifndef QUOTELOOM_TOOLS_PLOTMIRE_SAMPLE_DAY_SAMPLE_DAY_WRITER_H
#define QUOTELOOM_TOOLS_PLOTMIRE_SAMPLE_DAY_SAMPLE_DAY_WRITER_H

#include <cstdint>
#include <ostream>
#include <string>

// A made-up trading day of one contract for trying the chart program without a market-data
// front: a random walk over the night session (21:00-23:00) and the day sessions, with the
// opening auctions, in the fixed style of the per-contract tick files.
struct SampleDay {
  std::string contract = "rb2405";
  std::string trading_day = "20240301";
  std::string eve_day = "20240229";  // calendar date of the night session
  int64_t lines = 40000;             // tick lines written, auctions included
  uint32_t seed = 1;
  double pre_settlement = 3722;
  int contract_size = 10;  // the average price is written times this, as the exchange sends it
};

// Writes the lines, each ending in CR LF.
void WriteSampleDay(const SampleDay& day, std::ostream& out);

#endif
