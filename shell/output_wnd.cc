#include "shell/output_wnd.h"

#include <QApplication>
#include <QScrollBar>
#include <QTabWidget>

#include "core/log_sink.h"
#include "shell/command_ids.h"
#include "shell/log_list_model.h"
#include "shell/output_list.h"

COutputWnd::COutputWnd(LogSink& sink, Dialogs& dialogs, QWidget* parent)
    : QDockWidget(QStringLiteral("日志切换"), parent), sink_(sink) {
  setObjectName(QString::number(cmd::kHideOutputPane));
  setFeatures(QDockWidget::DockWidgetClosable | QDockWidget::DockWidgetMovable |
              QDockWidget::DockWidgetFloatable);
  CreateTabs(dialogs);
  UpdateFonts();
  const auto snapshot = sink_.Attach(this);
  for (int i = 0; i < kLogTabCount; ++i) {
    std::vector<QString> lines;
    lines.reserve(snapshot[i].size());
    for (const std::string& line : snapshot[i]) lines.push_back(QString::fromStdString(line));
    models_[i]->Assign(std::move(lines));
  }
}

COutputWnd::~COutputWnd() { sink_.Detach(this); }

void COutputWnd::CreateTabs(Dialogs& dialogs) {
  tabs_ = new QTabWidget(this);
  tabs_->setTabPosition(QTabWidget::South);
  tabs_->setDocumentMode(true);
  for (int i = 0; i < kLogTabCount; ++i) {
    auto* list = new COutputList(dialogs, tabs_);
    auto* model = new LogListModel(list);
    list->setModel(model);
    lists_[i] = list;
    models_[i] = model;
    tabs_->addTab(list, QString::fromUtf8(LogTabLabel(static_cast<LogTab>(i))));
    connect(list, &COutputList::hideRequested, this, [this] {
      if (parentWidget() != nullptr) parentWidget()->setFocus();
      hide();
    });
    auto publish = [this, i] { PublishFirstShown(i); };
    connect(list->verticalScrollBar(), &QScrollBar::valueChanged, this, publish);
    connect(model, &QAbstractItemModel::rowsInserted, this, publish);
    connect(model, &QAbstractItemModel::rowsRemoved, this, publish);
    connect(model, &QAbstractItemModel::modelReset, this, publish);
  }
  tabs_->setCurrentIndex(0);
  setWidget(tabs_);
}

void COutputWnd::UpdateFonts() {
  for (COutputList* list : lists_) list->setFont(QApplication::font());
}

void COutputWnd::PublishFirstShown(int tab) {
  firstShown_[tab].store(static_cast<std::size_t>(lists_[tab]->FirstVisibleRow()),
                         std::memory_order_release);
}

void COutputWnd::OnLineAppended(LogTab tab, const std::string& line) {
  QMetaObject::invokeMethod(
      this, [this, tab, text = QString::fromStdString(line)] { models_[Index(tab)]->Append(text); },
      Qt::QueuedConnection);
}

void COutputWnd::OnLinesRemoved(LogTab tab, std::size_t first, std::size_t count) {
  QMetaObject::invokeMethod(
      this, [this, tab, first, count] { models_[Index(tab)]->Remove(first, count); },
      Qt::QueuedConnection);
}

std::optional<std::size_t> COutputWnd::FirstShownLine(LogTab tab) const {
  return firstShown_[Index(tab)].load(std::memory_order_acquire);
}
