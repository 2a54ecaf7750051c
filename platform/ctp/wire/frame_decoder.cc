#include "platform/ctp/wire/frame_decoder.h"

#include <cstdint>
#include <cstring>

void FrameDecoder::Append(const char* data, std::size_t size) {
  // Drop consumed bytes before growing, so the buffer stays about one read long.
  if (start_ > 0 && (start_ == buffer_.size() || start_ > 64 * 1024)) {
    buffer_.erase(0, start_);
    start_ = 0;
  }
  buffer_.append(data, size);
}

FrameDecoder::Result FrameDecoder::Next(FrontMessageType* type, std::string_view* payload) {
  std::size_t available = buffer_.size() - start_;
  if (available < kFrameHeaderSize) return Result::kNeedMore;
  std::uint32_t length = 0;
  std::memcpy(&length, buffer_.data() + start_, sizeof length);
  if (length > kMaxFramePayload) return Result::kBad;
  if (available < kFrameHeaderSize + length) return Result::kNeedMore;
  *type = static_cast<FrontMessageType>(static_cast<unsigned char>(buffer_[start_ + 4]));
  *payload = std::string_view(buffer_.data() + start_ + kFrameHeaderSize, length);
  start_ += kFrameHeaderSize + length;
  return Result::kFrame;
}

void FrameDecoder::Reset() {
  buffer_.clear();
  start_ = 0;
}
