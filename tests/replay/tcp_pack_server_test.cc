#include "replay/net/tcp_pack_server.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <mutex>
#include <functional>
#include <thread>

#include "replay/net/tcp_server.h"
#include "tests/replay/recording_listener.h"
#include "tests/replay/test_socket.h"

namespace {

using PackServer = CTcpPackServerT<CTcpServer>;
constexpr std::uint32_t kFlag = 361;

class PackServerTest : public ::testing::Test {
 protected:
  void Configure(PackServer& s) {
    s.SetPackLimit(4095);
    s.SetPackFlag(kFlag);
    s.SetWorkerThreadCount(4);
    s.SetAcceptSocketCount(8);
  }
  void StartServer() {
    Configure(server);
    ASSERT_TRUE(server.Start("127.0.0.1", 0)) << server.LastErrorText();
    char address[32];
    int length = sizeof(address);
    ASSERT_TRUE(server.ListenAddress(address, length, port));
    EXPECT_STREQ(address, "127.0.0.1");
  }
  // Connects and waits until the server has raised OnHandShake for `id`.
  TestSocket Connect(ConnectionId id) {
    TestSocket socket;
    EXPECT_TRUE(socket.Connect(port));
    EXPECT_TRUE(listener.WaitFor("handshake " + std::to_string(id))) << "connection " << id;
    return socket;
  }

  RecordingListener listener;
  PackServer server{&listener};
  unsigned short port = 0;
};

TEST_F(PackServerTest, StartAndStopFollowTheStates) {
  EXPECT_EQ(server.GetState(), ServiceState::Stopped);
  StartServer();
  EXPECT_EQ(server.GetState(), ServiceState::Started);
  EXPECT_FALSE(server.Start("127.0.0.1", 0));
  EXPECT_EQ(server.LastError(), SocketError::IllegalState);
  EXPECT_STREQ(server.LastErrorText(), "Illegal State");
  EXPECT_EQ(server.GetState(), ServiceState::Started);

  EXPECT_TRUE(server.Stop());
  EXPECT_EQ(server.GetState(), ServiceState::Stopped);
  EXPECT_FALSE(server.Stop());
  EXPECT_EQ(listener.events(), (std::vector<std::string>{"prepare", "shutdown"}));
}

TEST_F(PackServerTest, PortInUseFailsWithBindErrorAndShutdownOnly) {
  StartServer();
  RecordingListener otherListener;
  PackServer other(&otherListener);
  Configure(other);
  EXPECT_FALSE(other.Start("127.0.0.1", port));
  EXPECT_EQ(other.LastError(), SocketError::SocketBind);
  EXPECT_STREQ(other.LastErrorText(), "Bind SOCKET Fail");
  EXPECT_EQ(other.GetState(), ServiceState::Stopped);
  EXPECT_EQ(otherListener.events(), (std::vector<std::string>{"shutdown"}));
}

TEST_F(PackServerTest, SettingsOutOfRangeRefuseToStartWithoutEvents) {
  const std::vector<std::pair<const char*, std::function<void(PackServer&)>>> cases = {
      {"pack limit 0", [](PackServer& s) { s.SetPackLimit(0); }},
      {"pack limit 4194304", [](PackServer& s) { s.SetPackLimit(4194304); }},
      {"flag 1024", [](PackServer& s) { s.SetPackFlag(1024); }},
      {"no worker", [](PackServer& s) { s.SetWorkerThreadCount(0); }},
      {"501 workers", [](PackServer& s) { s.SetWorkerThreadCount(501); }},
      {"buffer 63", [](PackServer& s) { s.SetSocketBufferSize(63); }},
      {"keep-alive 999 ms", [](PackServer& s) { s.SetKeepAliveTime(999); }},
      {"interval 500 ms", [](PackServer& s) { s.SetKeepAliveInterval(500); }},
      {"no connection", [](PackServer& s) { s.SetMaxConnectionCount(0); }},
      {"hold below pool", [](PackServer& s) { s.SetFreeSocketObjHold(10); }},
      {"buffer hold below pool", [](PackServer& s) { s.SetFreeBufferObjHold(10); }},
  };
  for (const auto& [name, spoil] : cases) {
    SCOPED_TRACE(name);
    RecordingListener l;
    PackServer s(&l);
    Configure(s);
    spoil(s);
    EXPECT_FALSE(s.Start("127.0.0.1", 0));
    EXPECT_EQ(s.LastError(), SocketError::InvalidParam);
    EXPECT_TRUE(l.events().empty());
  }
  RecordingListener l;
  PackServer s(&l);
  Configure(s);
  s.SetPackLimit(4194303);
  s.SetPackFlag(1023);
  s.SetKeepAliveTime(0);
  EXPECT_TRUE(s.Start("127.0.0.1", 0)) << "the edges of the ranges are valid";
}

TEST_F(PackServerTest, FailuresAfterStartingUndoThemselves) {
  EXPECT_FALSE(server.Start("not-an-address", 0));
  EXPECT_EQ(server.LastError(), SocketError::SocketBind);
  EXPECT_EQ(listener.events(), (std::vector<std::string>{"shutdown"}));

  listener.prepareResult = EventResult::Error;
  EXPECT_FALSE(server.Start("127.0.0.1", 0));
  EXPECT_EQ(server.LastError(), SocketError::SocketPrepare);
  EXPECT_EQ(listener.events(), (std::vector<std::string>{"shutdown", "prepare", "shutdown"}));
  EXPECT_EQ(server.GetState(), ServiceState::Stopped);

  listener.prepareResult = EventResult::Ok;
  StartServer();
}

TEST_F(PackServerTest, IdsRotateAndStartAgainAtOneAfterRestart) {
  StartServer();
  TestSocket a = Connect(1);
  TestSocket b = Connect(2);
  TestSocket c = Connect(3);
  b.Close();
  ASSERT_TRUE(listener.WaitFor("close 2 5 0"));
  TestSocket d = Connect(4);  // slot 2 is free, but the cursor has moved past it
  EXPECT_EQ(listener.EventsOf(2), (std::vector<std::string>{"accept 2", "handshake 2", "close 2 5 0"}));

  ASSERT_TRUE(server.Stop());
  listener.Clear();
  StartServer();
  TestSocket e = Connect(1);
  EXPECT_EQ(server.GetConnectionCount(), 1u);
}

TEST_F(PackServerTest, FramingOverTheWire) {
  const std::string body217(217, 'm');
  const std::string body4095(4095, 'k');
  std::vector<std::uint8_t> header4096(4);
  WritePackHeader(kFlag, 4096, header4096.data());
  auto join = [](std::vector<std::vector<std::uint8_t>> parts) {
    std::vector<std::uint8_t> all;
    for (const auto& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
  };
  const struct Case {
    const char* name;
    std::vector<std::uint8_t> bytes;
    std::vector<std::size_t> segments;  // sizes sent apart, the rest at the end
    std::vector<std::string> bodies;
    bool closes;
  } cases[] = {
      {"split over three segments", Pack(kFlag, Bytes(body217)), {2, 100}, {body217}, false},
      {"three packs in one segment", join({Pack(kFlag, Bytes("a")), Pack(kFlag, Bytes("bb")), Pack(kFlag, Bytes("c"))}),
       {}, {"a", "bb", "c"}, false},
      {"4095 bytes arrive whole", Pack(kFlag, Bytes(body4095)), {1000}, {body4095}, false},
      {"empty body", Pack(kFlag, {}), {}, {""}, false},
      {"4096 bytes announced", join({Pack(kFlag, Bytes("ok")), header4096}), {}, {"ok"}, true},
      {"wrong flag", Pack(360, Bytes("no")), {}, {}, true},
  };
  StartServer();
  ConnectionId id = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ++id;
    TestSocket client = Connect(id);
    std::size_t offset = 0;
    for (std::size_t size : c.segments) {
      ASSERT_TRUE(client.Send({c.bytes.begin() + offset, c.bytes.begin() + offset + size}));
      offset += size;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ASSERT_TRUE(client.Send({c.bytes.begin() + offset, c.bytes.end()}));
    if (c.closes) {
      EXPECT_TRUE(listener.WaitFor("close " + std::to_string(id) + " 4 1223"));
      EXPECT_TRUE(client.WaitClosed());
    } else {
      EXPECT_TRUE(listener.WaitFor("receive " + std::to_string(id) + " " + std::to_string(c.bodies.back().size())));
      EXPECT_TRUE(client.Quiet(30));
    }
    EXPECT_EQ(listener.Bodies(id), c.bodies);
  }
}

TEST_F(PackServerTest, ErrorFromOnReceiveClosesWith1223) {
  listener.receiveResult = EventResult::Error;
  StartServer();
  TestSocket client = Connect(1);
  std::vector<std::uint8_t> two = Pack(kFlag, Bytes("x"));
  const auto second = Pack(kFlag, Bytes("y"));
  two.insert(two.end(), second.begin(), second.end());
  ASSERT_TRUE(client.Send(two));
  EXPECT_TRUE(listener.WaitFor("close 1 4 1223"));
  EXPECT_TRUE(client.WaitClosed());
  EXPECT_EQ(listener.Bodies(1), (std::vector<std::string>{"x"})) << "nothing after the refused body";
}

TEST_F(PackServerTest, ErrorFromAcceptOrHandShakeClosesWithoutOnClose) {
  const struct {
    const char* name;
    bool failAccept;
    std::vector<std::string> events;
  } cases[] = {
      {"OnAccept", true, {"accept 1"}},
      {"OnHandShake", false, {"accept 1", "handshake 1"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    RecordingListener l;
    PackServer s(&l);
    Configure(s);
    (c.failAccept ? l.acceptResult : l.handshakeResult) = EventResult::Error;
    ASSERT_TRUE(s.Start("127.0.0.1", 0));
    char address[32];
    int length = sizeof(address);
    unsigned short p = 0;
    ASSERT_TRUE(s.ListenAddress(address, length, p));
    TestSocket client;
    ASSERT_TRUE(client.Connect(p));
    EXPECT_TRUE(client.WaitClosed());
    ASSERT_TRUE(s.Stop());
    EXPECT_EQ(l.EventsOf(1), c.events);
    EXPECT_EQ(l.events().back(), "shutdown");
  }
}

TEST_F(PackServerTest, SendRules) {
  listener.onAccept = [](ITcpServer* sender, ConnectionId id, SocketHandle) {
    const std::uint8_t hello[] = {'h', 'i'};
    sender->Send(id, hello, 2);  // sending from inside OnAccept is allowed
  };
  StartServer();
  TestSocket client = Connect(1);
  EXPECT_EQ(client.Read(6), Pack(kFlag, Bytes("hi")));

  const std::vector<std::uint8_t> big(4096, 'b');
  EXPECT_FALSE(server.Send(1, big.data(), 0));
  EXPECT_FALSE(server.Send(1, big.data(), 4096));
  EXPECT_FALSE(server.Send(1, big.data(), -1));
  EXPECT_FALSE(server.Send(2, big.data(), 10)) << "no such connection";
  EXPECT_FALSE(server.Send(0, big.data(), 10));
  EXPECT_TRUE(client.Quiet(30)) << "nothing sent for the refused calls";

  ASSERT_TRUE(server.Send(1, big.data(), 4095));
  const auto frame = client.Read(4 + 4095);
  ASSERT_TRUE(frame);
  EXPECT_EQ(*frame, Pack(kFlag, std::vector<std::uint8_t>(4095, 'b')));
  EXPECT_TRUE(listener.WaitSent(1, 6 + 4099)) << "OnSend reports every byte written";

  client.Close();
  ASSERT_TRUE(listener.WaitFor("close 1 5 0"));
  EXPECT_FALSE(server.Send(1, big.data(), 10)) << "after OnClose";
}

TEST_F(PackServerTest, FullTableClosesNewClientsWithoutEvents) {
  server.SetMaxConnectionCount(2);
  StartServer();
  TestSocket a = Connect(1);
  TestSocket b = Connect(2);
  TestSocket c;
  ASSERT_TRUE(c.Connect(port));
  EXPECT_TRUE(c.WaitClosed());
  EXPECT_TRUE(listener.EventsOf(3).empty());
  EXPECT_EQ(server.GetConnectionCount(), 2u);

  a.Close();
  ASSERT_TRUE(listener.WaitFor("close 1 5 0"));
  TestSocket d = Connect(1);
}

// Beyond the limits a new client is closed at once, before any event, and the owner is told why.
TEST_F(PackServerTest, ConnectionLimitsInTotalAndPerAddressCloseNewClientsAtOnce) {
  std::mutex mutex;
  std::vector<std::string> refusals;
  server.SetRefusalHandler([&](ConnectionRefusal why, const char* address, unsigned short) {
    std::lock_guard<std::mutex> lock(mutex);
    refusals.push_back(std::to_string(static_cast<int>(why)) + " " + address);
  });
  server.SetMaxOpenConnections(3);
  server.SetMaxConnectionsPerPeer(2);
  StartServer();
  const auto refused = [&](const char* from) {
    TestSocket late;
    return late.Connect(port, from) && late.WaitClosed();
  };
  TestSocket a = Connect(1);
  TestSocket b;
  ASSERT_TRUE(b.Connect(port, "127.0.0.1"));
  ASSERT_TRUE(listener.WaitFor("handshake 2"));
  EXPECT_TRUE(refused("127.0.0.1")) << "a third from one address";
  TestSocket c;
  ASSERT_TRUE(c.Connect(port, "127.0.0.2"));
  ASSERT_TRUE(listener.WaitFor("handshake 3"));
  EXPECT_TRUE(refused("127.0.0.3")) << "a fourth in total";
  EXPECT_EQ(server.GetConnectionCount(), 3u);
  EXPECT_TRUE(listener.EventsOf(4).empty()) << "refused clients raise no event";
  {
    std::lock_guard<std::mutex> lock(mutex);
    EXPECT_EQ(refusals, (std::vector<std::string>{"2 127.0.0.1", "1 127.0.0.3"}));
  }

  a.Close();
  ASSERT_TRUE(listener.WaitFor("close 1 5 0"));
  for (int i = 0; i < 200 && server.GetConnectionCount() != 2; ++i)  // its slot is freed after OnClose
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  TestSocket d;
  ASSERT_TRUE(d.Connect(port, "127.0.0.1")) << "room again for the address";
  ASSERT_TRUE(listener.WaitFor("handshake 4"));
}

// Idle clients and half-sent packs are closed after the timeout; a held connection that only
// receives stays, and so does a client that keeps sending whole packs. Trickling the bytes of one
// pack does not keep it open.
TEST_F(PackServerTest, IdleAndHalfSentConnectionsTimeOut) {
  server.SetIdleTimeout(400);
  StartServer();
  TestSocket idle = Connect(1);
  TestSocket halfSent = Connect(2);
  TestSocket held = Connect(3);
  TestSocket chatty = Connect(4);
  ASSERT_TRUE(server.HoldOpen(3, true));
  const auto start = std::chrono::steady_clock::now();
  const std::vector<std::uint8_t> big = Pack(kFlag, std::vector<std::uint8_t>(4000, 'z'));
  ASSERT_TRUE(halfSent.Send({big.begin(), big.begin() + 3}));
  for (int i = 0; i < 12; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    halfSent.Send({big[3 + static_cast<std::size_t>(i)]});  // one byte at a time: far from complete
    ASSERT_TRUE(chatty.Send(Pack(kFlag, Bytes("x"))));
    ASSERT_TRUE(server.Send(3, reinterpret_cast<const std::uint8_t*>("tick"), 4));
  }
  EXPECT_TRUE(listener.Has("close 1 4 110")) << "idle";
  EXPECT_TRUE(listener.Has("close 2 4 110")) << "half-sent";
  EXPECT_TRUE(idle.WaitClosed(100));
  EXPECT_TRUE(halfSent.WaitClosed(100));
  EXPECT_EQ(listener.EventsOf(3).size(), 2u) << "held: still open";
  EXPECT_FALSE(listener.Has("close 4 4 110")) << "sending whole packs: still open";
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1200));

  ASSERT_TRUE(server.HoldOpen(3, false));
  EXPECT_TRUE(listener.WaitFor("close 3 4 110", 2000)) << "released, then idle";
}

// Unsent bytes per client are bounded; a client that stops reading is closed after the timeout.
TEST_F(PackServerTest, SendQueueIsBoundedAndANonReadingClientIsClosed) {
  constexpr std::uint32_t kQueue = 16 * 1024;
  server.SetMaxSendQueue(kQueue);
  server.SetIdleTimeout(500);
  StartServer();
  TestSocket client;
  ASSERT_TRUE(client.Connect(port, nullptr, 4096));
  ASSERT_TRUE(listener.WaitFor("handshake 1"));
  ASSERT_TRUE(server.HoldOpen(1, true));
  const std::vector<std::uint8_t> body(4000, 'q');
  std::int64_t most = 0;
  int refused = 0;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (!listener.Has("close 1 3 110") && std::chrono::steady_clock::now() < deadline) {
    if (!server.Send(1, body.data(), static_cast<int>(body.size()))) {
      EXPECT_TRUE(errno == ENOBUFS || server.QueuedSendBytes(1) < 0);
      ++refused;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    most = std::max(most, server.QueuedSendBytes(1));
  }
  EXPECT_TRUE(listener.Has("close 1 3 110")) << "closed for not reading";
  EXPECT_GT(refused, 0);
  EXPECT_LE(most, static_cast<std::int64_t>(kQueue));
  EXPECT_EQ(server.QueuedSendBytes(1), -1);
}

TEST_F(PackServerTest, StopClosesEveryConnectionThenShutsDown) {
  StartServer();
  std::vector<TestSocket> clients;
  for (ConnectionId id = 1; id <= 3; ++id) clients.push_back(Connect(id));
  ASSERT_TRUE(clients[1].Send(Pack(kFlag, Bytes("x"))));
  ASSERT_TRUE(listener.WaitFor("receive 2 1"));
  ASSERT_TRUE(server.Stop());

  const auto events = listener.events();
  EXPECT_EQ(events.back(), "shutdown");
  EXPECT_EQ(listener.EventsOf(1), (std::vector<std::string>{"accept 1", "handshake 1", "close 1 5 0"}));
  EXPECT_EQ(listener.EventsOf(2),
            (std::vector<std::string>{"accept 2", "handshake 2", "receive 2 1", "close 2 5 0"}));
  EXPECT_EQ(listener.EventsOf(3), (std::vector<std::string>{"accept 3", "handshake 3", "close 3 5 0"}));
  for (TestSocket& client : clients) EXPECT_TRUE(client.WaitClosed());
  TestSocket late;
  EXPECT_FALSE(late.Connect(port)) << "the listening socket is closed";
}

TEST_F(PackServerTest, AcceptedSocketsProbeKeepAlive) {
  std::atomic<int> keepAlive{-1}, idle{-1}, interval{-1};
  listener.onAccept = [&](ITcpServer*, ConnectionId, SocketHandle fd) {
    int value = 0;
    socklen_t length = sizeof(value);
    getsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &value, &length);
    keepAlive = value;
    getsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &value, &length);
    idle = value;
    getsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &value, &length);
    interval = value;
  };
  StartServer();
  TestSocket client = Connect(1);
  EXPECT_EQ(keepAlive, 1);
  EXPECT_EQ(idle, 30);
  EXPECT_EQ(interval, 10);

  char address[32];
  int length = sizeof(address);
  unsigned short peerPort = 0;
  ASSERT_TRUE(server.PeerAddress(1, address, length, peerPort));
  EXPECT_STREQ(address, "127.0.0.1");
  EXPECT_NE(peerPort, 0);
  length = 4;
  EXPECT_FALSE(server.PeerAddress(1, address, length, peerPort)) << "buffer too small";
  EXPECT_EQ(length, 10);
}

// Two threads send numbered packs to their own connections; each client sees its numbers in order.
TEST_F(PackServerTest, SendsToOneConnectionKeepTheirOrder) {
  StartServer();
  TestSocket a = Connect(1);
  TestSocket b = Connect(2);
  constexpr std::uint32_t kCount = 5000;
  auto sender = [this](ConnectionId id) {
    for (std::uint32_t i = 0; i < kCount; ++i) {
      std::uint8_t body[4];
      std::memcpy(body, &i, 4);
      ASSERT_TRUE(server.Send(id, body, 4));
    }
  };
  std::thread t1(sender, 1), t2(sender, 2);
  auto check = [](TestSocket& client) {
    const auto all = client.Read(kCount * 8, 10000);
    ASSERT_TRUE(all);
    for (std::uint32_t i = 0; i < kCount; ++i) {
      std::uint32_t value = 0;
      std::memcpy(&value, all->data() + i * 8 + 4, 4);
      ASSERT_EQ(value, i);
    }
  };
  check(a);
  check(b);
  t1.join();
  t2.join();
  EXPECT_TRUE(listener.WaitSent(1, kCount * 8));
  EXPECT_TRUE(listener.WaitSent(2, kCount * 8));
}

// A handler that stops or starts its own server would wait for itself: refused.
TEST_F(PackServerTest, WorkerThreadsCannotStopOrStartTheServer) {
  std::atomic<int> results{-1};
  listener.onReceive = [&](ITcpServer* sender, ConnectionId) {
    results = (sender->Stop() ? 1 : 0) + (sender->Start("127.0.0.1", 0) ? 2 : 0);
  };
  StartServer();
  TestSocket client = Connect(1);
  ASSERT_TRUE(client.Send(Pack(kFlag, Bytes("stop"))));
  ASSERT_TRUE(listener.WaitFor("receive 1 4"));
  EXPECT_EQ(results, 0);
  EXPECT_EQ(server.GetState(), ServiceState::Started);
  EXPECT_EQ(server.LastError(), SocketError::IllegalState);
}

TEST_F(PackServerTest, EchoListenerRoundTrip) {
  listener.echo = true;
  StartServer();
  TestSocket client = Connect(1);
  ASSERT_TRUE(client.Send(Pack(kFlag, Bytes("ping"))));
  EXPECT_EQ(client.Read(8), Pack(kFlag, Bytes("ping")));
}

}  // namespace
