#include "shell/dialogs.h"

#include "shell/about_dlg.h"

QMessageBox::StandardButton ModalDialogs::Message(QWidget* parent, QMessageBox::Icon icon,
                                                  const QString& caption, const QString& text,
                                                  QMessageBox::StandardButtons buttons) {
  QMessageBox box(icon, caption, text, buttons, parent);
  return static_cast<QMessageBox::StandardButton>(box.exec());
}

void ModalDialogs::About(QWidget* parent) {
  CAboutDlg dialog(parent);
  dialog.exec();
}
