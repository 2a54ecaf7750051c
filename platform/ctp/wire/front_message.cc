#include "platform/ctp/wire/front_message.h"

#include <algorithm>
#include <bit>
#include <cstring>

static_assert(std::endian::native == std::endian::little, "the frame layout is written for little-endian hosts");

namespace {

// Writes fixed-size fields one after another, with no padding.
class Writer {
 public:
  Writer(std::string& out, FrontMessageType type) : out_(out), header_(out.size()) {
    out_.append(kFrameHeaderSize, '\0');
    out_[header_ + 4] = static_cast<char>(type);
  }
  ~Writer() {
    auto length = static_cast<std::uint32_t>(out_.size() - header_ - kFrameHeaderSize);
    std::memcpy(out_.data() + header_, &length, sizeof length);
  }
  template <typename T>
  void Put(const T& value) {
    out_.append(reinterpret_cast<const char*>(&value), sizeof value);
  }
  // Fixed-width text: the field's bytes with the last one forced to NUL.
  template <std::size_t N>
  void Text(const char (&text)[N]) {
    std::size_t at = out_.size();
    out_.append(text, N);
    out_[at + N - 1] = '\0';
  }

 private:
  std::string& out_;
  std::size_t header_;
};

// Reads what Writer wrote; any shortfall makes ok() false.
class Reader {
 public:
  explicit Reader(std::string_view in) : in_(in) {}
  template <typename T>
  void Get(T* value) {
    if (!Take(sizeof *value)) return;
    std::memcpy(value, in_.data() + at_ - sizeof *value, sizeof *value);
  }
  template <std::size_t N>
  void Text(char (&text)[N]) {
    if (!Take(N)) return;
    std::memcpy(text, in_.data() + at_ - N, N);
    text[N - 1] = '\0';
  }
  bool done() const { return ok_ && at_ == in_.size(); }

 private:
  bool Take(std::size_t n) {
    if (!ok_ || in_.size() - at_ < n) {
      ok_ = false;
      return false;
    }
    at_ += n;
    return true;
  }
  std::string_view in_;
  std::size_t at_ = 0;
  bool ok_ = true;
};

template <typename Io, typename Field>
void LoginRequestFields(Io& io, Field& f) {
  io.Text(f.TradingDay);
  io.Text(f.BrokerID);
  io.Text(f.UserID);
  io.Text(f.Password);
  io.Text(f.UserProductInfo);
}

template <typename Io, typename Field>
void LoginReplyFields(Io& io, Field& f) {
  io.Text(f.TradingDay);
  io.Text(f.LoginTime);
  io.Text(f.BrokerID);
  io.Text(f.UserID);
  io.Text(f.SystemName);
  io.Text(f.MaxOrderRef);
  io.Text(f.SHFETime);
  io.Text(f.DCETime);
  io.Text(f.CZCETime);
  io.Text(f.FFEXTime);
  io.Text(f.INETime);
}

template <typename Io, typename Field>
void UserFields(Io& io, Field& f) {
  io.Text(f.BrokerID);
  io.Text(f.UserID);
}

template <typename Io, typename Info>
void InfoFields(Io& io, Info& info) {
  io.Text(info.ErrorMsg);
}

}  // namespace

// The depth record on the wire: every field in declaration order, fixed width, no padding.
#define QUOTELOOM_DEPTH_FIELDS(TEXT, NUM)                                                              \
  TEXT(TradingDay) TEXT(InstrumentID) TEXT(ExchangeID) TEXT(ExchangeInstID) NUM(LastPrice)              \
  NUM(PreSettlementPrice) NUM(PreClosePrice) NUM(PreOpenInterest) NUM(OpenPrice) NUM(HighestPrice)      \
  NUM(LowestPrice) NUM(Volume) NUM(Turnover) NUM(OpenInterest) NUM(ClosePrice) NUM(SettlementPrice)     \
  NUM(UpperLimitPrice) NUM(LowerLimitPrice) NUM(PreDelta) NUM(CurrDelta) TEXT(UpdateTime)               \
  NUM(UpdateMillisec) NUM(BidPrice1) NUM(BidVolume1) NUM(AskPrice1) NUM(AskVolume1) NUM(BidPrice2)      \
  NUM(BidVolume2) NUM(AskPrice2) NUM(AskVolume2) NUM(BidPrice3) NUM(BidVolume3) NUM(AskPrice3)          \
  NUM(AskVolume3) NUM(BidPrice4) NUM(BidVolume4) NUM(AskPrice4) NUM(AskVolume4) NUM(BidPrice5)          \
  NUM(BidVolume5) NUM(AskPrice5) NUM(AskVolume5) NUM(AveragePrice) TEXT(ActionDay) NUM(BandingUpperPrice)  \
  NUM(BandingLowerPrice)

void AppendHeartbeat(std::string& out) { Writer w(out, FrontMessageType::kHeartbeat); }

void AppendHeartbeatReply(std::string& out) { Writer w(out, FrontMessageType::kHeartbeatReply); }

void AppendLoginRequest(std::string& out, const LoginRequest& m) {
  Writer w(out, FrontMessageType::kLogin);
  w.Put(m.request_id);
  LoginRequestFields(w, m.field);
}

void AppendLoginReply(std::string& out, const LoginReply& m) {
  Writer w(out, FrontMessageType::kLoginReply);
  w.Put(m.request_id);
  w.Put(m.info.ErrorID);
  InfoFields(w, m.info);
  w.Put(m.field.FrontID);
  w.Put(m.field.SessionID);
  LoginReplyFields(w, m.field);
}

void AppendLogoutRequest(std::string& out, const LogoutRequest& m) {
  Writer w(out, FrontMessageType::kLogout);
  w.Put(m.request_id);
  UserFields(w, m.field);
}

void AppendLogoutReply(std::string& out, const LogoutReply& m) {
  Writer w(out, FrontMessageType::kLogoutReply);
  w.Put(m.request_id);
  w.Put(m.info.ErrorID);
  InfoFields(w, m.info);
  UserFields(w, m.field);
}

void AppendCodes(std::string& out, FrontMessageType type, const std::vector<std::string_view>& codes) {
  std::size_t at = 0;
  do {
    std::size_t count = std::min<std::size_t>(codes.size() - at, kMaxCodesPerFrame);
    Writer w(out, type);
    w.Put(static_cast<std::uint16_t>(count));
    w.Put(static_cast<std::uint8_t>(at + count == codes.size() ? 1 : 0));
    for (std::size_t i = at; i < at + count; ++i) {
      char code[kWireCodeSize] = {};
      std::memcpy(code, codes[i].data(), std::min(codes[i].size(), sizeof code - 1));
      w.Text(code);
    }
    at += count;
  } while (at < codes.size());
}

void AppendSubscriptionReply(std::string& out, FrontMessageType type, const SubscriptionReply& m) {
  Writer w(out, type);
  w.Text(m.instrument.InstrumentID);
  w.Put(m.info.ErrorID);
  InfoFields(w, m.info);
  w.Put(static_cast<std::uint8_t>(m.is_last ? 1 : 0));
}

void AppendDepthMarketData(std::string& out, const FrontDepthMarketData& m) {
  Writer w(out, FrontMessageType::kDepthMarketData);
#define QUOTELOOM_PUT_TEXT(name) w.Text(m.name);
#define QUOTELOOM_PUT_NUM(name) w.Put(m.name);
  QUOTELOOM_DEPTH_FIELDS(QUOTELOOM_PUT_TEXT, QUOTELOOM_PUT_NUM)
#undef QUOTELOOM_PUT_TEXT
#undef QUOTELOOM_PUT_NUM
}

bool DecodeLoginRequest(std::string_view payload, LoginRequest* m) {
  *m = LoginRequest{};
  Reader r(payload);
  r.Get(&m->request_id);
  LoginRequestFields(r, m->field);
  return r.done();
}

bool DecodeLoginReply(std::string_view payload, LoginReply* m) {
  *m = LoginReply{};
  Reader r(payload);
  r.Get(&m->request_id);
  r.Get(&m->info.ErrorID);
  InfoFields(r, m->info);
  r.Get(&m->field.FrontID);
  r.Get(&m->field.SessionID);
  LoginReplyFields(r, m->field);
  return r.done();
}

bool DecodeLogoutRequest(std::string_view payload, LogoutRequest* m) {
  *m = LogoutRequest{};
  Reader r(payload);
  r.Get(&m->request_id);
  UserFields(r, m->field);
  return r.done();
}

bool DecodeLogoutReply(std::string_view payload, LogoutReply* m) {
  *m = LogoutReply{};
  Reader r(payload);
  r.Get(&m->request_id);
  r.Get(&m->info.ErrorID);
  InfoFields(r, m->info);
  UserFields(r, m->field);
  return r.done();
}

bool DecodeCodes(std::string_view payload, std::vector<std::string>* codes, bool* final_frame) {
  codes->clear();
  Reader r(payload);
  std::uint16_t count = 0;
  std::uint8_t final = 0;
  r.Get(&count);
  r.Get(&final);
  if (count > kMaxCodesPerFrame || final > 1) return false;
  for (std::uint16_t i = 0; i < count; ++i) {
    char code[kWireCodeSize] = {};
    r.Text(code);
    codes->emplace_back(code);
  }
  *final_frame = final == 1;
  return r.done();
}

bool DecodeSubscriptionReply(std::string_view payload, SubscriptionReply* m) {
  *m = SubscriptionReply{};
  Reader r(payload);
  r.Text(m->instrument.InstrumentID);
  r.Get(&m->info.ErrorID);
  InfoFields(r, m->info);
  std::uint8_t last = 0;
  r.Get(&last);
  m->is_last = last != 0;
  return r.done() && last <= 1;
}

bool DecodeDepthMarketData(std::string_view payload, FrontDepthMarketData* m) {
  std::memset(m, 0, sizeof *m);
  Reader r(payload);
#define QUOTELOOM_GET_TEXT(name) r.Text(m->name);
#define QUOTELOOM_GET_NUM(name) r.Get(&m->name);
  QUOTELOOM_DEPTH_FIELDS(QUOTELOOM_GET_TEXT, QUOTELOOM_GET_NUM)
#undef QUOTELOOM_GET_TEXT
#undef QUOTELOOM_GET_NUM
  return r.done();
}
