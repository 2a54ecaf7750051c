#ifndef QUOTELOOM_REPLAY_PROTOCOL_REPLAY_MESSAGE_H
#define QUOTELOOM_REPLAY_PROTOCOL_REPLAY_MESSAGE_H

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// The one 217-byte message of the replay protocol: a request, the greeting (all zero) or a tick.
// Fields follow each other without gaps; on the wire every number is little-endian. A plain value.
#pragma pack(push, 1)
struct ReplayMessage {
  double LastPrice;
  double PreSettlementPrice;
  double PreClosePrice;
  double PreOpenInterest;
  double OpenPrice;
  double HighestPrice;
  double LowestPrice;
  double ClosePrice;
  double Turnover;
  double OpenInterest;
  double UpperLimitPrice;
  double LowerLimitPrice;
  double AveragePrice;
  double BidPrice1;
  double AskPrice1;
  std::int32_t Volume;
  std::int32_t UpdateMillisec;
  std::int32_t BidVolume1;
  std::int32_t AskVolume1;
  std::int32_t Command;
  char InstrumentID[31];
  char BeginTime[9];
  char EndTime[9];
  char TradingDay[9];
  char ActionDay[9];
  char UpdateTime[9];
  char Reserved;
};
#pragma pack(pop)

inline constexpr std::size_t kReplayMessageSize = 217;
inline constexpr std::int32_t kReplayCommandStart = 1000;
inline constexpr std::int32_t kReplayCommandStop = 1001;
// The pack settings of the replay service.
inline constexpr std::uint16_t kReplayPackFlag = 361;
inline constexpr std::uint32_t kReplayPackLimit = 4095;
inline constexpr unsigned short kReplayDefaultPort = 7777;

static_assert(sizeof(ReplayMessage) == kReplayMessageSize);
static_assert(offsetof(ReplayMessage, PreSettlementPrice) == 8);
static_assert(offsetof(ReplayMessage, AskPrice1) == 112);
static_assert(offsetof(ReplayMessage, Volume) == 120);
static_assert(offsetof(ReplayMessage, UpdateMillisec) == 124);
static_assert(offsetof(ReplayMessage, BidVolume1) == 128);
static_assert(offsetof(ReplayMessage, AskVolume1) == 132);
static_assert(offsetof(ReplayMessage, Command) == 136);
static_assert(offsetof(ReplayMessage, InstrumentID) == 140);
static_assert(offsetof(ReplayMessage, BeginTime) == 171);
static_assert(offsetof(ReplayMessage, EndTime) == 180);
static_assert(offsetof(ReplayMessage, TradingDay) == 189);
static_assert(offsetof(ReplayMessage, ActionDay) == 198);
static_assert(offsetof(ReplayMessage, UpdateTime) == 207);
static_assert(offsetof(ReplayMessage, Reserved) == 216);

using ReplayMessageBytes = std::array<std::uint8_t, kReplayMessageSize>;

// A message with every byte zero (the greeting).
ReplayMessage ZeroReplayMessage();

// Bounded copy into a character field: at most `width - 1` bytes, NUL-terminated, rest zero.
void SetReplayText(char* field, std::size_t width, std::string_view text);
template <std::size_t N>
void SetReplayText(char (&field)[N], std::string_view text) {
  SetReplayText(field, N, text);
}
// The text of a character field up to its NUL or its width.
template <std::size_t N>
std::string ReplayText(const char (&field)[N]) {
  std::size_t n = 0;
  while (n < N && field[n] != '\0') ++n;
  return std::string(field, n);
}

// Writes every field at its offset, numbers little-endian.
ReplayMessageBytes EncodeReplayMessage(const ReplayMessage& message);
// Reads every field from its offset; false (and `out` untouched) for fewer than 217 bytes.
bool DecodeReplayMessage(const std::uint8_t* body, std::size_t length, ReplayMessage* out);

// What the service reads from a request.
struct ReplayRequest {
  std::int32_t command = 0;
  std::string instrument;  // at most 30 characters
  std::string beginTime;   // at most 9 characters
  std::string endTime;     // at most 9 characters
};

// False for a body shorter than 217 bytes, which is not a request.
bool DecodeReplayRequest(const std::uint8_t* body, std::size_t length, ReplayRequest* out);
// A request as a client sends it: zero but for the command, the contract and the two days.
ReplayMessageBytes EncodeReplayRequest(std::int32_t command, std::string_view instrument,
                                       std::string_view beginTime, std::string_view endTime);

#endif
