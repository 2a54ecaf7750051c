// Qt's standard buttons speak Chinese like the dialogs' own texts.
#include <QMessageBox>
#include <QPushButton>
#include <QTranslator>
#include <gtest/gtest.h>

#include "shell/qt_chinese_texts.h"
#include "tests/shell/shell_test_support.h"

namespace {

TEST(QtChineseTextsTest, TheStandardButtonsSayQueDingAndQuXiao) {
  QApplication& app = TestApplication();
  QTranslator* translator = InstallQtChineseTexts(app);
  ASSERT_NE(translator, nullptr) << "qtbase_zh_CN.qm not found (qt6-translations-l10n)";
  {
    QMessageBox box(QMessageBox::Question, QStringLiteral("系统提示"), QStringLiteral("确认退出？"),
                    QMessageBox::Ok | QMessageBox::Cancel);
    EXPECT_EQ(box.button(QMessageBox::Ok)->text(), QStringLiteral("确定"));
    EXPECT_EQ(box.button(QMessageBox::Cancel)->text(), QStringLiteral("取消"));
  }
  QCoreApplication::removeTranslator(translator);
  delete translator;
}

}  // namespace
