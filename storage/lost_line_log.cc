#include "storage/lost_line_log.h"

#include <cinttypes>
#include <string>

#include "core/errno_text.h"
#include "core/log_sink.h"
#include "storage/file_env.h"

namespace {

std::string ErrorOf(int error) { return error == kNotARegularFile ? "不是普通文件" : ErrnoText(error); }

}  // namespace

void LostLineLog::Lost(TimePoint now, const char* path, int error, const char* fallback, int fallbackError) {
  lastLoss_ = now;
  storedSinceLoss_ = false;
  if (!inBurst_) {
    inBurst_ = true;
    burstLost_ = 1;
    lastLogged_ = now;
    AppendLineF(LogTab::NetworkLog, "写入失败[%s][%s]，备用文件[%s][%s]，行情丢失", path, ErrorOf(error).c_str(),
                fallback, ErrorOf(fallbackError).c_str());
    return;
  }
  ++burstLost_;
  if (now - lastLogged_ >= kSummaryInterval) {
    lastLogged_ = now;
    AppendLineF(LogTab::NetworkLog, "[%s]写入仍失败，本次已丢失%" PRIu64 "行", kind_, burstLost_);
  }
}

void LostLineLog::Stored(TimePoint now) {
  storedSinceLoss_ = true;
  Poll(now);
}

void LostLineLog::Poll(TimePoint now) {
  if (inBurst_ && storedSinceLoss_ && now - lastLoss_ >= kSummaryInterval) EndBurst("写入恢复");
}

void LostLineLog::Flush() {
  if (inBurst_) EndBurst("写入停止");
}

void LostLineLog::EndBurst(const char* how) {
  inBurst_ = false;
  AppendLineF(LogTab::NetworkLog, "[%s]%s，本次共丢失%" PRIu64 "行", kind_, how, burstLost_);
}
