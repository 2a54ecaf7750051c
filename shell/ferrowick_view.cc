#include "shell/ferrowick_view.h"

#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QHeaderView>
#include <QMenu>
#include <QPointer>
#include <QTimer>
#include <memory>
#include <thread>

#include "core/clock.h"
#include "core/stop_save_windows.h"
#include "shell/chart_launcher.h"
#include "shell/desktop_switches.h"
#include "shell/dialogs.h"
#include "shell/ferrowick_app.h"
#include "shell/file_row_model.h"
#include "shell/file_row_registry.h"
#include "shell/shell_system.h"

namespace {
const QString kStopSaveNotice = QStringLiteral(
    "期货公司的CTP服务器在收盘后已关闭，请在8：30~15：00或20:30~2:30时间段开启\n开启后可24小时不间断运行");
const QString kChartMissing = QStringLiteral(
    "当前目录没有找到主程序Plotmire，也不要改变当前目录主程序Plotmire的文件名称！");
}  // namespace

CFerrowickView::CFerrowickView(CFerrowickApp& app, QWidget* parent)
    : QTableView(parent), app_(app), model_(new FileRowModel(this)) {
  setModel(model_);
  setSelectionBehavior(QAbstractItemView::SelectRows);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setShowGrid(true);
  verticalHeader()->hide();
  horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
  setWordWrap(false);
  CreateContextMenu();
  app_.SetView(this);
}

CFerrowickView::~CFerrowickView() { app_.registry().SetWake(nullptr); }

void CFerrowickView::OnInitialUpdate() {
  if (started_) return;
  started_ = true;
  setWindowTitle(QStringLiteral("数据文件列表"));
  // The destructor clears the wake under the registry's lock, so `this` is alive whenever it runs.
  app_.registry().SetWake(
      [this] { QMetaObject::invokeMethod(this, &CFerrowickView::DrainReports, Qt::QueuedConnection); });
  QTimer::singleShot(kSetUpDelayMs, this, &CFerrowickView::OnSetUpTimer);
  statusTimer_ = new QTimer(this);
  connect(statusTimer_, &QTimer::timeout, this, [this] { emit statusTextChanged(statusText()); });
  statusTimer_->start(kStatusPeriodMs);
  app_.system().Start(ReplayServiceEnabled(app_.switches().replayServiceState), &app_.registry(),
                      &app_.marketDataTab());
}

QString CFerrowickView::statusText() const {
  return QStringLiteral("共%1行 共%2列").arg(model_->rowCount()).arg(model_->columnCount());
}

void CFerrowickView::OnSetUpTimer() {
  model_->SetUp();
  for (int column = 0; column < FileRowModel::kColumns; ++column) {
    setColumnWidth(column, FileRowModel::Width(column));
  }
  ShowStopSaveNotice();
}

void CFerrowickView::ShowStopSaveNotice() {
  const ClockReading now = app_.clock().Now();
  if (!app_.system().stopSaveWindows().Contains(StopSaveWindows::ClockValue(now.hour, now.minute))) return;
  app_.dialogs().Message(nullptr, QMessageBox::NoIcon, CFerrowickApp::kTitle, kStopSaveNotice,
                         QMessageBox::Ok);
}

void CFerrowickView::DrainReports() {
  for (const RowReport& report : app_.registry().TakePending()) model_->Apply(report);
}

void CFerrowickView::OnDoubleClick() {
  const QModelIndexList selected = selectionModel()->selectedRows();
  if (selected.isEmpty()) {
    app_.dialogs().Message(this, QMessageBox::Warning, kSystemPromptCaption,
                           QStringLiteral("请至少选择一项"), QMessageBox::Ok);
    return;
  }
  const int row = selected.first().row();
  const QString fileName = model_->Text(row, FileRowModel::kFileName);
  emit captionTextRequested(QStringLiteral("打开[") + fileName + QStringLiteral("]分时图"));
  const QString relativePath = model_->Text(row, FileRowModel::kTradingDay) + QLatin1Char('\\') + fileName;
  StartChartLaunchThread(relativePath.toStdString());
}

void CFerrowickView::StartChartLaunchThread(const std::string& relativePath) {
  std::shared_ptr<ChartLauncher> launcher = app_.chartLauncher();
  QPointer<CFerrowickView> self(this);
  std::thread([launcher, self, relativePath] {
    if (!launcher->StartProgram(launcher->ChartProgramPath())) {
      // The box belongs to the window's thread; this thread goes on without waiting for it.
      QMetaObject::invokeMethod(QCoreApplication::instance(), [self] {
        if (self) {
          self->app_.dialogs().Message(nullptr, QMessageBox::Information, kSystemPromptCaption,
                                       kChartMissing, QMessageBox::Ok);
        }
      }, Qt::QueuedConnection);
    }
    launcher->SendPathToChart(relativePath);
  }).detach();
}

void CFerrowickView::mouseDoubleClickEvent(QMouseEvent* event) {
  QTableView::mouseDoubleClickEvent(event);
  OnDoubleClick();
}

void CFerrowickView::CreateContextMenu() {
  menu_ = new QMenu(QStringLiteral("编辑"), this);
  menu_->setObjectName(QStringLiteral("119"));
  const struct {
    const char* text;
    QKeySequence::StandardKey key;
  } items[] = {{"剪切(&T)", QKeySequence::Cut}, {"复制(&C)", QKeySequence::Copy}, {"粘贴(&P)", QKeySequence::Paste}};
  for (const auto& item : items) {
    QAction* action = menu_->addAction(QString::fromUtf8(item.text));
    action->setShortcut(item.key);
    action->setEnabled(false);  // the view handles none of them
  }
}

void CFerrowickView::contextMenuEvent(QContextMenuEvent* event) { menu_->exec(event->globalPos()); }
