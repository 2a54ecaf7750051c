#include "metrics/service_notifier.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdio>
#include <string>

namespace {

// A unix datagram socket bound where NOTIFY_SOCKET points, as the service manager listens.
class FakeNotifySocket {
 public:
  FakeNotifySocket() {
    char dir[] = "/tmp/notify-test-XXXXXX";
    dir_ = mkdtemp(dir);
    path_ = dir_ + "/notify";
    fd_ = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof(address.sun_path), "%s", path_.c_str());
    bound_ = ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0;
    setenv("NOTIFY_SOCKET", path_.c_str(), 1);
  }
  ~FakeNotifySocket() {
    unsetenv("NOTIFY_SOCKET");
    ::close(fd_);
    ::unlink(path_.c_str());
    ::rmdir(dir_.c_str());
  }
  bool bound() const { return bound_; }
  // The next datagram, empty when none comes within a second.
  std::string Next() {
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, 1000) <= 0) return "";
    char buffer[4096];
    const ssize_t n = ::recv(fd_, buffer, sizeof(buffer), 0);
    return n > 0 ? std::string(buffer, static_cast<std::size_t>(n)) : "";
  }

 private:
  std::string dir_;
  std::string path_;
  int fd_ = -1;
  bool bound_ = false;
};

TEST(ServiceNotifierTest, SendsReadyStatusAndWatchdogToTheManagersSocket) {
  FakeNotifySocket manager;
  ASSERT_TRUE(manager.bound());
  ServiceNotifier notifier;
  notifier.Ready("ticks written 0\nsecond line");
  EXPECT_EQ(manager.Next(), "READY=1\nSTATUS=ticks written 0 second line");
  notifier.Status("ticks written 12");
  EXPECT_EQ(manager.Next(), "STATUS=ticks written 12");
  notifier.Watchdog();
  EXPECT_EQ(manager.Next(), "WATCHDOG=1");
  notifier.Stopping();
  EXPECT_EQ(manager.Next(), "STOPPING=1");
}

TEST(ServiceNotifierTest, WatchdogIntervalComesFromTheManagerForThisProcessOnly) {
  ServiceNotifier notifier;
  setenv("WATCHDOG_USEC", "30000000", 1);
  setenv("WATCHDOG_PID", std::to_string(getpid()).c_str(), 1);
  EXPECT_EQ(notifier.WatchdogIntervalUsec(), 30000000u);
  setenv("WATCHDOG_PID", std::to_string(getpid() + 1).c_str(), 1);
  EXPECT_EQ(notifier.WatchdogIntervalUsec(), 0u);
  unsetenv("WATCHDOG_USEC");
  unsetenv("WATCHDOG_PID");
  EXPECT_EQ(notifier.WatchdogIntervalUsec(), 0u);
}

}  // namespace
