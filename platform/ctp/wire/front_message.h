#ifndef QUOTELOOM_PLATFORM_CTP_WIRE_FRONT_MESSAGE_H
#define QUOTELOOM_PLATFORM_CTP_WIRE_FRONT_MESSAGE_H

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// Messages between the stand-in market-data API and the front simulator (docs/frontsim-protocol.md).
// Pure functions and plain structs; any thread. The records here are the wire's own, with fixed
// widths, so a simulator and a stand-in built for any vendor layout family speak the same frames.

enum class FrontMessageType : std::uint8_t {
  kHeartbeat = 0x01,
  kLogin = 0x02,
  kSubscribe = 0x03,
  kUnsubscribe = 0x04,
  kLogout = 0x05,
  kHeartbeatReply = 0x81,
  kLoginReply = 0x82,
  kSubscribeReply = 0x83,
  kUnsubscribeReply = 0x84,
  kLogoutReply = 0x85,
  kDepthMarketData = 0x86,
};

// Largest payload a frame may carry; anything longer is a broken peer.
constexpr std::uint32_t kMaxFramePayload = 64 * 1024;
constexpr std::size_t kFrameHeaderSize = 5;
// Most codes one subscription frame may carry.
constexpr int kMaxCodesPerFrame = 800;  // 800 codes of 81 bytes fit one payload

// Code fields carry up to 80 characters, as the wide fields of the newer vendor layouts do.
constexpr std::size_t kWireCodeSize = 81;

struct FrontRspInfo {
  std::int32_t ErrorID = 0;
  char ErrorMsg[81] = {};
};

struct FrontLoginFields {
  char TradingDay[9] = {};
  char BrokerID[11] = {};
  char UserID[16] = {};
  char Password[41] = {};
  char UserProductInfo[11] = {};
};

struct FrontLoginReplyFields {
  char TradingDay[9] = {};
  char LoginTime[9] = {};
  char BrokerID[11] = {};
  char UserID[16] = {};
  char SystemName[41] = {};
  std::int32_t FrontID = 0;
  std::int32_t SessionID = 0;
  char MaxOrderRef[13] = {};
  char SHFETime[9] = {};
  char DCETime[9] = {};
  char CZCETime[9] = {};
  char FFEXTime[9] = {};
  char INETime[9] = {};
};

struct FrontUserFields {
  char BrokerID[11] = {};
  char UserID[16] = {};
};

struct FrontInstrument {
  char InstrumentID[kWireCodeSize] = {};
};

// One snapshot: the vendor's depth record with wide codes and the banding prices.
struct FrontDepthMarketData {
  char TradingDay[9];
  char InstrumentID[kWireCodeSize];
  char ExchangeID[9];
  char ExchangeInstID[kWireCodeSize];
  double LastPrice;
  double PreSettlementPrice;
  double PreClosePrice;
  double PreOpenInterest;
  double OpenPrice;
  double HighestPrice;
  double LowestPrice;
  std::int32_t Volume;
  double Turnover;
  double OpenInterest;
  double ClosePrice;
  double SettlementPrice;
  double UpperLimitPrice;
  double LowerLimitPrice;
  double PreDelta;
  double CurrDelta;
  char UpdateTime[9];
  std::int32_t UpdateMillisec;
  double BidPrice1;
  std::int32_t BidVolume1;
  double AskPrice1;
  std::int32_t AskVolume1;
  double BidPrice2;
  std::int32_t BidVolume2;
  double AskPrice2;
  std::int32_t AskVolume2;
  double BidPrice3;
  std::int32_t BidVolume3;
  double AskPrice3;
  std::int32_t AskVolume3;
  double BidPrice4;
  std::int32_t BidVolume4;
  double AskPrice4;
  std::int32_t AskVolume4;
  double BidPrice5;
  std::int32_t BidVolume5;
  double AskPrice5;
  std::int32_t AskVolume5;
  double AveragePrice;
  char ActionDay[9];
  double BandingUpperPrice;
  double BandingLowerPrice;
};

struct LoginRequest {
  std::int32_t request_id = 0;
  FrontLoginFields field{};
};

struct LoginReply {
  std::int32_t request_id = 0;
  FrontRspInfo info{};
  FrontLoginReplyFields field{};
};

struct LogoutRequest {
  std::int32_t request_id = 0;
  FrontUserFields field{};
};

struct LogoutReply {
  std::int32_t request_id = 0;
  FrontRspInfo info{};
  FrontUserFields field{};
};

// One answer per code of a (un)subscription; is_last marks the final code of its request.
struct SubscriptionReply {
  FrontInstrument instrument{};
  FrontRspInfo info{};
  bool is_last = false;
};

// Appends one whole frame to out.
void AppendHeartbeat(std::string& out);
void AppendHeartbeatReply(std::string& out);
void AppendLoginRequest(std::string& out, const LoginRequest& m);
void AppendLoginReply(std::string& out, const LoginReply& m);
void AppendLogoutRequest(std::string& out, const LogoutRequest& m);
void AppendLogoutReply(std::string& out, const LogoutReply& m);
// One request for codes: as many frames as needed, the last one marked final. Codes longer than
// 80 bytes are cut to 80.
void AppendCodes(std::string& out, FrontMessageType type, const std::vector<std::string_view>& codes);
void AppendSubscriptionReply(std::string& out, FrontMessageType type, const SubscriptionReply& m);
void AppendDepthMarketData(std::string& out, const FrontDepthMarketData& m);

// Payload decoders: false when the payload has the wrong size or shape.
bool DecodeLoginRequest(std::string_view payload, LoginRequest* m);
bool DecodeLoginReply(std::string_view payload, LoginReply* m);
bool DecodeLogoutRequest(std::string_view payload, LogoutRequest* m);
bool DecodeLogoutReply(std::string_view payload, LogoutReply* m);
bool DecodeCodes(std::string_view payload, std::vector<std::string>* codes, bool* final_frame);
bool DecodeSubscriptionReply(std::string_view payload, SubscriptionReply* m);
bool DecodeDepthMarketData(std::string_view payload, FrontDepthMarketData* m);

#endif
