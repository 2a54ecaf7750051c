#include "plotmire/chart_window.h"

#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QStatusBar>
#include <QTime>
#include <QTimer>

#include <cstddef>
#include <utility>

#include "plotmire/chart_panel.h"
#include "plotmire/chart_path.h"
#include "plotmire/chart_style.h"

namespace {

constexpr int kFollowIntervalMs = 1000;
// While a big file is read, its progress is shown a few times a second rather than at every step.
constexpr int kProgressIntervalMs = 250;

QString Megabytes(int64_t bytes) { return QString::number(static_cast<double>(bytes) / (1 << 20), 'f', 1); }

bool IsDay(const QString& text) {
  return text.size() == 8 && std::all_of(text.begin(), text.end(), [](QChar c) { return c.isDigit(); });
}

}  // namespace

ChartWindow::ChartWindow(QString program_dir, QWidget* parent)
    : QMainWindow(parent), program_dir_(std::move(program_dir)), panel_(new ChartPanel(this)), timer_(new QTimer(this)) {
  setWindowTitle(QStringLiteral("Plotmire"));
  setCentralWidget(panel_);
  createStatusBar();
  resize(1280, 800);
  timer_->setInterval(kFollowIntervalMs);
  connect(timer_, &QTimer::timeout, this, &ChartWindow::Refresh);
  panel_->ShowMessage(QStringLiteral("Waiting for a contract"),
                      QStringLiteral("Double-click a contract in Quoteloom's data list, or start Plotmire with a "
                                     "tick file:  Plotmire Data/20240301/rb2405.csv"));
}

ChartWindow::~ChartWindow() = default;

void ChartWindow::createStatusBar() {
  file_label_ = new QLabel(this);
  file_label_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  warning_label_ = new QLabel(this);
  listen_label_ = new QLabel(this);
  statusBar()->setStyleSheet(QStringLiteral("QStatusBar { background:%1; color:%2; } QLabel { color:%2; }")
                                 .arg(chart_style::kBackground.name(), chart_style::kAxisText.name()));
  warning_label_->setStyleSheet(QStringLiteral("color:%1;").arg(chart_style::kWarning.name()));
  statusBar()->addWidget(file_label_, 1);
  statusBar()->addWidget(warning_label_);
  statusBar()->addPermanentWidget(listen_label_);
}

void ChartWindow::SetListenNote(const QString& note) { listen_label_->setText(note); }

void ChartWindow::OpenReceivedPath(const QString& received) {
  const ChartPath path = FormChartPath(program_dir_, received);
  if (!path.ok) {
    follower_.reset();
    loading_ = {};
    data_.Clear();
    timer_->stop();
    ShowProblem(received == QLatin1String("\\") ? QStringLiteral("No contract chosen")
                                                : QStringLiteral("Cannot chart this path"),
                path.error);
    file_label_->setText(QStringLiteral("received \"%1\"").arg(received));
    warning_label_->clear();
    return;
  }
  QString contract = path.file_name;
  if (contract.endsWith(QLatin1String(".csv"), Qt::CaseInsensitive)) contract.chop(4);
  Follow(path.file_path, contract, path.trading_day);
}

void ChartWindow::OpenFile(const QString& file_path) {
  const QFileInfo info(file_path);
  const QString day = info.dir().dirName();
  Follow(info.absoluteFilePath(), info.completeBaseName(), IsDay(day) ? day : QString());
}

void ChartWindow::Follow(const QString& file_path, const QString& contract, const QString& trading_day) {
  follower_ = std::make_unique<TickFileFollower>(file_path, limits_);
  loading_ = {};
  progress_shown_.invalidate();
  data_.Clear();
  contract_ = contract;
  trading_day_ = trading_day;
  chart_shown_ = false;
  panel_->ShowMessage(QStringLiteral("Opening"), QDir::toNativeSeparators(file_path));
  Refresh();
  timer_->start();
}

void ChartWindow::ShowProblem(const QString& headline, const QString& detail) {
  chart_shown_ = false;
  panel_->ShowMessage(headline, detail);
}

void ChartWindow::Refresh() {
  if (!follower_) return;
  const size_t held = loading_.size();
  const TickFileFollower::Status status = follower_->Poll(&loading_);
  const QString path = QDir::toNativeSeparators(follower_->path());
  switch (status) {
    case TickFileFollower::Status::kMissing:
      loading_ = {};
      data_.Clear();
      ShowProblem(QStringLiteral("No tick file"),
                  QStringLiteral("%1 does not exist.\nThe chart appears as soon as the collector writes the "
                                 "first tick of this contract.").arg(path));
      break;
    case TickFileFollower::Status::kUnreadable:
      loading_ = {};
      data_.Clear();
      ShowProblem(QStringLiteral("Cannot read the tick file"),
                  QStringLiteral("%1: %2").arg(path, follower_->error_text()));
      break;
    case TickFileFollower::Status::kRestarted:
      loading_.erase(loading_.begin(), loading_.begin() + static_cast<ptrdiff_t>(held));  // of the file before
      progress_shown_.invalidate();
      data_.Clear();
      panel_->ShowMessage(QStringLiteral("Reading again"), path);
      chart_shown_ = false;
      [[fallthrough]];
    case TickFileFollower::Status::kRead:
      ChartReadTicks(path);
      break;
  }
  // The next step of a big file comes as soon as the window has handled its events.
  const bool reading = follower_->unread() > 0;
  const int interval = reading ? 0 : kFollowIntervalMs;
  if (timer_->interval() != interval) timer_->setInterval(interval);
  if (reading) {
    if (progress_shown_.isValid() && progress_shown_.elapsed() < kProgressIntervalMs) return;
    progress_shown_.start();
    // The chart is drawn once, when the file is read: not a growing chart redrawn at every step.
    if (!chart_shown_) {
      panel_->ShowMessage(QStringLiteral("Reading the tick file"),
                          QStringLiteral("%1\n%2 of %3 MB read")
                              .arg(path, Megabytes(follower_->size()), Megabytes(follower_->size() + follower_->unread())));
    }
  } else {
    progress_shown_.invalidate();
  }
  UpdateStatus();
}

void ChartWindow::ChartReadTicks(const QString& path) {
  if (follower_->unread() > 0) return;  // charted when the file is read
  const bool grew = !loading_.empty();
  data_.Append(std::exchange(loading_, {}));
  if (data_.empty()) {
    ShowProblem(QStringLiteral("No ticks yet"),
                follower_->lines() == 0
                    ? QStringLiteral("%1 is empty.\nThe chart appears with the first tick.").arg(path)
                    : QStringLiteral("None of the %1 lines of %2 is a tick line.").arg(follower_->lines()).arg(path));
  } else if (grew || !chart_shown_) {
    if (contract_.isEmpty()) contract_ = QString::fromStdString(data_.tick(0).contract);
    if (trading_day_.isEmpty()) trading_day_ = QString::fromStdString(data_.tick(0).trading_day);
    panel_->ShowData(&data_, contract_, trading_day_);
    chart_shown_ = true;
  }
}

void ChartWindow::UpdateStatus() {
  if (!follower_) return;
  QString reading;
  if (follower_->unread() > 0) {
    reading = QStringLiteral("   ·   reading, %1 of %2 MB")
                  .arg(Megabytes(follower_->size()), Megabytes(follower_->size() + follower_->unread()));
  }
  file_label_->setText(QStringLiteral("%1   ·   %2 ticks%3   ·   checked %4")
                           .arg(QDir::toNativeSeparators(follower_->path()))
                           .arg(data_.size())
                           .arg(reading, QTime::currentTime().toString(QStringLiteral("HH:mm:ss"))));
  QStringList warnings;
  if (follower_->full()) {
    warnings << QStringLiteral("⚠ Tick limit reached: the chart holds the first %1 ticks, the rest of the file "
                               "is not read")
                    .arg(follower_->limits().max_ticks);
  }
  if (follower_->malformed_lines() > 0) {
    warnings << QStringLiteral("⚠ %1 malformed line%2 skipped (first: line %3, %4)")
                    .arg(follower_->malformed_lines())
                    .arg(follower_->malformed_lines() == 1 ? "" : "s")
                    .arg(follower_->first_malformed_line())
                    .arg(QString::fromStdString(follower_->first_malformed_reason()));
  }
  warning_label_->setText(warnings.join(QStringLiteral("   ·   ")));
}

QString ChartWindow::status_text() const { return file_label_->text() + QLatin1Char(' ') + warning_label_->text(); }
