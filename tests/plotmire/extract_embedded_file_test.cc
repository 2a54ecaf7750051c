#include "plotmire/extract_embedded_file.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

namespace {

const QString kResource = QStringLiteral(":/test/extract_sample.bin");

// Runs each test in a fresh current directory, as the desktop program extracts into its own.
class ExtractEmbeddedFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    previous_ = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(dir_.path()));
  }
  void TearDown() override {
    QFile::setPermissions(dir_.filePath("locked"), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    QDir::setCurrent(previous_);
  }

  static QByteArray Read(const QString& name) {
    QFile f(name);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
  }

  QTemporaryDir dir_;
  QString previous_;
};

TEST_F(ExtractEmbeddedFileTest, AMissingFileIsWrittenWithItsRunBit) {
  ExtractEmbeddedFile(kResource, "Plotmire.exe");
  ASSERT_TRUE(QFile::exists(dir_.filePath("Plotmire.exe")));
  EXPECT_EQ(Read("Plotmire.exe"), Read(kResource));
  EXPECT_EQ(Read("Plotmire.exe").size(), 256 * 3 + 9);
  EXPECT_TRUE(QFile::permissions("Plotmire.exe") & QFileDevice::ExeOwner);
  EXPECT_EQ(QDir(dir_.path()).entryList(QDir::Files | QDir::Hidden).size(), 1) << "nothing else is left behind";
}

TEST_F(ExtractEmbeddedFileTest, AnExistingEntryIsNeverReplaced) {
  {
    QFile empty("Plotmire.exe");
    ASSERT_TRUE(empty.open(QIODevice::WriteOnly));
  }
  ExtractEmbeddedFile(kResource, "Plotmire.exe");
  EXPECT_EQ(QFileInfo("Plotmire.exe").size(), 0) << "an empty file stays empty";
  EXPECT_FALSE(QFile::permissions("Plotmire.exe") & QFileDevice::ExeOwner);

  ASSERT_TRUE(QDir().mkdir("Folder.exe"));
  ExtractEmbeddedFile(kResource, "Folder.exe");
  EXPECT_TRUE(QFileInfo("Folder.exe").isDir());

  // A dangling link is an entry too: nothing is written through it.
  ASSERT_TRUE(QFile::link(dir_.filePath("elsewhere"), "Link.exe"));
  ExtractEmbeddedFile(kResource, "Link.exe");
  EXPECT_FALSE(QFile::exists(dir_.filePath("elsewhere")));
}

TEST_F(ExtractEmbeddedFileTest, AMissingResourceWritesNothingAndSaysNothing) {
  ExtractEmbeddedFile(":/test/no_such_resource", "Plotmire.exe");
  ExtractEmbeddedFile(kResource, "");
  EXPECT_TRUE(QDir(dir_.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden).isEmpty());
}

TEST_F(ExtractEmbeddedFileTest, AFolderThatCannotBeWrittenLeavesNoFile) {
  QDir().mkdir("locked");
  ASSERT_TRUE(QDir::setCurrent(dir_.filePath("locked")));
  QFile::setPermissions(".", QFileDevice::ReadOwner | QFileDevice::ExeOwner);
  QFile probe("probe");
  if (probe.open(QIODevice::WriteOnly)) GTEST_SKIP() << "permissions do not bind this user";
  ExtractEmbeddedFile(kResource, "Plotmire.exe");
  EXPECT_FALSE(QFile::exists("Plotmire.exe"));
}

}  // namespace
