// Messages that are not a tick of their subject reach the archive: refused with a count, never
// written, and not delivered again after a restart.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "cluster/cluster_settings.h"
#include "cluster/nats_link.h"
#include "cluster/tick_subject.h"
#include "tests/cluster/cluster_test_files.h"
#include "tests/cluster/nats_cluster.h"
#include "tests/support/child_process.h"
#include "tests/support/process_output.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

TEST(ArchiveRefusalTest, BadBodiesAreCountedNeverWrittenAndNotRedelivered) {
  TempFolder dir;
  NatsCluster cluster(dir.path(), 1);
  ASSERT_TRUE(cluster.Start());
  ClusterSettings settings;
  settings.servers = {cluster.Urls()};
  settings.workdir = dir.path().string();
  auto link = std::make_unique<NatsLink>(settings);
  bool reachable = false;
  std::string error;
  ASSERT_TRUE(link->Open(&reachable, &error)) << error;
  ASSERT_TRUE(WaitUntil([&] { return link->Connected() && link->EnsureStream(&error); }, 15s)) << error;

  const auto body = [](const std::string& contract) {
    std::string text;
    EncodeTickBody(TestTick(contract, 7), &text);
    return text;
  };
  const std::string good = body("rb2405");
  std::string damaged = good;
  damaged[100] ^= 0x04;
  const std::string rb = TickSubject(settings.subjectPrefix, "rb2405");
  const std::pair<std::string, std::string> messages[] = {
      {rb, "hello"},
      {rb, good + good},
      {rb, damaged},                                                           // checksum fails
      {rb, TestTickLine("rb2405", 7)},                                         // a line, not a record
      {rb, body("cu2404")},                                                    // another contract's body
      {TickSubject(settings.subjectPrefix, "../x"), body("../x")},             // no file name
      {rb, good},
  };
  for (const auto& [subject, body] : messages) {
    jsPubAck* ack = nullptr;
    ASSERT_EQ(js_Publish(&ack, link->js(), subject.c_str(), body.data(), static_cast<int>(body.size()), nullptr,
                         nullptr),
              NATS_OK);
    jsPubAck_Destroy(ack);
  }

  link.reset();
  nats_CloseAndWait(2000);

  const fs::path archive = dir.path() / "archive";
  const std::vector<std::string> argv = {QUOTELOOM_ARCHIVE, "--workdir", archive.string(), "--servers",
                                         cluster.Urls(), "--status-seconds", "1", "--metrics", "127.0.0.1:0"};
  {
    ChildProcess first(argv, (dir.path() / "archive1.out").string());
    ASSERT_TRUE(WaitUntil([&] { return LastNumberAfter(first.Output(), "messages taken") >= 7; }, 20s))
        << first.Output();
    first.Signal(SIGTERM);
    ASSERT_TRUE(first.Wait(10s));
    EXPECT_EQ(LastNumberAfter(first.Output(), "refused"), 6) << first.Output();
    EXPECT_EQ(LastNumberAfter(first.Output(), "ticks written"), 1);
  }
  EXPECT_EQ(ReadText(archive / "DataTimeStream" / "20240301.csv"), TestTickLine("rb2405", 7));
  EXPECT_EQ(std::distance(fs::directory_iterator(archive / "Data" / "20240301"), fs::directory_iterator()), 1);
  EXPECT_FALSE(fs::exists(archive / "x.csv"));

  ChildProcess second(argv, (dir.path() / "archive2.out").string());
  ASSERT_TRUE(WaitUntil([&] { return LastNumberAfter(second.Output(), "messages taken") >= 0; }, 10s));
  std::this_thread::sleep_for(2500ms);
  EXPECT_EQ(LastNumberAfter(second.Output(), "messages taken"), 0) << second.Output();
  second.Signal(SIGTERM);
  EXPECT_TRUE(second.Wait(10s));
}

}  // namespace
