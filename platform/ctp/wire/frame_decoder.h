#ifndef QUOTELOOM_PLATFORM_CTP_WIRE_FRAME_DECODER_H
#define QUOTELOOM_PLATFORM_CTP_WIRE_FRAME_DECODER_H

#include <cstddef>
#include <string>
#include <string_view>

#include "platform/ctp/wire/front_message.h"

// Splits a byte stream into frames; owned by the one thread that reads the socket.
// Feed bytes with Append, then call Next until it answers kNeedMore or kBad.
class FrameDecoder {
 public:
  enum class Result { kFrame, kNeedMore, kBad };

  void Append(const char* data, std::size_t size);
  // On kFrame sets type and payload; the payload stays valid until the next Append or Next.
  Result Next(FrontMessageType* type, std::string_view* payload);
  void Reset();
  std::size_t buffered() const { return buffer_.size() - start_; }

 private:
  std::string buffer_;
  std::size_t start_ = 0;
};

#endif
