#ifndef QUOTELOOM_REPLAY_NET_PACK_DECODER_H
#define QUOTELOOM_REPLAY_NET_PACK_DECODER_H

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

inline constexpr std::size_t kPackHeaderSize = 4;
inline constexpr std::uint32_t kMaxPackLengthBits = 22;
inline constexpr std::uint32_t kMaxPackSizeLimit = (1u << kMaxPackLengthBits) - 1;  // 4194303
inline constexpr std::uint32_t kMaxPackFlag = 1023;

// The header: the flag in bits 22-31, the body length in bits 0-21, little-endian on the wire.
std::uint32_t MakePackHeader(std::uint32_t flag, std::uint32_t bodyLength);
void WritePackHeader(std::uint32_t flag, std::uint32_t bodyLength, std::uint8_t out[kPackHeaderSize]);

// Cuts one connection's byte stream into pack bodies; knows nothing of sockets.
// Owned by one connection and used by one thread at a time.
class PackDecoder {
 public:
  enum class Status { Complete, Error, NeedMore };

  // `flag` 0 accepts any flag; a body longer than `maxPackSize` is a framing error.
  PackDecoder(std::uint32_t maxPackSize, std::uint32_t flag);

  void Append(const std::uint8_t* data, std::size_t length);
  // Complete: `*body` views the next body until the next call. Error: the stream cannot be framed
  // and stays in error. NeedMore: everything complete has been handed out.
  Status Next(std::span<const std::uint8_t>* body);

  std::size_t buffered() const { return buffer_.size() - start_; }

 private:
  const std::uint32_t maxPackSize_;
  const std::uint32_t flag_;
  std::vector<std::uint8_t> buffer_;
  std::size_t start_ = 0;  // first byte not yet consumed
  bool expectingHeader_ = true;
  std::uint32_t bodyLength_ = 0;
  bool failed_ = false;
};

#endif
