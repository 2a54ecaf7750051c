#ifndef QUOTELOOM_CLUSTER_CLUSTER_SETTINGS_H
#define QUOTELOOM_CLUSTER_CLUSTER_SETTINGS_H

#include <string>
#include <vector>

namespace CLI {
class App;
}

// What the publisher and the archive share: the working folder, the cluster, the account and the
// stream they create when it is missing. Filled by the command line (and its --config file) on
// the main thread, constant afterwards.
struct ClusterSettings {
  std::string workdir = ".";
  std::vector<std::string> servers = {"nats://127.0.0.1:4222"};
  std::string stream = "QUOTELOOM";
  std::string subjectPrefix = "quoteloom.tick";
  std::string user;
  std::string password;
  std::string token;
  std::string credentialsFile;
  std::string tlsCaFile;
  bool tls = false;
  bool onlyListedServers = false;  // ignore the servers the cluster announces
  int replicas = 1;
  double duplicateWindowSeconds = 120;
  double retentionHours = 168;  // 0: keep every message
  int statusSeconds = 5;
};

inline constexpr int kMaxDuplicateWindowSeconds = 7 * 86400;
inline constexpr int kMaxRetentionHours = 87600;

// Adds the shared options (and --config FILE) to `app`.
void AddClusterOptions(CLI::App& app, ClusterSettings& settings);

// Checks the settings after parsing; false with a message naming the option at fault.
bool ValidateClusterSettings(const ClusterSettings& settings, std::string* error);

#endif
