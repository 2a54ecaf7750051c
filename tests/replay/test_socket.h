#ifndef QUOTELOOM_TESTS_REPLAY_TEST_SOCKET_H
#define QUOTELOOM_TESTS_REPLAY_TEST_SOCKET_H

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// A blocking loopback TCP client for tests: raw bytes in and out, every wait bounded.
class TestSocket {
 public:
  TestSocket() = default;
  ~TestSocket();
  TestSocket(TestSocket&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
  TestSocket(const TestSocket&) = delete;
  TestSocket& operator=(const TestSocket&) = delete;

  // To 127.0.0.1:`port`, from the loopback address `from` (any of 127.0.0.0/8), with a receive
  // buffer of `receiveBuffer` bytes when not 0 (a client that reads little holds little).
  bool Connect(unsigned short port, const char* from = nullptr, int receiveBuffer = 0);
  bool Send(const std::vector<std::uint8_t>& bytes);
  // Exactly `n` bytes within `timeoutMs`, or nullopt.
  std::optional<std::vector<std::uint8_t>> Read(std::size_t n, int timeoutMs = 5000);
  // True once the server has closed the connection (end of stream or reset) within `timeoutMs`.
  bool WaitClosed(int timeoutMs = 5000);
  // True if nothing at all arrives within `timeoutMs`.
  bool Quiet(int timeoutMs);
  void Close();
  int fd() const { return fd_; }

 private:
  int fd_ = -1;
};

// A pack: the 4-byte header of `flag` and the body's length, then the body.
std::vector<std::uint8_t> Pack(std::uint32_t flag, const std::vector<std::uint8_t>& body);
std::vector<std::uint8_t> Bytes(const std::string& text);

// Fresh directory under /tmp, removed with everything in it when the object goes.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  const std::string& path() const { return path_; }
  // Writes `content` to `relative`, creating the folders on the way.
  void Write(const std::string& relative, const std::string& content) const;

 private:
  std::string path_;
};

// A port on which nothing listens (bound once, then released).
unsigned short UnusedPort();

#endif
