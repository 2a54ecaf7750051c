#ifndef QUOTELOOM_PLATFORM_CTP_WIRE_FRONT_MESSAGE_H
#define QUOTELOOM_PLATFORM_CTP_WIRE_FRONT_MESSAGE_H

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "ThostFtdcUserApiStruct.h"

// Messages between the stand-in market-data API and the front simulator (docs/frontsim-protocol.md).
// Pure functions and plain structs; any thread.

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
constexpr int kMaxCodesPerFrame = 1000;

struct LoginRequest {
  std::int32_t request_id = 0;
  CThostFtdcReqUserLoginField field{};
};

struct LoginReply {
  std::int32_t request_id = 0;
  CThostFtdcRspInfoField info{};
  CThostFtdcRspUserLoginField field{};
};

struct LogoutRequest {
  std::int32_t request_id = 0;
  CThostFtdcUserLogoutField field{};
};

struct LogoutReply {
  std::int32_t request_id = 0;
  CThostFtdcRspInfoField info{};
  CThostFtdcUserLogoutField field{};
};

// One answer per code of a (un)subscription; is_last marks the final code of its request.
struct SubscriptionReply {
  CThostFtdcSpecificInstrumentField instrument{};
  CThostFtdcRspInfoField info{};
  bool is_last = false;
};

// Appends one whole frame to out.
void AppendHeartbeat(std::string& out);
void AppendHeartbeatReply(std::string& out);
void AppendLoginRequest(std::string& out, const LoginRequest& m);
void AppendLoginReply(std::string& out, const LoginReply& m);
void AppendLogoutRequest(std::string& out, const LogoutRequest& m);
void AppendLogoutReply(std::string& out, const LogoutReply& m);
// Codes longer than 30 bytes are cut to 30; at most kMaxCodesPerFrame codes per call.
void AppendCodes(std::string& out, FrontMessageType type, const std::vector<std::string_view>& codes);
void AppendSubscriptionReply(std::string& out, FrontMessageType type, const SubscriptionReply& m);
void AppendDepthMarketData(std::string& out, const CThostFtdcDepthMarketDataField& m);

// Payload decoders: false when the payload has the wrong size or shape.
bool DecodeLoginRequest(std::string_view payload, LoginRequest* m);
bool DecodeLoginReply(std::string_view payload, LoginReply* m);
bool DecodeLogoutRequest(std::string_view payload, LogoutRequest* m);
bool DecodeLogoutReply(std::string_view payload, LogoutReply* m);
bool DecodeCodes(std::string_view payload, std::vector<std::string>* codes);
bool DecodeSubscriptionReply(std::string_view payload, SubscriptionReply* m);
bool DecodeDepthMarketData(std::string_view payload, CThostFtdcDepthMarketDataField* m);

#endif
