// journal_from_day: writes Journal/<day>.qtj of a working folder from the day's per-contract files,
// so a generated bench day has the journal a collector would have kept beside them (values as the
// files hold them, write times from the write stamps). For benchmarks only.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "storage/journal_writer.h"
#include "tools/data/collected_line.h"
#include "tools/data/record_fields.h"

namespace fs = std::filesystem;

namespace {

double Number(std::string_view text) {
  double v = 0;
  return ParseWhole(text, &v) ? v : 0;
}

void Text(char* out, std::size_t size, std::string_view text) {
  const std::size_t n = std::min(size - 1, text.size());
  std::memcpy(out, text.data(), n);
  out[n] = '\0';
}

std::int64_t StampNs(std::string_view stamp) {
  std::tm t{};
  std::sscanf(std::string(stamp).c_str(), "%4d%2d%2d%2d%2d%2d", &t.tm_year, &t.tm_mon, &t.tm_mday, &t.tm_hour,
              &t.tm_min, &t.tm_sec);
  t.tm_year -= 1900;
  t.tm_mon -= 1;
  // The stamps are China time (+08:00 since 1991), as the data tools read them.
  return (static_cast<std::int64_t>(timegm(&t)) - 8 * 3600) * 1000000000;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: journal_from_day WORKDIR DAY\n");
    return 2;
  }
  const fs::path workdir = argv[1];
  const std::string day = argv[2];
  std::vector<fs::path> files;
  for (const auto& entry : fs::directory_iterator(workdir / "Data" / day)) {
    if (entry.is_regular_file() && entry.path().extension() == ".csv") files.push_back(entry.path());
  }
  std::sort(files.begin(), files.end());
  // A collector journals ticks as they arrive, contracts interleaved: the lines of every file are
  // written in the order of their write stamps (a file's own order kept within a second).
  std::vector<std::string> texts;
  struct Line {
    std::string_view stamp;
    std::size_t file;
    std::string_view text;
  };
  std::vector<Line> lines;
  for (const fs::path& file : files) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    texts.push_back(text.str());
  }
  for (std::size_t f = 0; f < texts.size(); ++f) {
    std::string_view rest = texts[f];
    while (!rest.empty()) {
      const std::size_t end = rest.find('\n');
      std::string_view line = rest.substr(0, end);
      rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
      if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
      lines.push_back({line.substr(0, line.find(',')), f, line});
    }
  }
  std::stable_sort(lines.begin(), lines.end(), [](const Line& a, const Line& b) { return a.stamp < b.stamp; });
  JournalWriter writer(JournalSync::kNone, workdir.string());
  long records = 0;
  for (const Line& line : lines) {
    CollectedLine f;
    if (!SplitCollectedLine(line.text, &f)) continue;
    TickRecord t;
    ClearTickRecord(&t);
    Text(t.InstrumentID, sizeof(t.InstrumentID), f.field[kInstrumentID]);
    Text(t.TradingDay, sizeof(t.TradingDay), f.field[kTradingDay]);
    Text(t.ActionDay, sizeof(t.ActionDay), f.field[kActionDay]);
    Text(t.UpdateTime, sizeof(t.UpdateTime), f.field[kUpdateTime]);
    for (const auto& [field, member] : kRecordDoubleFields) t.*member = Number(f.field[field]);
    for (const auto& [field, member] : kRecordIntFields) t.*member = static_cast<int>(Number(f.field[field]));
    t.Filled = 1;
    if (writer.Append(day.c_str(), t, StampNs(f.field[kWriteStamp]), std::chrono::steady_clock::now())) ++records;
  }
  std::printf("journal_from_day: %ld records into %s/Journal/%s.qtj\n", records, workdir.c_str(), day.c_str());
  return records > 0 ? 0 : 1;
}
