#ifndef QUOTELOOM_TESTS_CLUSTER_NATS_CLUSTER_H
#define QUOTELOOM_TESTS_CLUSTER_NATS_CLUSTER_H

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/child_process.h"

// A free loopback TCP port (free when asked; the caller binds it soon after).
inline int FreeLoopbackPort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof(a));
  socklen_t n = sizeof(a);
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &n);
  ::close(fd);
  return ntohs(a.sin_port);
}

// nats-server nodes with JetStream on loopback, each with its own store folder under `dir`,
// routed to each other when there are several. Test thread only; the nodes die with the object.
class NatsCluster {
 public:
  NatsCluster(const std::filesystem::path& dir, int nodes) : dir_(dir) {
    for (int i = 0; i < nodes; ++i) {
      clientPorts_.push_back(FreeLoopbackPort());
      routePorts_.push_back(FreeLoopbackPort());
    }
    nodes_.resize(nodes);
  }

  // Options every node is started with as well (authentication, TLS); before Start().
  void SetServerOptions(std::vector<std::string> options) { serverOptions_ = std::move(options); }

  // Starts every node and waits until each says it is ready.
  bool Start() {
    for (int i = 0; i < static_cast<int>(nodes_.size()); ++i) {
      if (!StartNode(i)) return false;
    }
    return true;
  }

  bool StartNode(int i) {
    std::vector<std::string> argv = {NATS_SERVER, "-a", "127.0.0.1", "-p", std::to_string(clientPorts_[i]),
                                     "-n", "node" + std::to_string(i), "-js", "-sd",
                                     (dir_ / ("store" + std::to_string(i))).string()};
    argv.insert(argv.end(), serverOptions_.begin(), serverOptions_.end());
    if (nodes_.size() > 1) {
      std::string routes;
      for (int j = 0; j < static_cast<int>(nodes_.size()); ++j) {
        if (j == i) continue;
        routes += (routes.empty() ? "" : ",") + std::string("nats://127.0.0.1:") + std::to_string(routePorts_[j]);
      }
      argv.insert(argv.end(), {"--cluster", "nats://127.0.0.1:" + std::to_string(routePorts_[i]), "--cluster_name",
                               "quoteloom-test", "--routes", routes});
    }
    const std::string log = (dir_ / ("node" + std::to_string(i) + "-" + std::to_string(++starts_) + ".log")).string();
    nodes_[i] = std::make_unique<ChildProcess>(argv, log);
    return WaitUntil([&] { return nodes_[i]->Output().find("Server is ready") != std::string::npos; },
                     std::chrono::seconds(15));
  }

  void KillNode(int i) {
    nodes_[i]->Signal(SIGKILL);
    nodes_[i]->Wait(std::chrono::seconds(10));
  }

  int clientPort(int i) const { return clientPorts_[i]; }
  // "nats://127.0.0.1:P1,nats://127.0.0.1:P2,..."
  std::string Urls() const {
    std::string urls;
    for (int port : clientPorts_) urls += (urls.empty() ? "" : ",") + std::string("nats://127.0.0.1:") + std::to_string(port);
    return urls;
  }

 private:
  std::filesystem::path dir_;
  std::vector<int> clientPorts_;
  std::vector<int> routePorts_;
  std::vector<std::unique_ptr<ChildProcess>> nodes_;
  std::vector<std::string> serverOptions_;
  int starts_ = 0;
};

#endif
