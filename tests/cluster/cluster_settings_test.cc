// The options both programs share: command line and config file, and a clear word for bad ones.
#include <gtest/gtest.h>

#include <CLI/CLI.hpp>
#include <string>
#include <vector>

#include "cluster/cluster_settings.h"
#include "tests/cluster/cluster_test_files.h"

namespace {

// Parses `args` (and a config file when given) into settings; the validation's message, or "".
std::string Check(std::vector<std::string> args, ClusterSettings* out = nullptr) {
  ClusterSettings settings;
  CLI::App app;
  AddClusterOptions(app, settings);
  std::reverse(args.begin(), args.end());
  try {
    app.parse(args);
  } catch (const CLI::ParseError& e) {
    return std::string("parse: ") + e.what();
  }
  std::string error;
  ValidateClusterSettings(settings, &error);
  if (out != nullptr) *out = settings;
  return error;
}

TEST(ClusterSettingsTest, DefaultsAndAListOfServers) {
  ClusterSettings s;
  EXPECT_EQ(Check({"--servers", "nats://a:4222,tls://b:4223,c:4224", "--replicas", "3"}, &s), "");
  EXPECT_EQ(s.servers, (std::vector<std::string>{"nats://a:4222", "tls://b:4223", "c:4224"}));
  EXPECT_EQ(s.stream, "QUOTELOOM");
  EXPECT_EQ(s.subjectPrefix, "quoteloom.tick");
  EXPECT_EQ(s.replicas, 3);
}

TEST(ClusterSettingsTest, ReadsAConfigFileThatTheCommandLineOverrides) {
  TempFolder folder;
  const auto path = folder.path() / "publish.conf";
  AppendText(path, "servers = \"nats://10.0.0.1:4222,nats://10.0.0.2:4222\"\nreplicas = 3\nstream = TICKS\n");
  ClusterSettings s;
  EXPECT_EQ(Check({"--config", path.string(), "--stream", "OTHER"}, &s), "");
  EXPECT_EQ(s.servers, (std::vector<std::string>{"nats://10.0.0.1:4222", "nats://10.0.0.2:4222"}));
  EXPECT_EQ(s.replicas, 3);
  EXPECT_EQ(s.stream, "OTHER");
}

TEST(ClusterSettingsTest, BadSettingsNameTheirOption) {
  struct Case {
    std::vector<std::string> args;
    const char* option;
  } cases[] = {
      {{"--servers", "nats://a:99999"}, "--servers"},
      {{"--servers", "http://a/b"}, "--servers"},
      {{"--stream", "A.B"}, "--stream"},
      {{"--subject-prefix", "a.*"}, "--subject-prefix"},
      {{"--subject-prefix", "a..b"}, "--subject-prefix"},
      {{"--user", "u"}, "--password"},
      {{"--user", "u", "--password", "p", "--token", "t"}, "--token"},
      {{"--creds", "/nonexistent/creds"}, "--creds"},
      {{"--tls-ca", "/nonexistent/ca.pem"}, "--tls-ca"},
      {{"--replicas", "7"}, "--replicas"},
      {{"--duplicate-window", "0"}, "--duplicate-window"},
      {{"--duplicate-window", "7200", "--retention-hours", "1"}, "--duplicate-window"},
      {{"--workdir", "/nonexistent/folder"}, "--workdir"},
      {{"--replicas", "three"}, "parse"},
      {{"--servers", "notaurl"}, "--servers"},
      {{"--servers", "nats://127.0.0.1"}, "--servers"},  // no port
      {{"--servers", "nats://:4222"}, "--servers"},
      {{"--duplicate-window", "1e300"}, "--duplicate-window"},  // overflowed to a negative window once
      {{"--duplicate-window", "nan"}, "--duplicate-window"},
      {{"--retention-hours", "1e300"}, "--retention-hours"},
      {{"--retention-hours", "-1"}, "--retention-hours"},
      {{"--status-seconds", "0"}, "--status-seconds"},
      {{"--status-seconds", "99999999"}, "--status-seconds"},
  };
  for (const Case& c : cases) {
    const std::string error = Check(c.args);
    EXPECT_NE(error.find(c.option), std::string::npos) << c.args[0] << " gave \"" << error << "\"";
  }
}

}  // namespace
