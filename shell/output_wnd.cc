#include "shell/output_wnd.h"

#include <QApplication>
#include <QScrollBar>
#include <QTabWidget>

#include "core/log_sink.h"
#include "shell/command_ids.h"
#include "shell/log_list_model.h"
#include "shell/log_tab_layout.h"
#include "shell/market_data_tab.h"
#include "shell/output_list.h"

COutputWnd::COutputWnd(LogSink& sink, Dialogs& dialogs, MarketDataTab* tickTab, QWidget* parent)
    : QDockWidget(QStringLiteral("日志切换"), parent), sink_(sink), tickTab_(tickTab) {
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

COutputWnd::~COutputWnd() {
  sink_.Detach(this);
  if (tickTab_ != nullptr) tickTab_->ShowFrom(0);  // nothing shows the tab any more
}

void COutputWnd::CreateTabs(Dialogs& dialogs) {
  tabs_ = new QTabWidget(this);
  tabs_->setTabPosition(QTabWidget::South);
  tabs_->setDocumentMode(true);
  for (LogTab tab : kLogTabLayout) {
    auto* list = new COutputList(dialogs, tabs_);
    auto* model = new LogListModel(list);
    list->setModel(model);
    lists_[Index(tab)] = list;
    models_[Index(tab)] = model;
    tabs_->addTab(list, QString::fromUtf8(LogTabLabel(tab)));
    connect(list, &COutputList::hideRequested, this, [this] {
      if (parentWidget() != nullptr) parentWidget()->setFocus();
      hide();
    });
  }
  // Only the tick tab is trimmed, so only its scroll position matters outside the window.
  LogListModel* ticks = models_[Index(LogTab::MarketData)];
  connect(lists_[Index(LogTab::MarketData)]->verticalScrollBar(), &QScrollBar::valueChanged, this,
          &COutputWnd::PublishFirstShown);
  connect(ticks, &QAbstractItemModel::rowsInserted, this, &COutputWnd::PublishFirstShown);
  connect(ticks, &QAbstractItemModel::rowsRemoved, this, &COutputWnd::PublishFirstShown);
  connect(ticks, &QAbstractItemModel::modelReset, this, &COutputWnd::PublishFirstShown);
  tabs_->setCurrentIndex(0);
  setWidget(tabs_);
}

void COutputWnd::UpdateFonts() {
  for (COutputList* list : lists_) list->setFont(QApplication::font());
}

void COutputWnd::PublishFirstShown() {
  if (tickTab_ == nullptr) return;
  tickTab_->ShowFrom(static_cast<std::size_t>(lists_[Index(LogTab::MarketData)]->FirstVisibleRow()));
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
