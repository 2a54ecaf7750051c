#ifndef QUOTELOOM_REPLAY_NET_TCP_PACK_SERVER_H
#define QUOTELOOM_REPLAY_NET_TCP_PACK_SERVER_H

#include <cerrno>
#include <cstdint>
#include <memory>
#include <span>

#include "replay/net/pack_decoder.h"
#include "replay/net/socket_interface.h"

// A pack-framed server over the TCP server T: every Send becomes one pack (4-byte header, then the
// body), and OnReceive is raised once per complete pack body. Same thread rules as T.
template <class T>
class CTcpPackServerT : public IPackSocket, public T {
 public:
  static constexpr std::uint32_t kDefaultMaxPackSize = 262144;

  explicit CTcpPackServerT(ITcpServerListener* listener) : T(listener) {}
  // Stops here, while the pack layer still exists for the connections that close.
  ~CTcpPackServerT() override { this->Stop(); }

  void SetPackLimit(std::uint32_t maxPackSize) override { maxPackSize_ = maxPackSize; }
  void SetPackFlag(std::uint16_t flag) override { flag_ = flag; }
  std::uint32_t GetPackLimit() const override { return maxPackSize_; }
  std::uint16_t GetPackFlag() const override { return flag_; }

  // False, with errno EMSGSIZE, for a length outside 1 to the pack limit.
  bool Send(ConnectionId id, const std::uint8_t* data, int length) override {
    if (data == nullptr || length <= 0 || static_cast<std::uint32_t>(length) > maxPackSize_) {
      errno = EMSGSIZE;
      return false;
    }
    std::uint8_t header[kPackHeaderSize];
    WritePackHeader(flag_, static_cast<std::uint32_t>(length), header);
    return this->SendUnit(id, header, kPackHeaderSize, data, static_cast<std::size_t>(length));
  }

 protected:
  using typename T::ReceiveContext;

  bool CheckParams() const override {
    return maxPackSize_ >= 1 && maxPackSize_ <= kMaxPackSizeLimit && flag_ <= kMaxPackFlag && T::CheckParams();
  }

  std::unique_ptr<ReceiveContext> NewReceiveContext() override {
    return std::make_unique<PackContext>(maxPackSize_, flag_);
  }

  std::size_t PartialReceiveBytes(const ReceiveContext* context) const override {
    return static_cast<const PackContext*>(context)->decoder.buffered();
  }

  bool DeliverReceived(ConnectionId id, ReceiveContext* context, const std::uint8_t* data, std::size_t length,
                       int* errorCode) override {
    PackDecoder& decoder = static_cast<PackContext*>(context)->decoder;
    decoder.Append(data, length);
    for (;;) {
      std::span<const std::uint8_t> body;
      switch (decoder.Next(&body)) {
        case PackDecoder::Status::NeedMore:
          return true;
        case PackDecoder::Status::Error:
          *errorCode = kFramingErrorCode;
          return false;
        case PackDecoder::Status::Complete:
          if (this->listener()->OnReceive(this, id, body.data(), static_cast<int>(body.size())) ==
              EventResult::Error) {
            *errorCode = kFramingErrorCode;
            return false;
          }
          break;
      }
    }
  }

 private:
  struct PackContext : ReceiveContext {
    PackContext(std::uint32_t maxPackSize, std::uint32_t flag) : decoder(maxPackSize, flag) {}
    PackDecoder decoder;
  };

  std::uint32_t maxPackSize_ = kDefaultMaxPackSize;  // written while stopped
  std::uint16_t flag_ = 0;                           // written while stopped
};

#endif
