#ifndef QUOTELOOM_PLOTMIRE_CHART_WINDOW_H
#define QUOTELOOM_PLOTMIRE_CHART_WINDOW_H

#include <QMainWindow>
#include <QString>

#include <memory>

#include "plotmire/chart_data.h"

class ChartPanel;
class QLabel;
class QTimer;
class TickFileFollower;

// GUI thread. The window titled "Plotmire": charts one per-contract tick file and follows it,
// checking once a second for lines appended since; switches to another file on request.
class ChartWindow : public QMainWindow {
  Q_OBJECT

 public:
  explicit ChartWindow(QString program_dir, QWidget* parent = nullptr);
  ~ChartWindow() override;

  // A path as the desktop program sends it: "yyyymmdd\contract.csv" below <program dir>/Data.
  void OpenReceivedPath(const QString& received);
  // A file named directly, as on the command line.
  void OpenFile(const QString& file_path);
  // One check of the file for new lines; the timer calls it every second.
  void Refresh();
  void SetListenNote(const QString& note);

  ChartPanel* panel() const { return panel_; }
  const ChartData& data() const { return data_; }
  QString status_text() const;

 private:
  void createStatusBar();
  void Follow(const QString& file_path, const QString& contract, const QString& trading_day);
  void ShowProblem(const QString& headline, const QString& detail);
  void UpdateStatus();

  const QString program_dir_;
  ChartPanel* panel_;
  QTimer* timer_;
  QLabel* file_label_ = nullptr;
  QLabel* warning_label_ = nullptr;
  QLabel* listen_label_ = nullptr;
  std::unique_ptr<TickFileFollower> follower_;
  ChartData data_;
  QString contract_;
  QString trading_day_;
  bool chart_shown_ = false;
};

#endif
