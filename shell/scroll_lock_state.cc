#include "shell/scroll_lock_state.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QKeyEvent>
#include <QWindow>

const QString ScrollLockState::kDefaultLedsDir = QStringLiteral("/sys/class/leds");

ScrollLockState::ScrollLockState(QString ledsDir, QObject* parent) : QObject(parent), ledsDir_(std::move(ledsDir)) {
  QCoreApplication::instance()->installEventFilter(this);
}

ScrollLockState::~ScrollLockState() { QCoreApplication::instance()->removeEventFilter(this); }

bool ScrollLockState::IsOn() const { return ReadLeds().value_or(toggled_); }

std::optional<bool> ScrollLockState::ReadLeds() const {
  const QStringList leds =
      QDir(ledsDir_).entryList({QStringLiteral("*::scrolllock")}, QDir::Dirs | QDir::NoDotAndDotDot);
  std::optional<bool> lit;
  for (const QString& led : leds) {
    QFile brightness(QDir(ledsDir_).filePath(led + QStringLiteral("/brightness")));
    if (!brightness.open(QIODevice::ReadOnly)) continue;
    bool number = false;
    const int value = brightness.read(16).trimmed().toInt(&number);
    if (!number) continue;
    lit = lit.value_or(false) || value > 0;
  }
  return lit;
}

bool ScrollLockState::eventFilter(QObject* watched, QEvent* event) {
  // A key event reaches the window first and then each widget it passes: count it at the window.
  if (event->type() == QEvent::KeyPress && watched->isWindowType()) {
    const auto* key = static_cast<QKeyEvent*>(event);
    if (key->key() == Qt::Key_ScrollLock && !key->isAutoRepeat()) {
      toggled_ = !toggled_;
      emit keyPressed();
    }
  }
  return QObject::eventFilter(watched, event);
}
