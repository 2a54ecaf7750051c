#include "cluster/cluster_settings.h"

#include <unistd.h>

#include <CLI/CLI.hpp>

void AddClusterOptions(CLI::App& app, ClusterSettings& s) {
  app.set_config("--config", "", "Read options from this file (INI or TOML: name = value, long option names)");
  app.add_option("--workdir", s.workdir, "The collector's working folder (DataTimeStream/, Data/)")
      ->capture_default_str();
  app.add_option("--servers", s.servers, "NATS servers, URL[,URL...] (nats://host:port or tls://host:port)")
      ->delimiter(',')
      ->capture_default_str();
  app.add_option("--stream", s.stream, "JetStream stream of the ticks")->capture_default_str();
  app.add_option("--subject-prefix", s.subjectPrefix, "Subjects are PREFIX.<product>.<contract>")
      ->capture_default_str();
  app.add_option("--user", s.user, "User name (with --password)");
  app.add_option("--password", s.password, "Password of --user");
  app.add_option("--token", s.token, "Authentication token");
  app.add_option("--creds", s.credentialsFile, "NATS credentials file (JWT and NKey seed)");
  app.add_option("--tls-ca", s.tlsCaFile, "CA certificates (PEM) to verify the servers; implies TLS");
  app.add_flag("--tls", s.tls, "Connect with TLS");
  app.add_flag("--only-listed-servers", s.onlyListedServers,
               "Connect only to --servers, not to servers the cluster announces");
  app.add_option("--replicas", s.replicas, "Replicas of the stream when it is created")->capture_default_str();
  app.add_option("--duplicate-window", s.duplicateWindowSeconds,
                 "Seconds in which the stream drops a message id it has already stored")
      ->capture_default_str();
  app.add_option("--retention-hours", s.retentionHours, "Hours the stream keeps a message; 0 keeps all")
      ->capture_default_str();
  app.add_option("--status-seconds", s.statusSeconds, "Seconds between status lines")->capture_default_str();
}

namespace {

bool IsServerUrl(const std::string& url) {
  std::string rest = url;
  for (const char* scheme : {"nats://", "tls://"}) {
    if (rest.rfind(scheme, 0) == 0) rest = rest.substr(std::char_traits<char>::length(scheme));
  }
  const auto at = rest.rfind('@');
  if (at != std::string::npos) rest = rest.substr(at + 1);
  const auto colon = rest.rfind(':');
  if (rest.empty() || rest.find_first_of(" /,") != std::string::npos) return false;
  if (colon == std::string::npos) return true;
  const std::string port = rest.substr(colon + 1);
  if (port.empty() || port.size() > 5 || port.find_first_not_of("0123456789") != std::string::npos) return false;
  return std::stoi(port) > 0 && std::stoi(port) < 65536;
}

bool Readable(const std::string& path) { return ::access(path.c_str(), R_OK) == 0; }

}  // namespace

bool ValidateClusterSettings(const ClusterSettings& s, std::string* error) {
  if (s.servers.empty()) return *error = "--servers: no server given", false;
  for (const auto& url : s.servers) {
    if (!IsServerUrl(url)) return *error = "--servers: \"" + url + "\" is not nats://HOST:PORT", false;
  }
  if (s.stream.empty() || s.stream.find_first_of(" .*>/\\\t") != std::string::npos) {
    return *error = "--stream: \"" + s.stream + "\" cannot name a stream (no spaces, '.', '*', '>', '/')", false;
  }
  const auto& p = s.subjectPrefix;
  if (p.empty() || p.front() == '.' || p.back() == '.' || p.find("..") != std::string::npos ||
      p.find_first_of(" *>\t") != std::string::npos) {
    return *error = "--subject-prefix: \"" + p + "\" is not a subject without wildcards", false;
  }
  if (s.user.empty() != s.password.empty()) return *error = "--user and --password go together", false;
  const int methods = !s.user.empty() + !s.token.empty() + !s.credentialsFile.empty();
  if (methods > 1) return *error = "give one of --user/--password, --token or --creds", false;
  if (!s.credentialsFile.empty() && !Readable(s.credentialsFile)) {
    return *error = "--creds: cannot read " + s.credentialsFile, false;
  }
  if (!s.tlsCaFile.empty() && !Readable(s.tlsCaFile)) return *error = "--tls-ca: cannot read " + s.tlsCaFile, false;
  if (s.replicas < 1 || s.replicas > 5) return *error = "--replicas: 1 to 5", false;
  if (!(s.duplicateWindowSeconds > 0)) return *error = "--duplicate-window: more than 0 seconds", false;
  if (s.retentionHours < 0) return *error = "--retention-hours: 0 or more", false;
  if (s.retentionHours > 0 && s.duplicateWindowSeconds > s.retentionHours * 3600) {
    return *error = "--duplicate-window cannot be longer than --retention-hours", false;
  }
  if (s.statusSeconds < 1) return *error = "--status-seconds: 1 or more", false;
  if (::access(s.workdir.c_str(), F_OK) != 0) return *error = "--workdir: " + s.workdir + " does not exist", false;
  return true;
}
