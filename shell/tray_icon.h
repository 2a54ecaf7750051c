#ifndef QUOTELOOM_SHELL_TRAY_ICON_H
#define QUOTELOOM_SHELL_TRAY_ICON_H

#include <QObject>
#include <QSystemTrayIcon>

class QMenu;

// The notification-area icon (id 307) with its menu "打开", "关于 Tessarine", "退出 Tessarine".
// User-interface thread only; the main frame owns it and carries out the chosen commands.
class CTrayIcon : public QObject {
  Q_OBJECT

 public:
  explicit CTrayIcon(int id, QObject* parent = nullptr);
  ~CTrayIcon() override;

  // A non-zero resource id shows that icon (added, or changed in place); 0 removes it.
  bool SetIcon(int resourceId);
  bool shown() const { return shown_; }
  // Returns 1 when the event is this icon's right click or double-click, 0 otherwise.
  int OnTrayNotification(int id, QSystemTrayIcon::ActivationReason reason);
  QMenu* menu() const { return menu_; }

 signals:
  void commandTriggered(int command);

 private:
  const int id_;
  QSystemTrayIcon* icon_;
  QMenu* menu_;
  bool shown_ = false;
};

#endif
