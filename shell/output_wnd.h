#ifndef QUOTELOOM_SHELL_OUTPUT_WND_H
#define QUOTELOOM_SHELL_OUTPUT_WND_H

#include <QDockWidget>
#include <array>
#include <atomic>

#include "core/log_observer.h"
#include "core/log_tab.h"

class COutputList;
class Dialogs;
class LogListModel;
class LogSink;
class QTabWidget;

// The dock "日志切换": five tabs, one list per log tab, showing a log sink. Owned by the
// user-interface thread; the sink calls the observer methods on any appending thread, and they
// only post to the window (the appending thread never waits for it).
class COutputWnd : public QDockWidget, public LogObserver {
  Q_OBJECT

 public:
  COutputWnd(LogSink& sink, Dialogs& dialogs, QWidget* parent = nullptr);
  ~COutputWnd() override;

  void UpdateFonts();
  COutputList* list(LogTab tab) const { return lists_[Index(tab)]; }
  LogListModel* model(LogTab tab) const { return models_[Index(tab)]; }
  QTabWidget* tabs() const { return tabs_; }

  void OnLineAppended(LogTab tab, const std::string& line) override;
  void OnLinesRemoved(LogTab tab, std::size_t first, std::size_t count) override;
  std::optional<std::size_t> FirstShownLine(LogTab tab) const override;

 private:
  static int Index(LogTab tab) { return static_cast<int>(tab); }
  void CreateTabs(Dialogs& dialogs);
  void PublishFirstShown(int tab);

  LogSink& sink_;
  QTabWidget* tabs_ = nullptr;
  std::array<COutputList*, kLogTabCount> lists_{};
  std::array<LogListModel*, kLogTabCount> models_{};
  // Written by the user-interface thread whenever a list scrolls or changes; read by the thread
  // that trims (the sink asks while holding its lock, so it cannot ask the window).
  std::array<std::atomic<std::size_t>, kLogTabCount> firstShown_{};
};

#endif
