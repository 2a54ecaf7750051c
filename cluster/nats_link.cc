#include "cluster/nats_link.h"

#include <algorithm>
#include <cstdint>
#include <vector>

namespace {

constexpr int64_t kNanosPerSecond = 1000000000LL;

// Given so that a connect that cannot reach any server returns at once and goes on in the background.
void OnConnected(natsConnection*, void*) {}

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
  return out;
}

void NatsLink::SetPublishAsync(int maxPending, jsPubAckErrHandler onError, void* closure) {
  maxPending_ = maxPending;
  onAckError_ = onError;
  onAckErrorClosure_ = closure;
}

bool NatsLink::Open(bool* reachable, std::string* error) {
  std::vector<const char*> servers;
  for (const auto& s : settings_.servers) servers.push_back(s.c_str());
  natsStatus s = natsOptions_Create(&options_);
  if (s == NATS_OK) s = natsOptions_SetServers(options_, servers.data(), static_cast<int>(servers.size()));
  if (s == NATS_OK) s = natsOptions_SetName(options_, "quoteloom");
  if (s == NATS_OK) s = natsOptions_SetTimeout(options_, 2000);
  if (s == NATS_OK) s = natsOptions_SetMaxReconnect(options_, -1);
  if (s == NATS_OK) s = natsOptions_SetCustomReconnectDelay(options_, ReconnectDelay, nullptr);
  if (s == NATS_OK) s = natsOptions_SetPingInterval(options_, 5000);
  if (s == NATS_OK) s = natsOptions_SetMaxPingsOut(options_, 2);
  if (s == NATS_OK) s = natsOptions_SetRetryOnFailedConnect(options_, true, OnConnected, nullptr);
  if (s == NATS_OK && settings_.onlyListedServers) s = natsOptions_SetIgnoreDiscoveredServers(options_, true);
  if (s == NATS_OK && !settings_.user.empty()) {
    s = natsOptions_SetUserInfo(options_, settings_.user.c_str(), settings_.password.c_str());
  }
  if (s == NATS_OK && !settings_.token.empty()) s = natsOptions_SetToken(options_, settings_.token.c_str());
  if (s == NATS_OK && !settings_.credentialsFile.empty()) {
    s = natsOptions_SetUserCredentialsFromFiles(options_, settings_.credentialsFile.c_str(), nullptr);
  }
  if (s == NATS_OK && (settings_.tls || !settings_.tlsCaFile.empty())) s = natsOptions_SetSecure(options_, true);
  if (s == NATS_OK && !settings_.tlsCaFile.empty()) {
    s = natsOptions_LoadCATrustedCertificates(options_, settings_.tlsCaFile.c_str());
  }
  if (s != NATS_OK) {
    *error = "bad connection settings: " + LastError(s);
    return false;
  }
  s = natsConnection_Connect(&connection_, options_);
  *reachable = s == NATS_OK;
  if (s != NATS_OK && s != NATS_NOT_YET_CONNECTED) {
    *error = "cannot connect: " + LastError(s);
    return false;
  }
  if (s == NATS_NOT_YET_CONNECTED) {
    std::string list;
    for (const auto& url : settings_.servers) list += (list.empty() ? "" : ",") + url;
    *error = "no server of the cluster answers yet (" + list + "); trying again in the background";
  }
  jsOptions jo;
  jsOptions_Init(&jo);
  jo.Wait = 5000;
  jo.PublishAsync.MaxPending = maxPending_;
  jo.PublishAsync.ErrHandler = onAckError_;
  jo.PublishAsync.ErrHandlerClosure = onAckErrorClosure_;
  jo.PublishAsync.StallWait = 5000;
  s = natsConnection_JetStream(&js_, connection_, &jo);
  if (s != NATS_OK) {
    *error = "no JetStream context: " + LastError(s);
    return false;
  }
  return true;
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
