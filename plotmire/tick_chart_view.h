#ifndef QUOTELOOM_PLOTMIRE_TICK_CHART_VIEW_H
#define QUOTELOOM_PLOTMIRE_TICK_CHART_VIEW_H

#include <QChartView>

// GUI thread. A chart view that reports the axis position under the mouse, the wheel (zoom),
// a drag (pan) and a double-click (whole day) to its owner.
class TickChartView : public QChartView {
  Q_OBJECT

 public:
  TickChartView(QChart* chart, QWidget* parent = nullptr);

 signals:
  void hovered(double x);
  void left();
  void wheeled(double x, double steps);
  // Dragged by this part of the plot's width, positive to the right.
  void dragged(double fraction);
  void resetRequested();

 protected:
  void mouseMoveEvent(QMouseEvent* event) override;
  void leaveEvent(QEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;

 private:
  double drag_from_ = -1;  // pixel x where a drag was last reported, -1 when none runs
};

#endif
