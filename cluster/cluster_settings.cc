#include "cluster/cluster_settings.h"

#include <nats/nats.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cstdlib>
#include <filesystem>
#include <sstream>

#include "core/open_regular_file.h"

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
  // The port is required: the library would otherwise pick one silently.
  if (colon == std::string::npos || colon == 0) return false;
  const std::string port = rest.substr(colon + 1);
  if (port.empty() || port.size() > 5 || port.find_first_not_of("0123456789") != std::string::npos) return false;
  return std::stoi(port) > 0 && std::stoi(port) < 65536;
}

bool Readable(const std::string& path) { return ::access(path.c_str(), R_OK) == 0; }

// The text of the block after the line holding `begin` up to the next "---" line, or "".
std::string CredentialsBlock(const std::string& text, const std::string& begin) {
  auto at = text.find(begin);
  if (at == std::string::npos || (at = text.find('\n', at)) == std::string::npos) return "";
  std::istringstream lines(text.substr(at + 1));
  std::string block;
  for (std::string line; std::getline(lines, line) && line.rfind("---", 0) != 0;) {
    line.erase(0, line.find_first_not_of(" \t\r"));
    line.erase(line.find_last_not_of(" \t\r") + 1);
    block += line;
  }
  return block;
}

// Why the library could not use `path` as a credentials file (a user JWT and the user's nkey
// seed, as nsc writes them), or "". The library reads the file itself at every connect; this
// only names a wrong file at start, where an empty one would connect without credentials.
std::string CredentialsProblem(const std::string& path) {
  std::error_code ec;
  if (!Readable(path)) return "cannot read " + path;
  if (!std::filesystem::is_regular_file(path, ec)) return path + " is not a file";
  if (std::filesystem::file_size(path, ec) > 64 * 1024) return path + " is too large for a credentials file";
  std::string text;
  std::string why;
  if (!ReadRegularFile(path.c_str(), 64 * 1024, &text, &why)) return "cannot read " + why;
  if (CredentialsBlock(text, "BEGIN NATS USER JWT").empty()) return path + " holds no user JWT";
  const std::string seed = CredentialsBlock(text, "BEGIN USER NKEY SEED");
  if (seed.empty()) return path + " holds no user nkey seed";
  unsigned char* signature = nullptr;
  int length = 0;
  // Signing fails on a library not yet set up, which otherwise happens at the first connect.
  natsStatus s = nats_Open(-1);
  if (s == NATS_OK) s = nats_Sign(seed.c_str(), "quoteloom", &signature, &length);
  std::free(signature);
  if (s != NATS_OK) {
    natsStatus ignored;
    const char* why = nats_GetLastError(&ignored);
    std::string reason = why != nullptr && *why != '\0' ? why : natsStatus_GetText(s);
    // Without the library's source location: "(nkeys.c:83): invalid checksum".
    if (const auto end = reason.find("): "); reason.rfind("(", 0) == 0 && end != std::string::npos) {
      reason.erase(0, end + 3);
    }
    return path + ": the user nkey seed is not valid (" + reason + ")";
  }
  return "";
}

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
  if (!s.credentialsFile.empty()) {
    if (std::string problem = CredentialsProblem(s.credentialsFile); !problem.empty()) {
      return *error = "--creds: " + problem, false;
    }
  }
  if (!s.tlsCaFile.empty() && !Readable(s.tlsCaFile)) return *error = "--tls-ca: cannot read " + s.tlsCaFile, false;
  if (s.replicas < 1 || s.replicas > 5) return *error = "--replicas: 1 to 5", false;
  // Bounded so that both fit the stream's nanosecond settings and a window stays meaningful.
  if (!(s.duplicateWindowSeconds > 0 && s.duplicateWindowSeconds <= kMaxDuplicateWindowSeconds)) {
    return *error = "--duplicate-window: more than 0 and at most " + std::to_string(kMaxDuplicateWindowSeconds) +
                    " seconds (7 days)", false;
  }
  if (!(s.retentionHours >= 0 && s.retentionHours <= kMaxRetentionHours)) {
    return *error = "--retention-hours: 0 to " + std::to_string(kMaxRetentionHours) + " (10 years)", false;
  }
  if (s.retentionHours > 0 && s.duplicateWindowSeconds > s.retentionHours * 3600) {
    return *error = "--duplicate-window cannot be longer than --retention-hours", false;
  }
  if (s.statusSeconds < 1 || s.statusSeconds > 86400) return *error = "--status-seconds: 1 to 86400", false;
  if (::access(s.workdir.c_str(), F_OK) != 0) return *error = "--workdir: " + s.workdir + " does not exist", false;
  return true;
}
