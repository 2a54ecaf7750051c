#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>

#include "plotmire/extract_embedded_file.h"

namespace {

// The chart program carried by this test executable, as the desktop program carries it.
TEST(PlotmireEmbedTest, TheCarriedProgramIsWrittenOutAndRuns) {
  QTemporaryDir dir;
  const QString previous = QDir::currentPath();
  ASSERT_TRUE(QDir::setCurrent(dir.path()));
  ExtractEmbeddedFile(":/plotmire/Plotmire.exe", "Plotmire.exe");
  QDir::setCurrent(previous);

  const QString program = dir.filePath("Plotmire.exe");
  ASSERT_TRUE(QFile::exists(program));
  EXPECT_GT(QFile(program).size(), 10000);
  QProcess run;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("QT_QPA_PLATFORM", "offscreen");
  run.setProcessEnvironment(env);
  run.start(program, {"--help"});
  ASSERT_TRUE(run.waitForFinished(10000));
  EXPECT_EQ(run.exitCode(), 0);
  EXPECT_TRUE(run.readAllStandardOutput().contains("Intraday chart")) << "it is the chart program";
}

}  // namespace
