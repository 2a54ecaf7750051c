#ifndef QUOTELOOM_SHELL_FERROWICK_VIEW_H
#define QUOTELOOM_SHELL_FERROWICK_VIEW_H

#include <QTableView>

class CFerrowickApp;
class FileRowModel;
class QMenu;
class QTimer;

// The data file list: one row per contract file written, kept current by the tick writer's
// reports; its initial update sets the collector in motion. User-interface thread only; the
// reports arrive through the application's FileRowRegistry as posted calls.
class CFerrowickView : public QTableView {
  Q_OBJECT

 public:
  static constexpr int kSetUpDelayMs = 50;
  static constexpr int kStatusPeriodMs = 500;

  explicit CFerrowickView(CFerrowickApp& app, QWidget* parent = nullptr);
  ~CFerrowickView() override;

  // Starts the replay service (when the stored state says so), the timers, the writer and the collector.
  void OnInitialUpdate();
  // What a double-click on the list does, with the current selection.
  void OnDoubleClick();

  FileRowModel* rows() const { return model_; }
  QString statusText() const;
  QMenu* contextMenu() const { return menu_; }

 signals:
  // "共%d行 共%d列", every 500 ms, for the frame's status bar.
  void statusTextChanged(const QString& text);
  // "打开[...]分时图" for the frame's caption bar.
  void captionTextRequested(const QString& text);

 protected:
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;

 private:
  void CreateContextMenu();
  void OnSetUpTimer();
  void ShowStopSaveNotice();
  void DrainReports();
  void StartChartLaunchThread(const std::string& relativePath);

  CFerrowickApp& app_;
  FileRowModel* model_ = nullptr;
  QMenu* menu_ = nullptr;
  QTimer* statusTimer_ = nullptr;
  bool started_ = false;
};

#endif
