#ifndef QUOTELOOM_SHELL_CHILD_FRAME_H
#define QUOTELOOM_SHELL_CHILD_FRAME_H

#include <QMdiSubWindow>

// The one document window. It refuses to close until the program closes, because its view is
// used by the tick writer for the whole run. User-interface thread only.
class CChildFrame : public QMdiSubWindow {
  Q_OBJECT

 public:
  explicit CChildFrame(QWidget* parent = nullptr);
  void AllowClose() { closeAllowed_ = true; }

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  bool closeAllowed_ = false;
};

#endif
