#include "replay/net/pack_decoder.h"

std::uint32_t MakePackHeader(std::uint32_t flag, std::uint32_t bodyLength) {
  return (flag << kMaxPackLengthBits) | (bodyLength & kMaxPackSizeLimit);
}

void WritePackHeader(std::uint32_t flag, std::uint32_t bodyLength, std::uint8_t out[kPackHeaderSize]) {
  const std::uint32_t header = MakePackHeader(flag, bodyLength);
  for (std::size_t i = 0; i < kPackHeaderSize; ++i) out[i] = static_cast<std::uint8_t>(header >> (8 * i));
}

PackDecoder::PackDecoder(std::uint32_t maxPackSize, std::uint32_t flag)
    : maxPackSize_(maxPackSize), flag_(flag) {}

void PackDecoder::Append(const std::uint8_t* data, std::size_t length) {
  if (start_ > 0) {
    buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(start_));
    start_ = 0;
  }
  buffer_.insert(buffer_.end(), data, data + length);
}

PackDecoder::Status PackDecoder::Next(std::span<const std::uint8_t>* body) {
  if (failed_) return Status::Error;
  if (expectingHeader_) {
    if (buffered() < kPackHeaderSize) return Status::NeedMore;
    std::uint32_t header = 0;
    for (std::size_t i = 0; i < kPackHeaderSize; ++i) header |= std::uint32_t{buffer_[start_ + i]} << (8 * i);
    const std::uint32_t flag = header >> kMaxPackLengthBits;
    const std::uint32_t length = header & kMaxPackSizeLimit;
    if ((flag_ != 0 && flag != flag_) || length > maxPackSize_) {
      failed_ = true;
      return Status::Error;
    }
    start_ += kPackHeaderSize;
    bodyLength_ = length;
    expectingHeader_ = false;
  }
  if (buffered() < bodyLength_) return Status::NeedMore;
  *body = std::span<const std::uint8_t>(buffer_.data() + start_, bodyLength_);
  start_ += bodyLength_;
  expectingHeader_ = true;
  return Status::Complete;
}
