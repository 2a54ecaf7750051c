#include "marketdata/md_spi.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

#include "core/gbk.h"
#include "core/log_sink.h"
#include "core/tick_record.h"

namespace {

std::string ErrorText(const CThostFtdcRspInfoField* info) {
  return GbkToUtf8(std::string_view(info->ErrorMsg, strnlen(info->ErrorMsg, sizeof(info->ErrorMsg))));
}

// Leading decimal digits of the API's trading day text, 0 when there are none.
int LeadingNumber(const char* text) {
  int value = 0;
  for (const char* p = text; p != nullptr && *p >= '0' && *p <= '9'; ++p) value = value * 10 + (*p - '0');
  return value;
}

const char* TextOrEmpty(const char* text) { return text != nullptr ? text : ""; }

// The code of a subscription answer, which a front may leave unterminated.
std::string CodeText(const CThostFtdcSpecificInstrumentField* instrument) {
  return std::string(instrument->InstrumentID, strnlen(instrument->InstrumentID, sizeof(instrument->InstrumentID)));
}

}  // namespace

CMdSpi::CMdSpi(CThostFtdcMdApi* api, const AccountSettings& account, const StopSaveWindows& windows,
               CTRingQueueApi& queue, LiveTickRelay& relay, const Clock& clock, TickLogChannel& tickLog)
    : api_(api), account_(account), windows_(windows), queue_(queue), relay_(relay), clock_(clock), tickLog_(tickLog) {}

bool CMdSpi::IsErrorRspInfo(const CThostFtdcRspInfoField* info) {
  const bool error = info != nullptr && info->ErrorID != 0;
  if (error) std::fprintf(stderr, "--->>> ErrorID=%d, ErrorMsg=%s\n", info->ErrorID, ErrorText(info).c_str());
  return error;
}

void CMdSpi::SetFrontState(FrontState state) {
  const ClockReading now = clock_.Now();
  frontState_.store(static_cast<int>(state) * 1000000 + now.hour * 10000 + now.minute * 100 + now.second,
                    std::memory_order_relaxed);
}

CMdSpi::FrontStatus CMdSpi::frontStatus() const {
  const int packed = frontState_.load(std::memory_order_relaxed);
  const int since = packed % 1000000;
  return {static_cast<FrontState>(packed / 1000000), since == 999999 ? -1 : since};
}

// Seconds on the local clock, for spacing repeated lines; the calendar arithmetic of std::chrono.
std::int64_t CMdSpi::NowSeconds() const {
  const ClockReading r = clock_.Now();
  const std::chrono::sys_days day{std::chrono::year{r.year} / r.month / r.day};
  return day.time_since_epoch().count() * 86400LL + r.hour * 3600 + r.minute * 60 + r.second;
}

void CMdSpi::OnFrontConnected() {
  SetFrontState(FrontState::kConnected);
  screen_.LoggedOut();
  const std::string summary = disconnects_.Recover();
  if (!summary.empty()) {
    AppendLine(LogTab::NetworkLog, summary);
    AppendLine(LogTab::CtpLog, summary);
  }
  AppendLine(LogTab::NetworkLog, "行情连接成功");
  AppendLine(LogTab::CtpLog, "行情连接成功");
  ReqUserLogin();
}

void CMdSpi::ReqUserLogin() {
  if (api_ == nullptr) return;
  CThostFtdcReqUserLoginField request;
  std::memset(&request, 0, sizeof(request));
  std::snprintf(request.BrokerID, sizeof(request.BrokerID), "%s", account_.BrokerID);
  std::snprintf(request.UserID, sizeof(request.UserID), "%s", account_.UserID);
  std::snprintf(request.Password, sizeof(request.Password), "%s", account_.Password);
  (void)api_->ReqUserLogin(&request, ++requestId_);
  AppendLine(LogTab::CtpLog, "发送行情用户登录请求");
}

void CMdSpi::OnFrontDisconnected(int nReason) {
  SetFrontState(FrontState::kClosed);
  screen_.LoggedOut();
  front_.disconnects[FrontCounters::SlotOf(nReason)].fetch_add(1, std::memory_order_relaxed);
  // A front that is down answers every reconnection with the same reason: written summarised.
  const std::string line = disconnects_.Occur("行情连接断开[" + std::to_string(nReason) + "]", NowSeconds());
  if (line.empty()) return;
  AppendLine(LogTab::NetworkLog, line);
  AppendLine(LogTab::CtpLog, line);
}

void CMdSpi::OnRspUserLogin(CThostFtdcRspUserLoginField* pRspUserLogin, CThostFtdcRspInfoField* pRspInfo,
                            int /*nRequestID*/, bool bIsLast) {
  if (pRspUserLogin == nullptr || api_ == nullptr) return;
  if (IsErrorRspInfo(pRspInfo)) {
    AppendLineF(LogTab::CtpLog, "行情登录错误[%d][%s]", pRspInfo->ErrorID, ErrorText(pRspInfo).c_str());
  }
  if (bIsLast && !IsErrorRspInfo(pRspInfo)) {
    AppendLineF(LogTab::CtpLog, "行情登录成功[%s]", TextOrEmpty(api_->GetTradingDay()));
    tradingDay_ = LeadingNumber(api_->GetTradingDay());
    SetFrontState(FrontState::kLoggedIn);
    front_.logins.fetch_add(1, std::memory_order_relaxed);
    SubscribeMarketData();
  }
}

void CMdSpi::SubscribeMarketData() {
  if (api_ == nullptr) {
    std::printf("--->>>指针错误SubscribeMarketData\n");
    return;
  }
  const int count = universe_.Generate(tradingDay_);
  std::printf("共生成%d个合约\n-----------------------------\n\n", count);
  screen_.LoggedIn();
  for (int i = 0; i < count; ++i) {
    char code[InstrumentUniverse::kCodeSize];
    std::snprintf(code, sizeof(code), "%s", universe_.code(i));
    AppendLineF(LogTab::Subscriptions, "[%d]合约名：[%s]", i, code);
    screen_.Subscribed(code);
    char* codes[1] = {code};
    (void)api_->SubscribeMarketData(codes, 1);
  }
}

void CMdSpi::OnRspError(CThostFtdcRspInfoField* pRspInfo, int /*nRequestID*/, bool /*bIsLast*/) {
  std::fprintf(stderr, "--->>> %s\n", "CMdSpi::OnRspError");
  IsErrorRspInfo(pRspInfo);
}

void CMdSpi::OnRspSubMarketData(CThostFtdcSpecificInstrumentField* pSpecificInstrument,
                                CThostFtdcRspInfoField* pRspInfo, int /*nRequestID*/, bool /*bIsLast*/) {
  if (pSpecificInstrument == nullptr) {
    std::printf("--->>>指针错误OnRspSubMarketData\n");
    return;
  }
  if (IsErrorRspInfo(pRspInfo)) {
    front_.subscriptionsFailed.fetch_add(1, std::memory_order_relaxed);
    AppendLineF(LogTab::CtpLog, "订阅行情失败[%s][%d][%s]", CodeText(pSpecificInstrument).c_str(), pRspInfo->ErrorID,
                ErrorText(pRspInfo).c_str());
    return;
  }
  front_.subscriptionsAnswered.fetch_add(1, std::memory_order_relaxed);
  AppendLineF(LogTab::CtpLog, "订阅行情成功[%s]", CodeText(pSpecificInstrument).c_str());
}

void CMdSpi::OnRspUnSubMarketData(CThostFtdcSpecificInstrumentField* pSpecificInstrument,
                                  CThostFtdcRspInfoField* /*pRspInfo*/, int /*nRequestID*/, bool /*bIsLast*/) {
  if (pSpecificInstrument == nullptr) return;
  AppendLineF(LogTab::CtpLog, "反订阅行情成功[%s]", CodeText(pSpecificInstrument).c_str());
}

bool CMdSpi::OutsideStopSaveWindows(const ClockReading& now) {
  const double x = StopSaveWindows::ClockValue(now.hour, now.minute);
  if (windows_.Contains(x)) {
    if (noticeArmed_) {
      noticeArmed_ = false;
      AppendLineF(LogTab::MarketData, "当前时间%0.04lf 在禁止时间段[%0.04lf]~[%0.04lf] [%0.04lf]~[%0.04lf]内", x,
                  windows_.begin1(), windows_.end1(), windows_.begin2(), windows_.end2());
    }
    return false;
  }
  noticeArmed_ = true;
  return true;
}

void CMdSpi::OnRtnDepthMarketData(CThostFtdcDepthMarketDataField* pDepthMarketData) {
  if (pDepthMarketData == nullptr) return;
  ticksReceived_.fetch_add(1, std::memory_order_relaxed);
  // The one clock reading per tick: the stop-save windows and the arrival stamped on the record.
  const ClockReading now = clock_.Now();
  if (!OutsideStopSaveWindows(now)) return;
  const TickScreen::Verdict verdict = screen_.Check(*pDepthMarketData);
  if (verdict != TickScreen::Verdict::kAccept) {
    screen_.Refuse(*pDepthMarketData, verdict);
    return;
  }
  TickRecord record;
  BuildTickRecord(pDepthMarketData, &record);
  SetTickArrival(&record, now.unixNanoseconds);
  {
    std::lock_guard<std::mutex> lock(intakeMutex_);
    if (!accepting_) return;
    queue_.Push(&record);
    ticksAccepted_.fetch_add(1, std::memory_order_release);
  }
  exchangeTicks_.Count(record.InstrumentID);
  relay_.Forward(record);
  tickLog_.OnTickAccepted(record);
}

void CMdSpi::StopIntake() {
  std::lock_guard<std::mutex> lock(intakeMutex_);
  accepting_ = false;
}
