#ifndef QUOTELOOM_SHELL_ABOUT_DLG_H
#define QUOTELOOM_SHELL_ABOUT_DLG_H

#include <QDialog>

// The About box "关于 Tessarine". User-interface thread; shown modally.
class CAboutDlg : public QDialog {
  Q_OBJECT

 public:
  explicit CAboutDlg(QWidget* parent = nullptr);
};

#endif
