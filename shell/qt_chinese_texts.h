#ifndef QUOTELOOM_SHELL_QT_CHINESE_TEXTS_H
#define QUOTELOOM_SHELL_QT_CHINESE_TEXTS_H

class QCoreApplication;
class QTranslator;

// Qt's own texts (the standard buttons 确定 and 取消, the file dialogs) in Chinese, as the window's
// own texts are, whatever the user's locale: Qt's zh_CN translation from Debian's
// qt6-translations-l10n. Returns the installed translator (owned by `app`), or null when the
// translation is not on this machine (the buttons then stay in English). User-interface thread.
QTranslator* InstallQtChineseTexts(QCoreApplication& app);

#endif
