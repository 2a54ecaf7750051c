#include "shell/tray_icon.h"

#include <QMenu>

#include "shell/command_ids.h"

CTrayIcon::CTrayIcon(int id, QObject* parent)
    : QObject(parent), id_(id), icon_(new QSystemTrayIcon(this)), menu_(new QMenu()) {
  menu_->setTitle(QStringLiteral("托盘(&T)"));
  menu_->setObjectName(QString::number(id_));
  const struct {
    int command;
    const char* text;
  } items[] = {{cmd::kTrayOpen, "打开(&O)"}, {cmd::kAppAbout, "关于 Tessarine(&A)"}, {0, nullptr},
               {cmd::kTrayExit, "退出 Tessarine(&S)"}};
  for (const auto& item : items) {
    if (item.text == nullptr) {
      menu_->addSeparator();
      continue;
    }
    QAction* action = menu_->addAction(QString::fromUtf8(item.text));
    action->setObjectName(QString::number(item.command));
    connect(action, &QAction::triggered, this, [this, command = item.command] { emit commandTriggered(command); });
  }
  QAction* first = menu_->actions().first();
  QFont bold = first->font();
  bold.setBold(true);
  first->setFont(bold);
  menu_->setDefaultAction(first);
  icon_->setContextMenu(menu_);
  connect(icon_, &QSystemTrayIcon::activated, this,
          [this](QSystemTrayIcon::ActivationReason reason) { OnTrayNotification(id_, reason); });
}

CTrayIcon::~CTrayIcon() {
  SetIcon(0);
  delete menu_;
}

bool CTrayIcon::SetIcon(int resourceId) {
  if (resourceId == 0) {
    if (!shown_) return true;
    icon_->hide();
    shown_ = false;
    return true;
  }
  icon_->setIcon(QIcon(QStringLiteral(":/shell/tray_%1.png").arg(resourceId)));
  icon_->show();  // a second call changes the shown icon in place
  shown_ = true;
  return true;
}

int CTrayIcon::OnTrayNotification(int id, QSystemTrayIcon::ActivationReason reason) {
  if (id != id_) return 0;
  switch (reason) {
    case QSystemTrayIcon::Context:
      return 1;  // the icon shows its context menu itself
    case QSystemTrayIcon::DoubleClick:
      menu_->actions().first()->trigger();
      return 1;
    default:
      return 0;
  }
}
