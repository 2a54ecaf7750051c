// quoteloom-publish against a nats-server that wants credentials or TLS: the right ones publish and
// are acknowledged, wrong ones are named and tried again while the program keeps running, and a
// credentials file the library could not use is refused at start.
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <random>
#include <regex>
#include <string>
#include <vector>

#include "cluster/cluster_settings.h"
#include "cluster/nats_link.h"
#include "tests/cluster/cluster_test_files.h"
#include "tests/cluster/nats_cluster.h"
#include "tests/support/child_process.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

constexpr int kLines = 5;

class ClusterAuthTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::vector<JournalEntry> ticks;
    for (int i = 0; i < kLines; ++i) ticks.push_back(TestTick("rb2405", i));
    AppendTicks(dir_.path() / "collector", ticks);
  }

  // A publisher of the fixture with `options`, its own state file and output named `name`.
  std::unique_ptr<ChildProcess> Publish(const NatsCluster& node, const std::string& name,
                                        std::vector<std::string> options) {
    std::vector<std::string> argv = {QUOTELOOM_PUBLISH, "--workdir", (dir_.path() / "collector").string(),
                                     "--servers", node.Urls(), "--status-seconds", "1", "--metrics", "127.0.0.1:0", "--state",
                                     (dir_.path() / (name + ".state")).string()};
    argv.insert(argv.end(), options.begin(), options.end());
    return std::make_unique<ChildProcess>(argv, (dir_.path() / (name + ".out")).string());
  }

  // The right credentials: every line acknowledged, in the stream, and a clean idle end.
  void ExpectPublished(const NatsCluster& node, const std::string& name, std::vector<std::string> options,
                       const ClusterSettings& reader) {
    options.insert(options.end(), {"--exit-when-idle", "1"});
    auto p = Publish(node, name, options);
    ASSERT_TRUE(p->Wait(20s)) << p->Output();
    EXPECT_TRUE(WIFEXITED(p->status()) && WEXITSTATUS(p->status()) == 0) << p->Output();
    EXPECT_NE(p->Output().find("acknowledged " + std::to_string(kLines) + ","), std::string::npos) << p->Output();
    EXPECT_EQ(StoredMessages(node, reader), kLines) << name;
  }

  // Refused credentials: the reason is printed, the program keeps trying (two more status lines
  // with the reason) and ends cleanly on SIGTERM without having published anything.
  static void ExpectRefusedAndRetried(const NatsCluster& node, ChildProcess& p, const std::string& reason) {
    const std::string named = "cannot connect to the cluster yet (" + node.Urls() + "): " + reason;
    EXPECT_TRUE(WaitUntil([&] { return Count(p.Output(), named) >= 3; }, 10s)) << p.Output();
    EXPECT_TRUE(p.Running()) << p.Output();
    EXPECT_FALSE(std::regex_search(p.Output(), std::regex("published [1-9]"))) << p.Output();
    p.Signal(SIGTERM);
    ASSERT_TRUE(p.Wait(3s)) << p.Output();
    EXPECT_TRUE(WIFEXITED(p.status()) && WEXITSTATUS(p.status()) == 0) << p.Output();
  }

  static int Count(const std::string& text, const std::string& part) {
    int n = 0;
    for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
  }

  // Messages in the stream, read through a link of our own with the credentials in `reader`.
  static int StoredMessages(const NatsCluster& node, ClusterSettings reader) {
    reader.servers = {node.Urls()};
    NatsLink link(reader);
    bool reachable = false;
    std::string error;
    if (!link.Open(&reachable, &error) || !WaitUntil([&] { return link.Connected(); }, 10s)) return -1;
    jsStreamInfo* info = nullptr;
    if (js_GetStreamInfo(&info, link.js(), reader.stream.c_str(), nullptr, nullptr) != NATS_OK) return -1;
    const int messages = static_cast<int>(info->State.Msgs);
    jsStreamInfo_Destroy(info);
    return messages;
  }

  fs::path Folder(const std::string& name) const {
    fs::create_directories(dir_.path() / name);
    return dir_.path() / name;
  }

  TempFolder dir_;
};

TEST_F(ClusterAuthTest, RightUserPasswordOrTokenPublishesAndAWrongOneIsRetriedNotFatal) {
  struct Case {
    const char* name;
    std::vector<std::string> server, right, wrong;
  } cases[] = {
      {"user", {"--user", "alice", "--pass", "s3cret"}, {"--user", "alice", "--password", "s3cret"},
       {"--user", "alice", "--password", "wrong"}},
      {"token", {"--auth", "t0ken-42"}, {"--token", "t0ken-42"}, {"--token", "t0ken-43"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    NatsCluster node(Folder(c.name), 1);
    node.SetServerOptions(c.server);
    ASSERT_TRUE(node.Start());
    ClusterSettings reader;
    if (c.right[0] == "--user") {
      reader.user = c.right[1];
      reader.password = c.right[3];
    } else {
      reader.token = c.right[1];
    }
    auto wrong = Publish(node, std::string(c.name) + "-wrong", c.wrong);
    auto none = Publish(node, std::string(c.name) + "-none", {});
    ExpectPublished(node, std::string(c.name) + "-right", c.right, reader);
    ExpectRefusedAndRetried(node, *wrong, "Authorization Violation");
    ExpectRefusedAndRetried(node, *none, "Authorization Violation");
  }
}

// Runs the openssl program; false when it failed.
bool OpenSsl(const fs::path& dir, std::vector<std::string> args) {
  args.insert(args.begin(), OPENSSL_PROGRAM);
  ChildProcess p(args, (dir / "openssl.out").string());
  return p.Wait(20s) && WIFEXITED(p.status()) && WEXITSTATUS(p.status()) == 0;
}

// A CA `name`.pem (and its key) in `dir`.
bool MakeCa(const fs::path& dir, const std::string& name) {
  return OpenSsl(dir, {"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes",
                       "-keyout", (dir / (name + ".key")).string(), "-out", (dir / (name + ".pem")).string(),
                       "-days", "2", "-subj", "/CN=" + name});
}

// A server certificate `name`.pem and key `name`.key in `dir`, for `altName`, signed by CA `ca`.
bool MakeServerCertificate(const fs::path& dir, const std::string& name, const std::string& ca,
                           const std::string& altName) {
  AppendText(dir / (name + ".ext"), "subjectAltName=" + altName + "\n");
  return OpenSsl(dir, {"req", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes", "-keyout",
                       (dir / (name + ".key")).string(), "-out", (dir / (name + ".csr")).string(), "-subj",
                       "/CN=quoteloom-test-server"}) &&
         OpenSsl(dir, {"x509", "-req", "-in", (dir / (name + ".csr")).string(), "-CA", (dir / (ca + ".pem")).string(),
                       "-CAkey", (dir / (ca + ".key")).string(), "-CAcreateserial", "-out",
                       (dir / (name + ".pem")).string(), "-days", "2", "-extfile", (dir / (name + ".ext")).string()});
}

TEST_F(ClusterAuthTest, TlsWithACaFileTrustsOnlyServersItsCaSignedForTheirAddress) {
  const fs::path pki = Folder("pki");
  ASSERT_TRUE(MakeCa(pki, "ca") && MakeCa(pki, "other-ca"));
  ASSERT_TRUE(MakeServerCertificate(pki, "server", "ca", "IP:127.0.0.1"));
  ASSERT_TRUE(MakeServerCertificate(pki, "elsewhere", "ca", "DNS:elsewhere.invalid"));
  const auto tlsServer = [&](const std::string& cert) {
    return std::vector<std::string>{"--tls", "--tlscert", (pki / (cert + ".pem")).string(), "--tlskey",
                                    (pki / (cert + ".key")).string()};
  };
  const std::string ca = (pki / "ca.pem").string();
  {
    NatsCluster node(Folder("tls"), 1);
    node.SetServerOptions(tlsServer("server"));
    ASSERT_TRUE(node.Start());
    auto otherCa = Publish(node, "tls-other-ca", {"--tls-ca", (pki / "other-ca.pem").string()});
    ClusterSettings reader;
    reader.tlsCaFile = ca;
    ExpectPublished(node, "tls-right", {"--tls-ca", ca}, reader);
    ExpectRefusedAndRetried(node, *otherCa, "SSL handshake error: 20:unable to get local issuer certificate");
  }
  NatsCluster node(Folder("tls-elsewhere"), 1);
  node.SetServerOptions(tlsServer("elsewhere"));
  ASSERT_TRUE(node.Start());
  auto elsewhere = Publish(node, "tls-elsewhere", {"--tls-ca", ca});
  ExpectRefusedAndRetried(node, *elsewhere, "SSL handshake error: 64:IP address mismatch");
}

// A user nkey seed as nsc writes it: base32 of the two prefix bytes, 32 random bytes and their
// CRC-16 (XMODEM), least significant byte first.
std::string UserSeed() {
  std::vector<std::uint8_t> raw = {18 << 3 | 20 >> 2, (20 & 3) << 6};
  std::mt19937 random(7);
  for (int i = 0; i < 32; ++i) raw.push_back(static_cast<std::uint8_t>(random()));
  std::uint16_t crc = 0;
  for (std::uint8_t b : raw) {
    crc ^= static_cast<std::uint16_t>(b << 8);
    for (int i = 0; i < 8; ++i) crc = static_cast<std::uint16_t>(crc & 0x8000 ? (crc << 1) ^ 0x1021 : crc << 1);
  }
  raw.push_back(static_cast<std::uint8_t>(crc & 0xff));
  raw.push_back(static_cast<std::uint8_t>(crc >> 8));
  const char* alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZ234567";
  std::string out;
  unsigned bits = 0;
  int held = 0;
  for (std::uint8_t b : raw) {
    bits = bits << 8 | b;
    for (held += 8; held >= 5; held -= 5) out += alphabet[(bits >> (held - 5)) & 31];
  }
  if (held > 0) out += alphabet[(bits << (5 - held)) & 31];
  return out;
}

std::string CredentialsText(const std::string& jwt, const std::string& seed) {
  return "-----BEGIN NATS USER JWT-----\n" + jwt + "\n------END NATS USER JWT------\n\n" +
         "-----BEGIN USER NKEY SEED-----\n" + seed + "\n------END USER NKEY SEED------\n";
}

TEST_F(ClusterAuthTest, CredentialsFileTheLibraryCannotUseIsRefusedAtStartAndAGoodOneReachesTheServer) {
  const fs::path files = Folder("creds");
  const std::string jwt = "eyJ0eXAiOiJKV1QiLCJhbGciOiJlZDI1NTE5LW5rZXkifQ.e30.c2ln";
  AppendText(files / "empty.creds", "");
  AppendText(files / "no-jwt.creds", "-----BEGIN USER NKEY SEED-----\n" + UserSeed() + "\n------END USER NKEY SEED------\n");
  AppendText(files / "no-seed.creds", CredentialsText(jwt, ""));
  AppendText(files / "bad-seed.creds", CredentialsText(jwt, "SUAJUNK"));
  AppendText(files / "good.creds", CredentialsText(jwt, UserSeed()));
  fs::create_directories(files / "folder.creds");
  const struct {
    const char* file;
    const char* message;
  } cases[] = {
      {"missing.creds", "cannot read"},
      {"folder.creds", "is not a file"},
      {"empty.creds", "holds no user JWT"},
      {"no-jwt.creds", "holds no user JWT"},
      {"no-seed.creds", "holds no user nkey seed"},
      {"bad-seed.creds", "the user nkey seed is not valid ("},
  };
  NatsCluster node(Folder("creds-server"), 1);
  node.SetServerOptions({"--user", "alice", "--pass", "s3cret"});
  for (const auto& c : cases) {
    const std::string path = (files / c.file).string();
    auto p = Publish(node, c.file, {"--creds", path});
    ASSERT_TRUE(p->Wait(10s)) << c.file;
    EXPECT_TRUE(WIFEXITED(p->status()) && WEXITSTATUS(p->status()) == 2) << p->Output();
    EXPECT_NE(p->Output().find("--creds: "), std::string::npos) << p->Output();
    EXPECT_NE(p->Output().find(path), std::string::npos) << p->Output();
    EXPECT_NE(p->Output().find(c.message), std::string::npos) << p->Output();
  }
  // A well-formed file is taken by the library and sent: a server without that account refuses it
  // (a server that accepts a JWT needs an operator set up with nsc, which this machine lacks).
  ASSERT_TRUE(node.Start());
  auto good = Publish(node, "creds-good", {"--creds", (files / "good.creds").string()});
  ExpectRefusedAndRetried(node, *good, "Authorization Violation");
}

}  // namespace
