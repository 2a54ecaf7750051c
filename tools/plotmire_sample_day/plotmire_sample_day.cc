// Writes a made-up day of ticks of one contract: plotmire-sample-day OUT_FILE [LINES] [SEED]
#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "tools/plotmire_sample_day/sample_day_writer.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: plotmire-sample-day OUT_FILE [LINES] [SEED]\n");
    return 2;
  }
  SampleDay day;
  if (argc > 2) day.lines = std::atoll(argv[2]);
  if (argc > 3) day.seed = static_cast<uint32_t>(std::strtoul(argv[3], nullptr, 10));
  std::ofstream out(argv[1], std::ios::binary | std::ios::trunc);
  if (!out) {
    std::fprintf(stderr, "plotmire-sample-day: cannot write %s\n", argv[1]);
    return 1;
  }
  WriteSampleDay(day, out);
  out.close();
  if (!out) {
    std::fprintf(stderr, "plotmire-sample-day: writing %s failed\n", argv[1]);
    return 1;
  }
  std::printf("%s: %lld lines of %s, trading day %s\n", argv[1], static_cast<long long>(day.lines),
              day.contract.c_str(), day.trading_day.c_str());
  return 0;
}
