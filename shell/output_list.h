#ifndef QUOTELOOM_SHELL_OUTPUT_LIST_H
#define QUOTELOOM_SHELL_OUTPUT_LIST_H

#include <QListView>

class Dialogs;
class QMenu;

// One log tab's list: one line per entry, oldest at the top, with the context menu
// 复制 / 清除 / 隐藏. User-interface thread only.
class COutputList : public QListView {
  Q_OBJECT

 public:
  COutputList(Dialogs& dialogs, QWidget* parent = nullptr);

  // The first row shown at the top (0 for an empty or unscrolled list).
  int FirstVisibleRow() const;
  QMenu* contextMenu() const { return menu_; }

 signals:
  // "隐藏": the whole pane should hide.
  void hideRequested();

 protected:
  void contextMenuEvent(QContextMenuEvent* event) override;

 private:
  void CreateContextMenu();

  Dialogs& dialogs_;
  QMenu* menu_ = nullptr;
};

#endif
