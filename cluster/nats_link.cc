#include "cluster/nats_link.h"

#include <algorithm>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace {

constexpr int64_t kNanosPerSecond = 1000000000LL;

// Given so that a connect that cannot reach any server returns at once and goes on in the background.
void OnConnected(natsConnection*, void*) {}

// The library's threads report problems here. Process-wide, because a closed connection's
// callbacks may still run after its link is gone.
struct Problem {
  std::mutex mutex;  // guards text
  std::string text;
};

Problem& TheProblem() {
  static Problem problem;
  return problem;
}

int64_t ReconnectDelay(natsConnection*, int attempts, void*) {
  return std::min<int64_t>(5000, 100LL << std::min(attempts, 6));
}

}  // namespace

NatsLink::NatsLink(const ClusterSettings& settings) : settings_(settings) {}

NatsLink::~NatsLink() {
  jsCtx_Destroy(js_);
  if (connection_ != nullptr) {
    natsConnection_Close(connection_);
    natsConnection_Destroy(connection_);
  }
  natsOptions_Destroy(options_);
}

std::string NatsLink::LastError(natsStatus status) {
  natsStatus ignored;
  const char* text = nats_GetLastError(&ignored);
  std::string out = natsStatus_GetText(status);
  if (text != nullptr && *text != '\0') out = text;
  // The library puts its source location first: "(conn.c:1905): Authorization Violation".
  if (!out.empty() && out.front() == '(') {
    const auto end = out.find("): ");
    if (end != std::string::npos) out.erase(0, end + 3);
  }
  return out;
}

void NatsLink::SetPublishAsync(int maxPending, jsPubAckHandler onAnswer, void* closure) {
  maxPending_ = maxPending;
  onAnswer_ = onAnswer;
  onAnswerClosure_ = closure;
}

natsStatus NatsLink::MakeOptions(natsOptions** out, bool retryInBackground) const {
  std::vector<const char*> servers;
  for (const auto& s : settings_.servers) servers.push_back(s.c_str());
  natsStatus s = natsOptions_Create(out);
  natsOptions* options = *out;
  if (s == NATS_OK) s = natsOptions_SetServers(options, servers.data(), static_cast<int>(servers.size()));
  if (s == NATS_OK) s = natsOptions_SetName(options, "quoteloom");
  if (s == NATS_OK) s = natsOptions_SetTimeout(options, 2000);
  if (s == NATS_OK) s = natsOptions_SetMaxReconnect(options, -1);
  if (s == NATS_OK) s = natsOptions_SetCustomReconnectDelay(options, ReconnectDelay, nullptr);
  if (s == NATS_OK) s = natsOptions_SetPingInterval(options, 5000);
  if (s == NATS_OK) s = natsOptions_SetMaxPingsOut(options, 2);
  if (s == NATS_OK) s = natsOptions_SetRetryOnFailedConnect(options, retryInBackground, retryInBackground ? OnConnected : nullptr, nullptr);
  if (s == NATS_OK && settings_.onlyListedServers) s = natsOptions_SetIgnoreDiscoveredServers(options, true);
  if (s == NATS_OK && !settings_.user.empty()) {
    s = natsOptions_SetUserInfo(options, settings_.user.c_str(), settings_.password.c_str());
  }
  if (s == NATS_OK && !settings_.token.empty()) s = natsOptions_SetToken(options, settings_.token.c_str());
  if (s == NATS_OK && !settings_.credentialsFile.empty()) {
    s = natsOptions_SetUserCredentialsFromFiles(options, settings_.credentialsFile.c_str(), nullptr);
  }
  if (s == NATS_OK && (settings_.tls || !settings_.tlsCaFile.empty())) s = natsOptions_SetSecure(options, true);
  if (s == NATS_OK && !settings_.tlsCaFile.empty()) {
    s = natsOptions_LoadCATrustedCertificates(options, settings_.tlsCaFile.c_str());
  }
  if (s == NATS_OK) s = natsOptions_SetDisconnectedCB(options, OnConnectionEvent, nullptr);
  if (s == NATS_OK) s = natsOptions_SetClosedCB(options, OnConnectionEvent, nullptr);
  if (s == NATS_OK) s = natsOptions_SetErrorHandler(options, OnAsyncError, nullptr);
  return s;
}

bool NatsLink::Open(bool* reachable, std::string* error) {
  const natsStatus s = MakeOptions(&options_, true);
  if (s != NATS_OK) {
    *error = "bad connection settings: " + LastError(s);
    return false;
  }
  return Connect(reachable, error);
}

bool NatsLink::Connect(bool* reachable, std::string* error) {
  // One plain attempt first, for the precise reason (a refused login, no server listening); then
  // the library goes on trying in the background.
  natsOptions* once = nullptr;
  natsStatus s = MakeOptions(&once, false);
  if (s == NATS_OK) s = natsConnection_Connect(&connection_, once);
  natsOptions_Destroy(once);
  *reachable = s == NATS_OK;
  if (s != NATS_OK) {
    const std::string why = LastError(s);
    s = natsConnection_Connect(&connection_, options_);
    if (s != NATS_OK && s != NATS_NOT_YET_CONNECTED) {
      *error = "cannot connect: " + LastError(s);
      return false;
    }
    std::string list;
    for (const auto& url : settings_.servers) list += (list.empty() ? "" : ",") + url;
    *error = "cannot connect to the cluster yet (" + list + "): " + why + "; trying again in the background";
  }
  jsOptions jo;
  jsOptions_Init(&jo);
  jo.Wait = 5000;
  jo.PublishAsync.MaxPending = maxPending_;
  jo.PublishAsync.AckHandler = onAnswer_;
  jo.PublishAsync.AckHandlerClosure = onAnswerClosure_;
  jo.PublishAsync.StallWait = 5000;
  s = natsConnection_JetStream(&js_, connection_, &jo);
  if (s != NATS_OK) {
    *error = "no JetStream context: " + LastError(s);
    return false;
  }
  return true;
}

bool NatsLink::Closed() const {
  return connection_ == nullptr || natsConnection_Status(connection_) == NATS_CONN_STATUS_CLOSED;
}

bool NatsLink::Reconnect(std::string* error) {
  jsCtx_Destroy(js_);
  js_ = nullptr;
  if (connection_ != nullptr) {
    natsConnection_Close(connection_);
    natsConnection_Destroy(connection_);
    connection_ = nullptr;
  }
  bool reachable = false;
  return Connect(&reachable, error);
}

void NatsLink::OnConnectionEvent(natsConnection* connection, void*) {
  const char* text = nullptr;
  if (natsConnection_GetLastError(connection, &text) == NATS_OK || text == nullptr || *text == '\0') return;
  std::lock_guard<std::mutex> lock(TheProblem().mutex);
  TheProblem().text = text;
}

void NatsLink::OnAsyncError(natsConnection*, natsSubscription*, natsStatus status, void*) {
  std::lock_guard<std::mutex> lock(TheProblem().mutex);
  TheProblem().text = natsStatus_GetText(status);
}

std::string NatsLink::TakeProblem() {
  std::lock_guard<std::mutex> lock(TheProblem().mutex);
  std::string problem;
  problem.swap(TheProblem().text);
  return problem;
}

bool NatsLink::Connected() const {
  return connection_ != nullptr && natsConnection_Status(connection_) == NATS_CONN_STATUS_CONNECTED;
}

std::string NatsLink::StateText() const {
  if (connection_ == nullptr) return "closed";
  switch (natsConnection_Status(connection_)) {
    case NATS_CONN_STATUS_CONNECTED: {
      char url[256] = "";
      natsConnection_GetConnectedUrl(connection_, url, sizeof(url));
      return std::string("connected ") + url;
    }
    case NATS_CONN_STATUS_CONNECTING:
      return "connecting";
    case NATS_CONN_STATUS_RECONNECTING:
      return "reconnecting";
    default:
      return "closed";
  }
}

bool NatsLink::EnsureStream(std::string* error) {
  jsStreamInfo* info = nullptr;
  jsErrCode code = static_cast<jsErrCode>(0);
  natsStatus s = js_GetStreamInfo(&info, js_, settings_.stream.c_str(), nullptr, &code);
  jsStreamInfo_Destroy(info);
  if (s == NATS_OK) return true;
  if (s != NATS_NOT_FOUND) {
    *error = "stream " + settings_.stream + ": " + LastError(s);
    return false;
  }
  const std::string subject = settings_.subjectPrefix + ".>";
  const char* subjects[] = {subject.c_str()};
  jsStreamConfig cfg;
  jsStreamConfig_Init(&cfg);
  cfg.Name = settings_.stream.c_str();
  cfg.Subjects = subjects;
  cfg.SubjectsLen = 1;
  cfg.Storage = js_FileStorage;
  cfg.Replicas = settings_.replicas;
  cfg.Duplicates = static_cast<int64_t>(settings_.duplicateWindowSeconds * kNanosPerSecond);
  cfg.MaxAge = static_cast<int64_t>(settings_.retentionHours * 3600 * kNanosPerSecond);
  s = js_AddStream(&info, js_, &cfg, nullptr, &code);
  jsStreamInfo_Destroy(info);
  if (s == NATS_OK || code == JSStreamNameExistErr) return true;
  *error = "cannot create stream " + settings_.stream + ": " + LastError(s);
  return false;
}
