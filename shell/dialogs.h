#ifndef QUOTELOOM_SHELL_DIALOGS_H
#define QUOTELOOM_SHELL_DIALOGS_H

#include <QMessageBox>
#include <QString>

class QWidget;

// The shell's modal boxes, behind an interface so tests answer them. User-interface thread only.
class Dialogs {
 public:
  virtual ~Dialogs() = default;
  // Shows a message box and returns the button chosen.
  virtual QMessageBox::StandardButton Message(QWidget* parent, QMessageBox::Icon icon,
                                              const QString& caption, const QString& text,
                                              QMessageBox::StandardButtons buttons) = 0;
  // Shows the About dialog modally.
  virtual void About(QWidget* parent) = 0;
};

// The real boxes: QMessageBox and CAboutDlg, each run modally.
class ModalDialogs : public Dialogs {
 public:
  QMessageBox::StandardButton Message(QWidget* parent, QMessageBox::Icon icon, const QString& caption,
                                      const QString& text, QMessageBox::StandardButtons buttons) override;
  void About(QWidget* parent) override;
};

inline const QString kSystemPromptCaption = QStringLiteral("系统提示");

#endif
