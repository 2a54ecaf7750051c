#ifndef QUOTELOOM_SHELL_OUTPUT_WND_H
#define QUOTELOOM_SHELL_OUTPUT_WND_H

#include <QDockWidget>
#include <array>

#include "core/log_observer.h"
#include "core/log_tab.h"

class COutputList;
class Dialogs;
class LogListModel;
class LogSink;
class MarketDataTab;
class QTabWidget;

// The dock "日志切换": five tabs, one list per log tab, showing a log sink. Owned by the
// user-interface thread; the sink calls the observer methods on any appending thread, and they
// only post to the window (the appending thread never waits for it). The list of "行情数据" tells
// `tickTab` (when given) which line it shows at its top, so the trim keeps the lines above.
class COutputWnd : public QDockWidget, public LogObserver {
  Q_OBJECT

 public:
  COutputWnd(LogSink& sink, Dialogs& dialogs, MarketDataTab* tickTab, QWidget* parent = nullptr);
  ~COutputWnd() override;

  void UpdateFonts();
  COutputList* list(LogTab tab) const { return lists_[Index(tab)]; }
  LogListModel* model(LogTab tab) const { return models_[Index(tab)]; }
  QTabWidget* tabs() const { return tabs_; }

  void OnLineAppended(LogTab tab, const std::string& line) override;
  void OnLinesRemoved(LogTab tab, std::size_t first, std::size_t count) override;

 private:
  static int Index(LogTab tab) { return static_cast<int>(tab); }
  void CreateTabs(Dialogs& dialogs);
  void PublishFirstShown();

  LogSink& sink_;
  MarketDataTab* const tickTab_;
  QTabWidget* tabs_ = nullptr;
  std::array<COutputList*, kLogTabCount> lists_{};
  std::array<LogListModel*, kLogTabCount> models_{};
};

#endif
