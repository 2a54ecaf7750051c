#include "platform/ctp/standin/md_api_impl.h"

#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "platform/ctp/standin/vendor_records.h"
#include "platform/ctp/wire/front_message.h"

MdApiImpl::MdApiImpl() : link_(ReadMdApiTiming(), queue_) {}

MdApiImpl::~MdApiImpl() = default;

// No callback runs once Release has returned; called on the callback thread it frees the instance
// after the running callback returns.
void MdApiImpl::Release() {
  {
    std::unique_lock<std::mutex> lock(mutex_);
    if (released_.exchange(true)) return;
    released_cv_.notify_all();
    released_cv_.wait(lock, [this] { return joiners_ == 0; });
  }
  link_.Stop();
  queue_.Close();
  if (callback_thread_.joinable()) {
    if (callback_thread_.get_id() == std::this_thread::get_id()) {
      free_on_callback_thread_ = true;
      callback_thread_.detach();
      return;
    }
    callback_thread_.join();
  }
  delete this;
}

void MdApiImpl::Init() {
  // Held until both threads exist: a callback that releases the instance waits here in Release.
  std::lock_guard<std::mutex> lock(mutex_);
  if (started_ || released_.load()) return;
  started_ = true;
  callback_thread_ = std::thread([this] { RunCallbacks(); });
  link_.Start();
}

int MdApiImpl::Join() {
  std::unique_lock<std::mutex> lock(mutex_);
  ++joiners_;
  released_cv_.wait(lock, [this] { return released_.load(); });
  --joiners_;
  released_cv_.notify_all();
  return 0;
}

// The text lives in a buffer of the calling thread, so a login on the callback thread never
// changes it under another thread's feet.
const char* MdApiImpl::GetTradingDay() {
  thread_local char day[9];
  std::lock_guard<std::mutex> lock(mutex_);
  std::memcpy(day, trading_day_, sizeof day);
  return day;
}

void MdApiImpl::RegisterFront(char* pszFrontAddress) {
  if (pszFrontAddress == nullptr) return;
  link_.AddFront(pszFrontAddress);
}

void MdApiImpl::RegisterNameServer(char*) {}

void MdApiImpl::RegisterFensUserInfo(CThostFtdcFensUserInfoField*) {}

void MdApiImpl::RegisterSpi(CThostFtdcMdSpi* pSpi) { spi_.store(pSpi, std::memory_order_release); }

int MdApiImpl::SubscribeMarketData(char* ppInstrumentID[], int nCount) {
  return SendCodes(FrontMessageType::kSubscribe, ppInstrumentID, nCount);
}

int MdApiImpl::UnSubscribeMarketData(char* ppInstrumentID[], int nCount) {
  return SendCodes(FrontMessageType::kUnsubscribe, ppInstrumentID, nCount);
}

// The simulator quotes no options, so it has no quote requests to forward.
int MdApiImpl::SubscribeForQuoteRsp(char*[], int) { return -3; }

int MdApiImpl::UnSubscribeForQuoteRsp(char*[], int) { return -3; }

#if QUOTELOOM_CTP_FAMILY >= 60319
// Multicast belongs to the vendor's transport; the simulator serves TCP only.
int MdApiImpl::ReqQryMulticastInstrument(CThostFtdcQryMulticastInstrumentField*, int) { return -3; }
#endif

int MdApiImpl::SendCodes(FrontMessageType type, char* codes[], int count) {
  if (codes == nullptr || count <= 0) return -1;
  std::vector<std::string_view> batch;
  for (int i = 0; i < count; ++i) {
    if (codes[i] != nullptr) batch.emplace_back(codes[i], ::strnlen(codes[i], sizeof(TThostFtdcInstrumentIDType)));
  }
  if (batch.empty()) return -1;
  std::string frames;
  AppendCodes(frames, type, batch);
  return link_.Send(frames);
}

int MdApiImpl::ReqUserLogin(CThostFtdcReqUserLoginField* pReqUserLoginField, int nRequestID) {
  if (pReqUserLoginField == nullptr) return -1;
  LoginRequest request;
  request.request_id = nRequestID;
  ToWire(*pReqUserLoginField, &request.field);
  std::string frame;
  AppendLoginRequest(frame, request);
  return link_.Send(frame);
}

int MdApiImpl::ReqUserLogout(CThostFtdcUserLogoutField* pUserLogout, int nRequestID) {
  if (pUserLogout == nullptr) return -1;
  LogoutRequest request;
  request.request_id = nRequestID;
  ToWire(*pUserLogout, &request.field);
  std::string frame;
  AppendLogoutRequest(frame, request);
  return link_.Send(frame);
}

void MdApiImpl::RunCallbacks() {
  std::deque<MdEvent> batch;
  while (queue_.Take(&batch)) {
    for (MdEvent& event : batch) {
      if (released_.load(std::memory_order_acquire)) break;
      Deliver(event);
      queue_.Delivered();
    }
    if (released_.load(std::memory_order_acquire)) break;
  }
  // Release was called from a callback: the instance is ours to free.
  if (free_on_callback_thread_) delete this;
}

void MdApiImpl::Deliver(MdEvent& event) {
  if (event.kind == MdEvent::Kind::kRspUserLogin && event.info.ErrorID == 0) {
    std::lock_guard<std::mutex> lock(mutex_);
    std::memcpy(trading_day_, event.login.TradingDay, sizeof trading_day_);
    trading_day_[8] = '\0';
  }
  CThostFtdcMdSpi* spi = spi_.load(std::memory_order_acquire);
  if (spi == nullptr) return;
  switch (event.kind) {
    case MdEvent::Kind::kFrontConnected:
      spi->OnFrontConnected();
      break;
    case MdEvent::Kind::kFrontDisconnected:
      spi->OnFrontDisconnected(event.number);
      break;
    case MdEvent::Kind::kRspUserLogin:
      spi->OnRspUserLogin(&event.login, &event.info, event.number, event.is_last);
      break;
    case MdEvent::Kind::kRspUserLogout:
      spi->OnRspUserLogout(&event.logout, &event.info, event.number, event.is_last);
      break;
    case MdEvent::Kind::kRspSubMarketData:
      spi->OnRspSubMarketData(&event.instrument, &event.info, event.number, event.is_last);
      break;
    case MdEvent::Kind::kRspUnSubMarketData:
      spi->OnRspUnSubMarketData(&event.instrument, &event.info, event.number, event.is_last);
      break;
    case MdEvent::Kind::kRtnDepthMarketData:
      spi->OnRtnDepthMarketData(&event.depth);
      break;
  }
}
