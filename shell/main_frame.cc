#include "shell/main_frame.h"

#include <QActionGroup>
#include <QApplication>
#include <QCloseEvent>
#include <QCursor>
#include <QInputDialog>
#include <QLabel>
#include <QMdiArea>
#include <QMenuBar>
#include <QStatusBar>
#include <QStatusTipEvent>
#include <QTabWidget>
#include <QTimer>
#include <QToolBar>
#include <QVBoxLayout>

#include "core/log_tab.h"
#include "shell/caption_bar.h"
#include "shell/child_frame.h"
#include "shell/command_ids.h"
#include "shell/dialogs.h"
#include "shell/ferrowick_app.h"
#include "shell/ferrowick_view.h"
#include "shell/output_wnd.h"
#include "shell/scroll_lock_state.h"
#include "shell/settings_user_store.h"
#include "shell/shell_system.h"
#include "shell/tray_icon.h"
#include "shell/visual_styles.h"

namespace {

const char* const kRadarFrames[] = {"-----", "///", "|||", "\\\\\\"};
const QString kRadarText = QStringLiteral("雷达正在监控中");

struct WebLink {
  int id;
  const char* text;
  const char* url;
};
const WebLink kWebLinks[] = {
    {cmd::kFirstWebLink + 0, "上海期货交易所", "https://www.shfe.com.cn/"},
    {cmd::kFirstWebLink + 1, "大连商品交易所", "http://www.dce.com.cn/"},
    {cmd::kFirstWebLink + 2, "郑州商品交易所", "http://www.czce.com.cn/"},
    {cmd::kFirstWebLink + 3, "中国金融期货交易所", "http://www.cffex.com.cn/"},
    {cmd::kFirstWebLink + 4, "上海国际能源交易中心", "https://www.ine.cn/"},
};

// A text pane of a set width that still gives way when the window is narrower than all panes.
class StatusPane : public QLabel {
 public:
  explicit StatusPane(QWidget* parent) : QLabel(parent) { setSizePolicy(QSizePolicy::Maximum, QSizePolicy::Preferred); }
  void SetWidth(int width) {
    if (width == width_) return;
    width_ = width;
    updateGeometry();
  }
  QSize sizeHint() const override { return {width_, QLabel::sizeHint().height()}; }
  QSize minimumSizeHint() const override { return {0, QLabel::minimumSizeHint().height()}; }

 private:
  int width_ = 0;
};

QString NextRadarText(const QString& current) {
  const int frames = static_cast<int>(std::size(kRadarFrames));
  for (int i = 0; i < frames - 1; ++i) {
    if (current == kRadarText + QString::fromUtf8(kRadarFrames[i])) {
      return kRadarText + QString::fromUtf8(kRadarFrames[i + 1]);
    }
  }
  return kRadarText + QString::fromUtf8(kRadarFrames[0]);
}

}  // namespace

CMainFrame::CMainFrame(CFerrowickApp& app, QWidget* parent) : QMainWindow(parent), app_(app) {
  setWindowTitle(CFerrowickApp::kTitle);
  resize(1100, 700);
  setDockNestingEnabled(true);
  app_.applicationLook = app_.workspace().ReadInt("ApplicationLook", cmd::kDefaultLook);
  CreateActions();
  CreateToolBar();
  CreateStatusBar();
  CreateCentralArea();
  CreateDockWindows();
  CreateMenus();
  CreateTray();
  OnApplicationLook(app_.applicationLook);
  RestoreWorkspace();

  auto* statusTimer = new QTimer(this);
  connect(statusTimer, &QTimer::timeout, this, &CMainFrame::OnStatusTimer);
  statusTimer->start(kStatusTimerMs);
  QTimer::singleShot(kDocumentTimerMs, this, &CMainFrame::OnDocumentTimer);
  UpdateCommandUi();
}

CMainFrame::~CMainFrame() = default;

QAction* CMainFrame::AddCommand(int id, const QString& text, std::function<void()> handler) {
  auto* command = new QAction(text, this);
  command->setObjectName(QString::number(id));
  if (handler) {
    connect(command, &QAction::triggered, this, [this, handler] {
      handler();
      UpdateCommandUi();
    });
  } else {
    command->setEnabled(false);  // no handler: always disabled
  }
  actions_.insert(id, command);
  return command;
}

void CMainFrame::CreateActions() {
  AddCommand(cmd::kFileNew, QStringLiteral("新建(&N)"), [this] { app_.OnFileNew(); })
      ->setShortcut(QKeySequence::New);
  AddCommand(cmd::kFileOpen, QStringLiteral("打开(&O)..."))->setShortcut(QKeySequence::Open);
  AddCommand(cmd::kFileClose, QStringLiteral("关闭(&C)"));
  AddCommand(cmd::kFileSave, QStringLiteral("保存(&S)"))->setShortcut(QKeySequence::Save);
  AddCommand(cmd::kFileSaveAs, QStringLiteral("另存为(&A)..."));
  AddCommand(cmd::kAppExit, QStringLiteral("退出(&X)"), [this] { close(); });
  AddCommand(cmd::kFilePrint, QStringLiteral("打印(&P)..."));
  AddCommand(cmd::kEditCut, QStringLiteral("剪切(&T)"));
  AddCommand(cmd::kEditCopy, QStringLiteral("复制(&C)"));
  AddCommand(cmd::kEditPaste, QStringLiteral("粘贴(&P)"));
  AddCommand(cmd::kViewLargeIcon, QStringLiteral("大图标(&G)"));
  AddCommand(cmd::kViewSmallIcon, QStringLiteral("小图标(&M)"));
  AddCommand(cmd::kViewList, QStringLiteral("列表(&L)"));
  AddCommand(cmd::kViewDetails, QStringLiteral("详细信息(&D)"));
  AddCommand(cmd::kViewByName, QStringLiteral("按名称(&N)"));
  AddCommand(cmd::kViewAutoArrange, QStringLiteral("自动排列(&A)"));
  AddCommand(cmd::kViewLineUp, QStringLiteral("对齐图标(&E)"));
  AddCommand(cmd::kWindowNew, QStringLiteral("新建窗口(&N)"));  // a second view would start a second collector
  AddCommand(cmd::kWindowManager, QStringLiteral("窗口(&W)..."), [this] { ShowWindowManager(); });
  AddCommand(cmd::kCustomize, QStringLiteral("自定义..."), [this] { ShowCustomizeMenu(); });
  AddCommand(cmd::kLogout, QStringLiteral("登出并断开交易服务器"));
  AddCommand(cmd::kLogin, QStringLiteral("连接并登录交易服务器"));

  QAction* timeStream = AddCommand(cmd::kTimeStreamMode,
                                   QStringLiteral("时间流(每个交易日多合约共用1个csv文件存储Tick)"), [this] {
    unsigned char& flag = app_.switches().timeStreamFlag;
    flag = flag ? 0 : 1;
    app_.store().Write(kTimeStreamModeName, std::to_string(flag));
  });
  QAction* perContract = AddCommand(cmd::kPerContractMode,
                                    QStringLiteral("单个合约(每个交易日每个合约采集Tick到1个csv文件)"), [this] {
    unsigned char& flag = app_.switches().perContractFlag;
    flag = flag ? 0 : 1;
    app_.store().Write(kPerContractModeName, std::to_string(flag));
  });
  AddCommand(cmd::kStartReplayService, QStringLiteral("开启行情重播服务功能(服务器)"),
             [this] { app_.OnStartReplayService(); });
  AddCommand(cmd::kStopReplayService, QStringLiteral("关闭行情重播服务功能(服务器)"),
             [this] { app_.OnStopReplayService(); });
  QAction* autorunOn = AddCommand(cmd::kAutorunOn, QStringLiteral("开机自动运行"), [this] { app_.OnAutorunOn(); });
  QAction* autorunOff = AddCommand(cmd::kAutorunOff, QStringLiteral("取消开机自动运行"), [this] { app_.OnAutorunOff(); });
  for (QAction* checkable : {timeStream, perContract, autorunOn, autorunOff}) checkable->setCheckable(true);
  AddCommand(cmd::kOpenDataDirectory, QStringLiteral("打开行情数据存储目录"), [this] { app_.OnOpenDataDirectory(); });
  AddCommand(cmd::kAppAbout, QStringLiteral("关于 Tessarine(&A)"), [this] { app_.OnAppAbout(); });
  for (const WebLink& link : kWebLinks) {
    const QUrl url(QString::fromUtf8(link.url));
    AddCommand(link.id, QString::fromUtf8(link.text), [this, url] { app_.OpenUrl(url); })->setStatusTip(url.toString());
  }
  CreateLookActions();
}

void CMainFrame::CreateLookActions() {
  looks_ = new QActionGroup(this);
  looks_->setExclusive(true);
  for (const ApplicationLook& look : ApplicationLooks()) {
    QAction* lookAction = AddCommand(look.id, look.menuText, [this, id = look.id] { OnApplicationLook(id); });
    lookAction->setCheckable(true);
    looks_->addAction(lookAction);
  }
}

QMenu* CMainFrame::CreateFileMenu(bool withDocument) {
  auto* menu = new QMenu(QStringLiteral("文件(&F)"), this);
  menu->addAction(action(cmd::kFileNew));
  menu->addAction(action(cmd::kFileOpen));
  menu->addAction(action(cmd::kFileClose));
  if (withDocument) {
    menu->addAction(action(cmd::kFileSave));
    menu->addAction(action(cmd::kFileSaveAs));
  }
  menu->addSeparator();
  menu->addAction(QStringLiteral("最近的文件"))->setEnabled(false);  // no document is ever opened
  menu->addSeparator();
  menu->addAction(action(cmd::kAppExit));
  return menu;
}

QMenu* CMainFrame::CreateViewMenu(bool withListItems) {
  auto* menu = new QMenu(QStringLiteral("视图(&V)"), this);
  menu->addMenu(toolbarsMenu_);
  menu->addAction(action(cmd::kViewStatusBar));
  menu->addAction(action(cmd::kCaptionBar));
  auto* looks = menu->addMenu(QStringLiteral("应用程序外观(&A)"));
  for (const ApplicationLook& look : ApplicationLooks()) {
    if (!look.menuText.isEmpty()) looks->addAction(action(look.id));
  }
  if (withListItems) {
    menu->addSeparator();
    for (int id : {cmd::kViewLargeIcon, cmd::kViewSmallIcon, cmd::kViewList, cmd::kViewDetails}) {
      menu->addAction(action(id));
    }
    menu->addSeparator();
    auto* arrange = menu->addMenu(QStringLiteral("排列图标(&A)"));
    arrange->addAction(action(cmd::kViewByName));
    arrange->addSeparator();
    arrange->addAction(action(cmd::kViewAutoArrange));
    menu->addAction(action(cmd::kViewLineUp));
  }
  return menu;
}

QMenu* CMainFrame::CreateWebLinkMenu() {
  auto* menu = new QMenu(QStringLiteral("期货交易所"), this);
  for (const WebLink& link : kWebLinks) menu->addAction(action(link.id));
  return menu;
}

void CMainFrame::CreateMenus() {
  toolbarsMenu_ = new QMenu(QStringLiteral("工具栏和停靠窗口(&T)"), this);
  toolbarsMenu_->addAction(toolBar_->toggleViewAction());
  toolbarsMenu_->addAction(outputWnd_->toggleViewAction());
  toolbarsMenu_->addSeparator();
  toolbarsMenu_->addAction(action(cmd::kCustomize));

  auto* replay = new QMenu(QStringLiteral("行情重播服务"), this);
  replay->addAction(action(cmd::kStartReplayService));
  replay->addAction(action(cmd::kStopReplayService));
  auto* help = new QMenu(QStringLiteral("帮助(&H)"), this);
  help->addAction(action(cmd::kAppAbout));
  QMenu* webLinks = CreateWebLinkMenu();
  menus128_ = {CreateFileMenu(false), CreateViewMenu(true), replay, webLinks, help};

  auto* window = new QMenu(QStringLiteral("窗口(&W)"), this);
  window->addAction(action(cmd::kWindowNew));
  window->addAction(action(cmd::kWindowManager));
  auto* network = new QMenu(QStringLiteral("网络连接"), this);
  network->addAction(action(cmd::kLogout));
  network->addAction(action(cmd::kLogin));
  auto* mode = new QMenu(QStringLiteral("采集模式"), this);
  mode->addAction(action(cmd::kTimeStreamMode));
  mode->addAction(action(cmd::kPerContractMode));
  menus130_ = {CreateFileMenu(true), CreateViewMenu(false), window, network, mode, replay, webLinks};

  aboutTopLevel_ = new QAction(QStringLiteral("关于 Tessarine"), this);
  aboutTopLevel_->setObjectName(QString::number(cmd::kAppAbout));
  connect(aboutTopLevel_, &QAction::triggered, action(cmd::kAppAbout), &QAction::trigger);
  for (QMenu* menu : menus128_ + menus130_) {
    connect(menu, &QMenu::aboutToShow, this, &CMainFrame::UpdateCommandUi);
  }
  ShowMenu(cmd::kMenuNoDocument);
}

void CMainFrame::ShowMenu(int menuId) {
  currentMenu_ = menuId;
  QMenuBar* bar = menuBar();
  bar->clear();
  bar->setObjectName(QString::number(menuId));
  for (QMenu* menu : menus(menuId)) bar->addMenu(menu);
  bar->addAction(aboutTopLevel_);
}

void CMainFrame::CreateToolBar() {
  auto* statusBarSwitch = AddCommand(cmd::kViewStatusBar, QStringLiteral("状态栏(&S)"),
                                     [this] { statusBar()->setVisible(!statusBar()->isVisible()); });
  statusBarSwitch->setCheckable(true);
  auto* captionSwitch = AddCommand(cmd::kCaptionBar, QStringLiteral("标题栏(&C)"), [this] {
    captionBar_->setVisible(!captionBar_->isVisible());
  });
  captionSwitch->setCheckable(true);

  toolBar_ = addToolBar(QStringLiteral("标准"));
  toolBar_->setObjectName(QStringLiteral("129"));
  const struct {
    int id;
    const char* image;
  } buttons[] = {{cmd::kFileNew, "new"},          {cmd::kFileOpen, "open"},     {cmd::kFileSave, "save"},
                 {0, nullptr},                     {cmd::kEditCut, "cut"},       {cmd::kEditCopy, "copy"},
                 {cmd::kEditPaste, "paste"},       {0, nullptr},                 {cmd::kFilePrint, "print"},
                 {0, nullptr},                     {cmd::kViewLargeIcon, "large_icons"},
                 {cmd::kViewSmallIcon, "small_icons"}, {cmd::kViewList, "list"}, {cmd::kViewDetails, "details"},
                 {cmd::kAppAbout, "about"}};
  for (const auto& button : buttons) {
    if (button.image == nullptr) {
      toolBar_->addSeparator();
      continue;
    }
    QAction* command = action(button.id);
    command->setIcon(QIcon(QStringLiteral(":/shell/toolbar_%1.png").arg(QString::fromUtf8(button.image))));
    toolBar_->addAction(command);
  }
}

void CMainFrame::CreateStatusBar() {
  // Four panes side by side from the left: message, document tab, refused ticks, scroll lock.
  for (int i = 0; i < 4; ++i) {
    panes_[i] = i < 3 ? new StatusPane(this) : new QLabel(this);
    panes_[i]->setObjectName(QStringLiteral("pane%1").arg(i));
    statusBar()->addWidget(panes_[i]);
  }
  panes_[3]->setText(QStringLiteral("SCRL"));
  scrollLock_ = new ScrollLockState(app_.scrollLockLedsDir(), this);
  connect(scrollLock_, &ScrollLockState::keyPressed, this, &CMainFrame::UpdateScrollLockPane);
  SetMessageText(QStringLiteral("就绪"));
  SetStatusPaneWidths();
  UpdateScrollLockPane();
}

void CMainFrame::SetStatusPaneWidths() {
  static_cast<StatusPane*>(panes_[0])->SetWidth(500);
  static_cast<StatusPane*>(panes_[1])->SetWidth(220);
  static_cast<StatusPane*>(panes_[2])->SetWidth(270);
}

// Lit while scroll lock is on, dimmed while it is off.
void CMainFrame::UpdateScrollLockPane() { panes_[3]->setEnabled(scrollLock_->IsOn()); }

void CMainFrame::SetMessageText(const QString& text) {
  messageText_ = text;
  panes_[0]->setText(text);
}

bool CMainFrame::event(QEvent* event) {
  // Menu prompts go to pane 0, like every other message; an empty one brings the message back.
  if (event->type() == QEvent::StatusTip) {
    const QString tip = static_cast<QStatusTipEvent*>(event)->tip();
    panes_[0]->setText(tip.isEmpty() ? messageText_ : tip);
    return true;
  }
  return QMainWindow::event(event);
}

void CMainFrame::CreateCentralArea() {
  auto* central = new QWidget(this);
  auto* layout = new QVBoxLayout(central);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  captionBar_ = new CaptionBar(central);
  connect(captionBar_, &CaptionBar::buttonClicked, action(cmd::kOpenDataDirectory), &QAction::trigger);
  mdiArea_ = new QMdiArea(central);
  mdiArea_->setViewMode(QMdiArea::TabbedView);
  mdiArea_->setTabsClosable(false);
  mdiArea_->setDocumentMode(true);
  connect(mdiArea_, &QMdiArea::subWindowActivated, this, [this](QMdiSubWindow* window) {
    if (window != nullptr) OnActiveTabChanged(window->windowTitle());
  });
  layout->addWidget(captionBar_);
  layout->addWidget(mdiArea_, 1);
  setCentralWidget(central);
}

void CMainFrame::CreateDockWindows() {
  outputWnd_ = new COutputWnd(app_.logSink(), app_.dialogs(), &app_.marketDataTab(), this);
  app_.SetOutputWnd(outputWnd_);
  addDockWidget(Qt::BottomDockWidgetArea, outputWnd_);
  outputWnd_->resize(width(), 200);
  connect(outputWnd_->tabs(), &QTabWidget::currentChanged, this,
          [this](int index) { OnActiveTabChanged(outputWnd_->tabs()->tabText(index)); });
}

void CMainFrame::CreateTray() {
  trayIcon_ = new CTrayIcon(cmd::kTrayMenu, this);
  connect(trayIcon_, &CTrayIcon::commandTriggered, this, [this](int command) {
    if (command == cmd::kTrayOpen) OnTrayOpen();
    if (command == cmd::kAppAbout) app_.OnAppAbout();
    if (command == cmd::kTrayExit) close();
  });
}

void CMainFrame::UpdateCommandUi() {
  const DesktopSwitches& switches = app_.switches();
  const bool serviceOn = ReplayServiceEnabled(switches.replayServiceState);
  action(cmd::kStartReplayService)->setEnabled(switches.replayServiceState == "0");
  action(cmd::kStopReplayService)->setEnabled(serviceOn);
  action(cmd::kTimeStreamMode)->setChecked(switches.timeStreamFlag == 1);
  action(cmd::kPerContractMode)->setChecked(switches.perContractFlag == 1);
  action(cmd::kAutorunOn)->setChecked(switches.autorunState.empty() || switches.autorunState == "1");
  action(cmd::kAutorunOff)->setChecked(switches.autorunState == "0");
  action(cmd::kCaptionBar)->setChecked(!captionBar_->isHidden());
  action(cmd::kViewStatusBar)->setChecked(!statusBar()->isHidden());
  if (QAction* look = action(app_.applicationLook)) look->setChecked(true);
}

void CMainFrame::SetCaptionBarText(const QString& text) { captionBar_->SetText(text); }

void CMainFrame::OnStatusTimer() {
  SetStatusPaneWidths();
  UpdateScrollLockPane();
  radarText_ = NextRadarText(radarText_);
  if (showRadar_) panes_[1]->setText(radarText_);
  // Journal failures show only once there are any: the pane stays as short as it was.
  QString refused = QStringLiteral("拒收行情%1笔").arg(app_.system().TicksRefused());
  if (const std::uint64_t failures = app_.system().JournalFailures()) {
    refused += QStringLiteral(" 日志失败%1笔").arg(failures);
  }
  if (const char* note = app_.system().MetricsNote(); note[0] != '\0') refused += QStringLiteral(" ") + note;
  panes_[2]->setText(refused);
  UpdateCommandUi();
}

void CMainFrame::OnDocumentTimer() {
  if (app_.view() != nullptr) return;  // there is only ever one document window
  documentWindow_ = new CChildFrame(mdiArea_);
  auto* view = new CFerrowickView(app_, documentWindow_);
  connect(view, &CFerrowickView::statusTextChanged, this,
          [this](const QString& text) { SetMessageText(text); });
  connect(view, &CFerrowickView::captionTextRequested, this, &CMainFrame::SetCaptionBarText);
  documentWindow_->setWidget(view);
  documentWindow_->setWindowTitle(QStringLiteral("数据文件列表"));
  mdiArea_->addSubWindow(documentWindow_);
  documentWindow_->showMaximized();
  ShowMenu(cmd::kMenuWithDocument);
  view->OnInitialUpdate();
  OnActiveTabChanged(documentWindow_->windowTitle());
  UpdateCommandUi();
}

void CMainFrame::OnActiveTabChanged(const QString& label) {
  for (int i = 0; i < kLogTabCount; ++i) {
    if (label == QString::fromUtf8(LogTabLabel(static_cast<LogTab>(i)))) return;
  }
  panes_[1]->setText(label);
}

void CMainFrame::OnApplicationLook(int id) {
  if (!IsApplicationLook(id)) id = cmd::kDefaultLook;
  QApplication::setOverrideCursor(Qt::WaitCursor);
  ApplyApplicationLook(id);
  app_.applicationLook = id;
  if (QAction* look = action(id)) look->setChecked(true);
  outputWnd_->UpdateFonts();
  update();
  app_.workspace().WriteInt("ApplicationLook", id);
  QApplication::restoreOverrideCursor();
}

void CMainFrame::ShowCustomizeMenu() {
  QMenu* menu = createPopupMenu();
  if (menu == nullptr) return;
  menu->exec(QCursor::pos());
  delete menu;
}

void CMainFrame::ShowWindowManager() {
  QStringList titles;
  for (QMdiSubWindow* window : mdiArea_->subWindowList()) titles << window->windowTitle();
  bool chosen = false;
  const QString title = QInputDialog::getItem(this, QStringLiteral("窗口"), QStringLiteral("窗口(&W)"),
                                              titles, 0, false, &chosen);
  if (!chosen) return;
  for (QMdiSubWindow* window : mdiArea_->subWindowList()) {
    if (window->windowTitle() == title) mdiArea_->setActiveSubWindow(window);
  }
}

void CMainFrame::closeEvent(QCloseEvent* event) {
  if (!closing_) {
    const auto answer = app_.dialogs().Message(this, QMessageBox::Warning, kSystemPromptCaption,
                                               QStringLiteral("确实要退出吗？"),
                                               QMessageBox::Ok | QMessageBox::Cancel);
    if (answer != QMessageBox::Ok) {
      event->ignore();
      return;
    }
    closing_ = true;
  }
  if (documentWindow_ != nullptr) documentWindow_->AllowClose();
  SaveWorkspace();
  trayIcon_->SetIcon(0);
  event->accept();
  app_.OnMainFrameClosed();
}

void CMainFrame::SaveWorkspace() {
  app_.workspace().Write("WindowGeometry", saveGeometry().toBase64().toStdString());
  app_.workspace().Write("WindowState", saveState().toBase64().toStdString());
}

void CMainFrame::RestoreWorkspace() {
  const auto stored = [this](const char* name) {
    return QByteArray::fromBase64(QByteArray::fromStdString(app_.workspace().Read(name)));
  };
  const QByteArray geometry = stored("WindowGeometry");
  if (!geometry.isEmpty()) restoreGeometry(geometry);
  const QByteArray state = stored("WindowState");
  if (!state.isEmpty()) restoreState(state);
}

void CMainFrame::CloseWithoutAsking() {
  closing_ = true;
  close();
}

void CMainFrame::changeEvent(QEvent* event) {
  QMainWindow::changeEvent(event);
  if (event->type() == QEvent::ApplicationFontChange || event->type() == QEvent::FontChange) {
    outputWnd_->UpdateFonts();
  }
  if (event->type() == QEvent::WindowStateChange && isMinimized() && app_.TrayAvailable()) {
    // Hiding inside the state change confuses some window managers; do it right after.
    QTimer::singleShot(0, this, &CMainFrame::HideToTray);
  }
}

void CMainFrame::HideToTray() {
  if (!isMinimized()) return;
  hide();
  trayIcon_->SetIcon(cmd::kTrayIcon);
}

void CMainFrame::OnTrayOpen() {
  setWindowState(windowState() & ~Qt::WindowMinimized);
  show();
  trayIcon_->SetIcon(0);
  raise();
  activateWindow();
}

void CMainFrame::ActivateFromSecondInstance() {
  setWindowState(windowState() & ~Qt::WindowMinimized);
  show();
  raise();
  activateWindow();
}
