#include "shell/output_list.h"

#include <QContextMenuEvent>
#include <QMenu>
#include <QScrollBar>

#include "shell/command_ids.h"
#include "shell/dialogs.h"

COutputList::COutputList(Dialogs& dialogs, QWidget* parent) : QListView(parent), dialogs_(dialogs) {
  setUniformItemSizes(true);
  setVerticalScrollMode(QAbstractItemView::ScrollPerItem);  // scroll value = first shown row
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);     // long lines are cut at the edge
  setTextElideMode(Qt::ElideNone);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setSelectionMode(QAbstractItemView::ExtendedSelection);
  CreateContextMenu();
}

int COutputList::FirstVisibleRow() const {
  const int rows = model() != nullptr ? model()->rowCount() : 0;
  if (rows == 0) return 0;
  return std::clamp(verticalScrollBar()->value(), 0, rows - 1);
}

void COutputList::CreateContextMenu() {
  menu_ = new QMenu(this);
  const QString title = QStringLiteral("Quoteloom");
  QAction* copy = menu_->addAction(QStringLiteral("复制(&C)"), this, [this, title] {
    dialogs_.Message(this, QMessageBox::NoIcon, title, QStringLiteral("复制输出"), QMessageBox::Ok);
  });
  copy->setObjectName(QString::number(cmd::kEditCopy));
  QAction* clear = menu_->addAction(QStringLiteral("清除(&C)"), this, [this, title] {
    dialogs_.Message(this, QMessageBox::NoIcon, title, QStringLiteral("清除输出"), QMessageBox::Ok);
  });
  clear->setObjectName(QString::number(cmd::kEditClear));
  menu_->addSeparator();
  QAction* hide = menu_->addAction(QStringLiteral("隐藏(&H)"), this, &COutputList::hideRequested);
  hide->setObjectName(QString::number(cmd::kHideOutputPane));
}

void COutputList::contextMenuEvent(QContextMenuEvent* event) {
  menu_->exec(event->globalPos());
  setFocus();
}
