#ifndef QUOTELOOM_SHELL_MAIN_FRAME_H
#define QUOTELOOM_SHELL_MAIN_FRAME_H

#include <QHash>
#include <QList>
#include <QMainWindow>
#include <functional>

class CaptionBar;
class CChildFrame;
class CFerrowickApp;
class COutputWnd;
class CTrayIcon;
class QActionGroup;
class QLabel;
class QMdiArea;
class QMenu;
class QToolBar;
class ScrollLockState;

// The program's one top-level window: tabbed document area, menus 128/130, toolbar, status bar,
// caption bar, the log dock and the tray icon. User-interface thread only.
class CMainFrame : public QMainWindow {
  Q_OBJECT

 public:
  static constexpr int kStatusTimerMs = 1000;
  static constexpr int kDocumentTimerMs = 1;

  explicit CMainFrame(CFerrowickApp& app, QWidget* parent = nullptr);
  ~CMainFrame() override;

  // The command with this id (its object name is the number), or null.
  QAction* action(int id) const { return actions_.value(id); }
  // 128 while no document window exists, 130 afterwards.
  int currentMenu() const { return currentMenu_; }
  QList<QMenu*> menus(int menuId) const { return menuId == 128 ? menus128_ : menus130_; }
  void UpdateCommandUi();

  void SetCaptionBarText(const QString& text);
  CaptionBar* captionBar() const { return captionBar_; }
  COutputWnd* outputWnd() const { return outputWnd_; }
  QMdiArea* mdiArea() const { return mdiArea_; }
  CTrayIcon* trayIcon() const { return trayIcon_; }
  // 0 the message text, 1 the active document tab, 2 empty, 3 the scroll-lock indicator.
  QLabel* statusPane(int index) const { return panes_[index]; }
  // Pane 0's text while no menu prompt shows (the idle text, the view's line count).
  void SetMessageText(const QString& text);
  QString radarText() const { return radarText_; }

  // A second start asked for the window: restore, raise and show it; the tray icon stays.
  void ActivateFromSecondInstance();
  // Tray command 311: show the window and remove the icon.
  void OnTrayOpen();
  void OnActiveTabChanged(const QString& label);
  void OnDocumentTimer();
  void OnApplicationLook(int id);
  // Ends the program without the confirmation (the session ends or the process was told to stop).
  void CloseWithoutAsking();

 protected:
  bool event(QEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  void CreateActions();
  void CreateLookActions();
  void CreateMenus();
  QMenu* CreateFileMenu(bool withDocument);
  QMenu* CreateViewMenu(bool withListItems);
  QMenu* CreateWebLinkMenu();
  void CreateToolBar();
  void CreateStatusBar();
  void CreateCentralArea();
  void CreateDockWindows();
  void CreateTray();
  void ShowMenu(int menuId);
  void SetStatusPaneWidths();
  void UpdateScrollLockPane();
  void OnStatusTimer();
  void HideToTray();
  void ShowCustomizeMenu();
  void ShowWindowManager();
  // Window placement, toolbar and dock layout in the workspace section of the per-user store.
  void SaveWorkspace();
  void RestoreWorkspace();
  QAction* AddCommand(int id, const QString& text, std::function<void()> handler = nullptr);

  CFerrowickApp& app_;
  QString radarText_;
  CTrayIcon* trayIcon_ = nullptr;
  QHash<int, QAction*> actions_;
  QActionGroup* looks_ = nullptr;
  QList<QMenu*> menus128_;
  QList<QMenu*> menus130_;
  QAction* aboutTopLevel_ = nullptr;
  QMenu* toolbarsMenu_ = nullptr;
  QToolBar* toolBar_ = nullptr;
  QLabel* panes_[4] = {};
  QString messageText_;
  ScrollLockState* scrollLock_ = nullptr;
  CaptionBar* captionBar_ = nullptr;
  QMdiArea* mdiArea_ = nullptr;
  CChildFrame* documentWindow_ = nullptr;
  COutputWnd* outputWnd_ = nullptr;
  int currentMenu_ = 128;
  bool showRadar_ = false;  // no command turns the radar display on
  bool closing_ = false;
};

#endif
