#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QStringList>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <future>
#include <thread>

#include "plotmire/path_receiver.h"
#include "plotmire/send_path_to_chart.h"

namespace {

// A server name no other test or running chart program uses.
QString UniqueName() {
  static std::atomic<int> counter{0};
  return QStringLiteral("plotmire-test-%1-%2").arg(QCoreApplication::applicationPid()).arg(counter++);
}

ChartLinkOptions FastOptions(const QString& name) {
  ChartLinkOptions options;
  options.server_name = name;
  options.first_wait_ms = 0;
  options.attempt_wait_ms = 5;
  return options;
}

template <typename Done>
bool Spin(Done done, int ms = 5000) {
  QDeadlineTimer deadline(ms);
  while (!done() && !deadline.hasExpired()) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  return done();
}

class ChartLinkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    QObject::connect(&receiver_, &PathReceiver::pathReceived, [this](const QString& p) { received_ << p; });
  }
  // Sends on a thread of its own, as the chart launch thread does, while this thread runs the receiver.
  bool SendAndSpin(std::string path, const ChartLinkOptions& options, int expected_paths = 1) {
    auto sent = std::async(std::launch::async, [path, options] { return SendPathToChart(path, options); });
    Spin([&] { return received_.size() >= expected_paths; });
    return sent.get();
  }

  const QString name_ = UniqueName();
  PathReceiver receiver_{name_};
  QStringList received_;
};

TEST_F(ChartLinkTest, APathIsDeliveredToARunningReceiver) {
  ASSERT_EQ(receiver_.Listen(), PathReceiver::ListenResult::kListening) << receiver_.error_text().toStdString();
  EXPECT_TRUE(SendAndSpin("20240301\\rb2405.csv", FastOptions(name_)));
  EXPECT_EQ(received_, QStringList{"20240301\\rb2405.csv"});
  EXPECT_TRUE(SendAndSpin("\\", FastOptions(name_), 2));
  EXPECT_EQ(received_.value(1), "\\") << "the lone backslash of the empty row is delivered as it is";
}

TEST_F(ChartLinkTest, APathIsCutTo30BytesAndAtAnEmbeddedNul) {
  ASSERT_EQ(receiver_.Listen(), PathReceiver::ListenResult::kListening);
  EXPECT_TRUE(SendAndSpin("20240301\\abcdefghijklmnopqrstuvwxyz.csv", FastOptions(name_)));
  EXPECT_TRUE(SendAndSpin(std::string("20240301\\rb2405.csv\0tail", 24), FastOptions(name_), 2));
  EXPECT_EQ(received_, (QStringList{"20240301\\abcdefghijklmnopqrstu", "20240301\\rb2405.csv"}));
}

TEST_F(ChartLinkTest, TenAttemptsAreMadeWhenNoChartProgramRuns) {
  ChartLinkOptions options = FastOptions(name_);
  std::vector<int> attempts;
  options.on_attempt = [&](int n) { attempts.push_back(n); };
  EXPECT_FALSE(SendPathToChart("20240301\\rb2405.csv", options));
  EXPECT_EQ(attempts, (std::vector<int>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10}));
}

TEST_F(ChartLinkTest, AChartProgramThatStartsDuringTheAttemptsGetsThePath) {
  ChartLinkOptions options = FastOptions(name_);
  std::promise<void> third_attempt;
  std::promise<void> listening;
  std::atomic<int> last_attempt{0};
  options.on_attempt = [&](int n) {
    last_attempt = n;
    if (n == 3) {
      third_attempt.set_value();
      listening.get_future().wait();
    }
  };
  auto sent = std::async(std::launch::async, [&] { return SendPathToChart("20240301\\rb2405.csv", options); });
  third_attempt.get_future().wait();
  ASSERT_EQ(receiver_.Listen(), PathReceiver::ListenResult::kListening);
  listening.set_value();
  Spin([&] { return !received_.isEmpty(); });
  EXPECT_TRUE(sent.get());
  EXPECT_EQ(last_attempt, 3) << "no attempt after the delivery";
  EXPECT_EQ(received_, QStringList{"20240301\\rb2405.csv"});
}

TEST_F(ChartLinkTest, ASecondReceiverSeesTheLiveOneAndAStaleSocketIsReplaced) {
  // A socket file left behind by a crashed program: bound, never listened on, closed.
  const QByteArray path = QFile::encodeName(QDir::temp().filePath(name_));
  int fd = socket(AF_UNIX, SOCK_STREAM, 0);
  ASSERT_GE(fd, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, path.constData(), sizeof(address.sun_path) - 1);
  ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
  close(fd);
  ASSERT_TRUE(QFile::exists(QString::fromLocal8Bit(path)));

  ASSERT_EQ(receiver_.Listen(), PathReceiver::ListenResult::kListening) << receiver_.error_text().toStdString();
  PathReceiver second(name_);
  EXPECT_EQ(second.Listen(), PathReceiver::ListenResult::kOtherInstance);
  EXPECT_TRUE(SendAndSpin("20240301\\rb2405.csv", FastOptions(name_)));
  EXPECT_EQ(received_.size(), 1) << "the first receiver still owns the name";
}

TEST_F(ChartLinkTest, TheReceiverTakesWhatASenderCloses) {
  ASSERT_EQ(receiver_.Listen(), PathReceiver::ListenResult::kListening);
  struct Case {
    QByteArray bytes;
    bool expected;
  };
  // A probe that sends nothing yields no path; a path without its NUL still counts.
  const std::vector<Case> cases = {{QByteArray(), false}, {"20240301\\a.csv", true}, {QByteArray(5000, 'x'), false}};
  for (const Case& c : cases) {
    received_.clear();
    QLocalSocket socket;
    socket.connectToServer(name_);
    ASSERT_TRUE(socket.waitForConnected(1000));
    socket.write(c.bytes);
    socket.waitForBytesWritten(1000);
    socket.disconnectFromServer();
    Spin([&] { return !received_.isEmpty(); }, c.expected ? 5000 : 300);
    EXPECT_EQ(received_.size(), c.expected ? 1 : 0) << c.bytes.left(20).toStdString();
  }
}

}  // namespace
