#ifndef QUOTELOOM_PLOTMIRE_CHART_WINDOW_H
#define QUOTELOOM_PLOTMIRE_CHART_WINDOW_H

#include <QElapsedTimer>
#include <QMainWindow>
#include <QString>

#include <memory>
#include <vector>

#include "plotmire/chart_data.h"
#include "plotmire/tick_file_follower.h"

class ChartPanel;
class QLabel;
class QTimer;

// GUI thread. The window titled "Plotmire": charts one per-contract tick file and follows it,
// checking once a second for lines appended since; switches to another file on request. A big
// file is read a bounded step at a time, each step as soon as the window is idle, and drawn once
// it is read; a file beyond the follower's tick limit is charted up to the limit, with a warning.
class ChartWindow : public QMainWindow {
  Q_OBJECT

 public:
  explicit ChartWindow(QString program_dir, QWidget* parent = nullptr);
  ~ChartWindow() override;

  // A path as the desktop program sends it: "yyyymmdd\contract.csv" below <program dir>/Data.
  void OpenReceivedPath(const QString& received);
  // A file named directly, as on the command line.
  void OpenFile(const QString& file_path);
  // One check of the file for new lines (one step of a big file); the timer calls it every
  // second, and at once again while the file is not read to its end.
  void Refresh();
  // Limits for the files followed from now on (tests make them small).
  void SetFollowLimits(const TickFileFollower::Limits& limits) { limits_ = limits; }
  // Whether the file is still being read in steps (the chart shows what was there before).
  bool loading() const { return follower_ && follower_->unread() > 0; }
  void SetListenNote(const QString& note);

  ChartPanel* panel() const { return panel_; }
  const ChartData& data() const { return data_; }
  QString status_text() const;

 private:
  void createStatusBar();
  void Follow(const QString& file_path, const QString& contract, const QString& trading_day);
  void ShowProblem(const QString& headline, const QString& detail);
  void ChartReadTicks(const QString& path);
  void UpdateStatus();

  const QString program_dir_;
  ChartPanel* panel_;
  QTimer* timer_;
  QLabel* file_label_ = nullptr;
  QLabel* warning_label_ = nullptr;
  QLabel* listen_label_ = nullptr;
  TickFileFollower::Limits limits_;
  std::unique_ptr<TickFileFollower> follower_;
  // Ticks of a file being read in steps, charted together once it is read.
  std::vector<ChartTick> loading_;
  QElapsedTimer progress_shown_;  // when the reading progress was last shown
  ChartData data_;
  QString contract_;
  QString trading_day_;
  bool chart_shown_ = false;
};

#endif
