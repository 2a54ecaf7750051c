#include "metrics/metrics_endpoint.h"

#include <arpa/inet.h>

#include <cerrno>
#include <cstdlib>
#include <exception>
#include <prometheus/exposer.h>

bool ParseMetricsAddress(const std::string& text, MetricsAddress* address, std::string* error) {
  if (text == "off") {
    *address = MetricsAddress{true, "", 0};
    return true;
  }
  const std::size_t colon = text.rfind(':');
  const std::string host = colon == std::string::npos ? "" : text.substr(0, colon);
  const std::string port = colon == std::string::npos ? "" : text.substr(colon + 1);
  in_addr parsed{};
  if (host.empty() || inet_pton(AF_INET, host.c_str(), &parsed) != 1) {
    *error = "--metrics takes HOST:PORT with an IPv4 address such as 127.0.0.1:9470, or off, not '" + text + "'";
    return false;
  }
  char* end = nullptr;
  errno = 0;
  const long number = std::strtol(port.c_str(), &end, 10);
  if (port.empty() || *end != '\0' || errno != 0 || number < 0 || number > 65535) {
    *error = "--metrics takes a port from 0 to 65535, not '" + port + "'";
    return false;
  }
  *address = MetricsAddress{false, host, static_cast<unsigned short>(number)};
  return true;
}

MetricsEndpoint::MetricsEndpoint() = default;

MetricsEndpoint::~MetricsEndpoint() = default;

bool MetricsEndpoint::Start(const MetricsAddress& address, std::string* error) {
  if (address.off || exposer_ != nullptr) return true;
  const std::string where = address.host + ":" + std::to_string(address.port);
  std::vector<std::string> options = {
      "listening_ports", where,
      "num_threads", std::to_string(kThreads),
      "request_timeout_ms", std::to_string(kRequestTimeoutMs),
      "enable_keep_alive", "no",
  };
  try {
    exposer_ = std::make_unique<prometheus::Exposer>(std::move(options));
  } catch (const std::exception& e) {
    *error = "cannot serve metrics on " + where + " (in use, or not an address of this machine): " + e.what();
    return false;
  }
  for (const auto& collectable : collectables_) exposer_->RegisterCollectable(collectable);
  return true;
}

void MetricsEndpoint::Register(std::shared_ptr<prometheus::Collectable> collectable) {
  if (exposer_ != nullptr) exposer_->RegisterCollectable(collectable);
  collectables_.push_back(std::move(collectable));
}

unsigned short MetricsEndpoint::port() const {
  if (exposer_ == nullptr) return 0;
  const std::vector<int> ports = exposer_->GetListeningPorts();
  return ports.empty() ? 0 : static_cast<unsigned short>(ports.front());
}
