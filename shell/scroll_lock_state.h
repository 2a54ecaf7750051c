#ifndef QUOTELOOM_SHELL_SCROLL_LOCK_STATE_H
#define QUOTELOOM_SHELL_SCROLL_LOCK_STATE_H

#include <QObject>
#include <QString>
#include <optional>

// The scroll-lock state for the status bar: the keyboard's scroll-lock LED where the kernel shows
// it (`<ledsDir>/*::scrolllock/brightness`), else the Scroll Lock presses that reached this
// program's windows. User-interface thread only.
class ScrollLockState : public QObject {
  Q_OBJECT

 public:
  static const QString kDefaultLedsDir;  // "/sys/class/leds"

  explicit ScrollLockState(QString ledsDir, QObject* parent = nullptr);
  ~ScrollLockState() override;

  bool IsOn() const;

 signals:
  // A Scroll Lock press was seen; IsOn() may have changed.
  void keyPressed();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // Lit when any keyboard's LED is lit; nothing when no scroll-lock LED is shown.
  std::optional<bool> ReadLeds() const;

  const QString ledsDir_;
  bool toggled_ = false;
};

#endif
