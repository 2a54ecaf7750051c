#include "platform/frontsim/truth_writer.h"

#include <cerrno>
#include <charconv>
#include <cstring>

#include "core/open_regular_file.h"

namespace {

constexpr char kHeader[] =
    "kind,sent,InstrumentID,TradingDay,ActionDay,UpdateTime,UpdateMillisec,LastPrice,Volume,Turnover,OpenInterest,"
    "UpperLimitPrice,LowerLimitPrice\n";

void AppendNumber(double value, std::string* out) {
  char text[64];
  const auto r = std::to_chars(text, text + sizeof text, value);
  out->append(text, r.ptr);
}

}  // namespace

TruthWriter::~TruthWriter() {
  if (file_ != nullptr) std::fclose(file_);
}

bool TruthWriter::Record(int tradingDay, TickKind kind, const std::string& sent, const FrontDepthMarketData& tick) {
  if (failed_) return false;
  if (tradingDay != day_) {
    if (file_ != nullptr) std::fclose(file_);
    day_ = tradingDay;
    const std::string path = dir_ + "/" + std::to_string(tradingDay) + ".csv";
    int error = 0;
    file_ = OpenRegularStream(path.c_str(), O_WRONLY | O_CREAT | O_APPEND, "a", &error);
    if (file_ == nullptr) {
      std::fprintf(stderr, "truth: %s: %s\n", path.c_str(), OpenErrorText(error).c_str());
      failed_ = true;
      return false;
    }
    std::fseek(file_, 0, SEEK_END);
    if (std::ftell(file_) == 0) std::fputs(kHeader, file_);
  }
  std::string line = TickKindName(kind);
  for (const char* text : {sent.c_str(), tick.InstrumentID, tick.TradingDay, tick.ActionDay, tick.UpdateTime}) {
    line += ',';
    line += text;
  }
  line += ',' + std::to_string(tick.UpdateMillisec) + ',';
  AppendNumber(tick.LastPrice, &line);
  line += ',' + std::to_string(tick.Volume) + ',';
  for (double value : {tick.Turnover, tick.OpenInterest, tick.UpperLimitPrice}) {
    AppendNumber(value, &line);
    line += ',';
  }
  AppendNumber(tick.LowerLimitPrice, &line);
  line += '\n';
  if (std::fputs(line.c_str(), file_) < 0) {
    std::fprintf(stderr, "truth: cannot write %d.csv: %s\n", tradingDay, std::strerror(errno));
    failed_ = true;
  }
  return !failed_;
}

void TruthWriter::Flush() {
  if (file_ != nullptr) std::fflush(file_);
}
