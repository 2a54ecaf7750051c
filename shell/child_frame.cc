#include "shell/child_frame.h"

#include <QCloseEvent>

CChildFrame::CChildFrame(QWidget* parent) : QMdiSubWindow(parent) {
  setWindowFlags(windowFlags() & ~Qt::WindowCloseButtonHint);
}

void CChildFrame::closeEvent(QCloseEvent* event) {
  if (closeAllowed_) {
    QMdiSubWindow::closeEvent(event);
  } else {
    event->ignore();
  }
}
