#ifndef QUOTELOOM_PLOTMIRE_TICK_CHART_VIEW_H
#define QUOTELOOM_PLOTMIRE_TICK_CHART_VIEW_H

#include <QChartView>

// GUI thread. A chart view that reports the axis position under the mouse.
class TickChartView : public QChartView {
  Q_OBJECT

 public:
  TickChartView(QChart* chart, QWidget* parent = nullptr);

 signals:
  void hovered(double x);
  void left();

 protected:
  void mouseMoveEvent(QMouseEvent* event) override;
  void leaveEvent(QEvent* event) override;
};

#endif
