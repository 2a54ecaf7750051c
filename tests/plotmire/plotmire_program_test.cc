#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QProcess>
#include <QProcessEnvironment>

#include "plotmire/send_path_to_chart.h"

namespace {

// Runs the built chart program offscreen under a server name of its own.
class PlotmireProgramTest : public ::testing::Test {
 protected:
  void Start(QProcess* p) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    p->setProcessEnvironment(env);
    p->start(PLOTMIRE_BINARY, {"--server-name", name_});
    ASSERT_TRUE(p->waitForStarted(5000));
  }
  void TearDown() override {
    program_.kill();
    program_.waitForFinished(5000);
  }

  const QString name_ = QStringLiteral("plotmire-program-test-%1").arg(QCoreApplication::applicationPid());
  QProcess program_;
};

TEST_F(PlotmireProgramTest, AStartedProgramReceivesAPathWithinTheAttempts) {
  Start(&program_);
  ChartLinkOptions options;
  options.server_name = name_;
  // The attempts span about a second: delivery means the program listened by then.
  EXPECT_TRUE(SendPathToChart("20240301\\rb2405.csv", options));
  EXPECT_EQ(program_.state(), QProcess::Running) << "a path to a missing file is shown, not fatal";
  EXPECT_TRUE(SendPathToChart("\\", options));
  EXPECT_EQ(program_.state(), QProcess::Running);

  // A second start without a path leaves the running one in charge and ends.
  QProcess second;
  Start(&second);
  ASSERT_TRUE(second.waitForFinished(5000));
  EXPECT_EQ(second.exitCode(), 0);
  EXPECT_TRUE(SendPathToChart("20240301\\rb2405.csv", options));
}

}  // namespace
