#include "replay/protocol/replay_message.h"

#include <bit>
#include <cstring>

namespace {

template <class T>
void Store(std::uint8_t* out, std::size_t offset, T value) {
  using U = std::conditional_t<sizeof(T) == 8, std::uint64_t, std::uint32_t>;
  const U bits = std::bit_cast<U>(value);
  for (std::size_t i = 0; i < sizeof(T); ++i) out[offset + i] = static_cast<std::uint8_t>(bits >> (8 * i));
}

template <class T>
T Load(const std::uint8_t* in, std::size_t offset) {
  using U = std::conditional_t<sizeof(T) == 8, std::uint64_t, std::uint32_t>;
  U bits = 0;
  for (std::size_t i = 0; i < sizeof(T); ++i) bits |= static_cast<U>(in[offset + i]) << (8 * i);
  return std::bit_cast<T>(bits);
}

// Every number of the message with its offset, in wire order.
template <class Message, class Visit>
void ForEachNumber(Message& m, Visit visit) {
  visit(0, m.LastPrice);
  visit(8, m.PreSettlementPrice);
  visit(16, m.PreClosePrice);
  visit(24, m.PreOpenInterest);
  visit(32, m.OpenPrice);
  visit(40, m.HighestPrice);
  visit(48, m.LowestPrice);
  visit(56, m.ClosePrice);
  visit(64, m.Turnover);
  visit(72, m.OpenInterest);
  visit(80, m.UpperLimitPrice);
  visit(88, m.LowerLimitPrice);
  visit(96, m.AveragePrice);
  visit(104, m.BidPrice1);
  visit(112, m.AskPrice1);
  visit(120, m.Volume);
  visit(124, m.UpdateMillisec);
  visit(128, m.BidVolume1);
  visit(132, m.AskVolume1);
  visit(136, m.Command);
}

constexpr std::size_t kTextStart = 140;  // InstrumentID up to the reserved byte: plain bytes

std::size_t BoundedLength(const std::uint8_t* text, std::size_t max) {
  std::size_t n = 0;
  while (n < max && text[n] != 0) ++n;
  return n;
}

}  // namespace

ReplayMessage ZeroReplayMessage() {
  ReplayMessage message;
  std::memset(&message, 0, sizeof(message));
  return message;
}

void SetReplayText(char* field, std::size_t width, std::string_view text) {
  std::memset(field, 0, width);
  if (width == 0) return;
  const std::size_t n = std::min(text.size(), width - 1);
  std::memcpy(field, text.data(), n);
}

ReplayMessageBytes EncodeReplayMessage(const ReplayMessage& message) {
  ReplayMessageBytes bytes{};
  ForEachNumber(message, [&](std::size_t offset, auto value) { Store(bytes.data(), offset, value); });
  std::memcpy(bytes.data() + kTextStart, message.InstrumentID, kReplayMessageSize - kTextStart);
  return bytes;
}

bool DecodeReplayMessage(const std::uint8_t* body, std::size_t length, ReplayMessage* out) {
  if (body == nullptr || length < kReplayMessageSize) return false;
  ForEachNumber(*out, [&](std::size_t offset, auto& field) {
    field = Load<std::remove_reference_t<decltype(field)>>(body, offset);
  });
  std::memcpy(out->InstrumentID, body + kTextStart, kReplayMessageSize - kTextStart);
  return true;
}

bool DecodeReplayRequest(const std::uint8_t* body, std::size_t length, ReplayRequest* out) {
  if (body == nullptr || length < kReplayMessageSize) return false;
  out->command = Load<std::int32_t>(body, offsetof(ReplayMessage, Command));
  const std::uint8_t* instrument = body + offsetof(ReplayMessage, InstrumentID);
  const std::uint8_t* begin = body + offsetof(ReplayMessage, BeginTime);
  const std::uint8_t* end = body + offsetof(ReplayMessage, EndTime);
  out->instrument.assign(reinterpret_cast<const char*>(instrument), BoundedLength(instrument, 30));
  out->beginTime.assign(reinterpret_cast<const char*>(begin), BoundedLength(begin, 9));
  out->endTime.assign(reinterpret_cast<const char*>(end), BoundedLength(end, 9));
  return true;
}

ReplayMessageBytes EncodeReplayRequest(std::int32_t command, std::string_view instrument,
                                       std::string_view beginTime, std::string_view endTime) {
  ReplayMessage message = ZeroReplayMessage();
  message.Command = command;
  SetReplayText(message.InstrumentID, instrument);
  SetReplayText(message.BeginTime, beginTime);
  SetReplayText(message.EndTime, endTime);
  return EncodeReplayMessage(message);
}
