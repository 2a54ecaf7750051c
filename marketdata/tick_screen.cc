#include "marketdata/tick_screen.h"

#include <cstdio>
#include <cstring>

#include "core/contract_code.h"
#include "core/log_sink.h"

namespace {

// The code as the release's InstrumentID holds it (the wide field from 6.5.1 on).
std::string_view CodeOf(const CThostFtdcDepthMarketDataField& data) {
  return {data.InstrumentID, strnlen(data.InstrumentID, sizeof(data.InstrumentID))};
}

// A field filled to its last byte carries a code it could not hold whole.
bool CodeCut(const CThostFtdcDepthMarketDataField& data) {
  return CodeOf(data).size() == sizeof(data.InstrumentID);
}

template <std::size_t N>
bool BreaksTheLine(const char (&text)[N]) {
  for (std::size_t i = 0; i < N && text[i] != '\0'; ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c == ',' || c < 0x20 || c == 0x7F) return true;
  }
  return false;
}

// The code for a log line: printable ASCII as it is, every other byte as \xNN.
std::string Printable(std::string_view code) {
  std::string out;
  for (char c : code) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x20 && byte < 0x7F && c != '\\') {
      out += c;
    } else {
      char escaped[8];
      std::snprintf(escaped, sizeof(escaped), "\\x%02X", byte);
      out += escaped;
    }
  }
  return out;
}

}  // namespace

void TickScreen::LoggedIn() {
  loggedIn_ = true;
  subscribed_.clear();
}

void TickScreen::Subscribed(std::string_view code) { subscribed_.emplace(code); }

void TickScreen::LoggedOut() {
  loggedIn_ = false;
  subscribed_.clear();
}

TickScreen::Verdict TickScreen::Check(const CThostFtdcDepthMarketDataField& data) const {
  const std::string_view code = CodeOf(data);
  if (code.empty()) return Verdict::kEmptyCode;
  if (code.size() > kMaxCodeLength || CodeCut(data)) return Verdict::kCodeTooLong;
  for (char c : code) {
    if (!IsContractCodeCharacter(c)) return Verdict::kCodeCharacters;
  }
  if (BreaksTheLine(data.TradingDay) || BreaksTheLine(data.ActionDay) || BreaksTheLine(data.UpdateTime)) {
    return Verdict::kTextField;
  }
  if (!loggedIn_) return Verdict::kNotLoggedIn;
  if (subscribed_.find(code) == subscribed_.end()) return Verdict::kNotSubscribed;
  return Verdict::kAccept;
}

void TickScreen::Refuse(const CThostFtdcDepthMarketDataField& data, Verdict verdict) {
  refused_.fetch_add(1, std::memory_order_relaxed);
  refusedBy_[static_cast<int>(verdict)].fetch_add(1, std::memory_order_relaxed);
  if (loggingStopped_) return;
  const std::string_view code = CodeOf(data);
  if (logged_.find(code) != logged_.end()) return;
  if (logged_.size() >= kMaxLoggedCodes) {
    loggingStopped_ = true;
    AppendLineF(LogTab::CtpLog, "拒收行情的合约超过%zu个，以后只计数不再记录", kMaxLoggedCodes);
    return;
  }
  logged_.emplace(code);
  AppendLineF(LogTab::CtpLog, "拒收行情[%s]：%s", Printable(code).c_str(), Reason(verdict));
}

const char* TickScreen::Label(Verdict verdict) {
  static const char* const kLabels[kVerdicts] = {"accepted",      "empty_code",    "code_too_long", "code_characters",
                                                 "text_field",    "not_logged_in", "not_subscribed"};
  return kLabels[static_cast<int>(verdict)];
}

const char* TickScreen::Reason(Verdict verdict) {
  switch (verdict) {
    case Verdict::kAccept:
      return "";
    case Verdict::kEmptyCode:
      return "合约代码为空";
    case Verdict::kCodeTooLong:
      return "合约代码超过30个字符";
    case Verdict::kCodeCharacters:
      return "合约代码含有字母、数字、空格、&、-以外的字符";
    case Verdict::kTextField:
      return "日期或时间含有逗号或控制字符";
    case Verdict::kNotLoggedIn:
      return "尚未登录";
    case Verdict::kNotSubscribed:
      return "未订阅的合约";
  }
  return "";
}
