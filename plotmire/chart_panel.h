#ifndef QUOTELOOM_PLOTMIRE_CHART_PANEL_H
#define QUOTELOOM_PLOTMIRE_CHART_PANEL_H

#include <QString>
#include <QWidget>

#include <cmath>
#include <utility>
#include <vector>

class ChartData;
class QCategoryAxis;
class QChart;
class QGraphicsEllipseItem;
class QGraphicsLineItem;
class QLabel;
class QLineSeries;
class QStackedLayout;
class QValueAxis;
class TickChartView;

// GUI thread. The intraday chart of one contract in one plot, so that every minute lines up:
// above, the last and average price over the session axis with the reference price; below, the
// volume of each tick as bars with the open interest. Hovering shows the values of the nearest
// tick. Shows a message instead when there is nothing to draw.
class ChartPanel : public QWidget {
  Q_OBJECT

 public:
  explicit ChartPanel(QWidget* parent = nullptr);

  void ShowMessage(const QString& headline, const QString& detail);
  // Draws the data; the panel reads it again while hovering, so it must outlive the next Show call.
  void ShowData(const ChartData* data, const QString& contract, const QString& trading_day);

  bool showing_chart() const;
  QString headline() const;
  QString info_text() const;
  // Shows the tick nearest to an axis position as hovering would.
  void HoverAt(double x);
  void EndHover();

 private:
  void createMessagePage();
  void createChartPage();
  QLineSeries* addSeries(QValueAxis* y_axis, const QColor& color, qreal width, Qt::PenStyle style = Qt::SolidLine);
  void UpdateTimeAxis();
  void UpdatePricePane();
  void UpdateVolumePane();
  void UpdateBreaks();
  void ShowTickInfo(int index, bool hovering);
  void PlaceCursor(int index);

  const ChartData* data_ = nullptr;
  QStackedLayout* stack_ = nullptr;
  QLabel* headline_ = nullptr;
  QLabel* detail_ = nullptr;
  QLabel* info_ = nullptr;

  QChart* chart_ = nullptr;
  TickChartView* view_ = nullptr;
  QCategoryAxis* time_axis_ = nullptr;
  // The visible scales: both run 0 to 1 over the plot height and carry the labels of both panes.
  QCategoryAxis* left_labels_ = nullptr;
  QCategoryAxis* right_labels_ = nullptr;
  // Hidden scales the series are drawn on.
  QValueAxis* price_axis_ = nullptr;
  QValueAxis* volume_axis_ = nullptr;
  QValueAxis* interest_axis_ = nullptr;

  QLineSeries* last_series_ = nullptr;
  QLineSeries* average_series_ = nullptr;
  QLineSeries* reference_series_ = nullptr;
  QLineSeries* pane_divider_ = nullptr;
  QLineSeries* up_volume_ = nullptr;
  QLineSeries* down_volume_ = nullptr;
  QLineSeries* flat_volume_ = nullptr;
  QLineSeries* interest_series_ = nullptr;
  std::vector<QLineSeries*> breaks_;  // one dashed line at each cut-out break

  QGraphicsLineItem* cursor_ = nullptr;
  QGraphicsEllipseItem* cursor_dot_ = nullptr;
  // Labels gathered by the two pane updates, set on the scales together.
  std::vector<std::pair<double, QString>> left_pending_;
  std::vector<std::pair<double, QString>> right_pending_;
  int price_decimals_ = 0;
  double hover_x_ = NAN;  // axis position under the mouse, NaN when it is elsewhere
};

#endif
