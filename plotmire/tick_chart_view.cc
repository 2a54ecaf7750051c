#include "plotmire/tick_chart_view.h"

#include <QMouseEvent>

TickChartView::TickChartView(QChart* chart, QWidget* parent) : QChartView(chart, parent) {
  setMouseTracking(true);
  setRenderHint(QPainter::Antialiasing, true);
  setFrameShape(QFrame::NoFrame);
  setMinimumHeight(120);
}

void TickChartView::mouseMoveEvent(QMouseEvent* event) {
  const QPointF at = chart()->mapFromScene(mapToScene(event->position().toPoint()));
  const QRectF plot = chart()->plotArea();
  if (at.x() >= plot.left() && at.x() <= plot.right()) {
    emit hovered(chart()->mapToValue(at).x());
  } else {
    emit left();
  }
  QChartView::mouseMoveEvent(event);
}

void TickChartView::leaveEvent(QEvent* event) {
  emit left();
  QChartView::leaveEvent(event);
}
