#include "plotmire/tick_chart_view.h"

#include <QMouseEvent>
#include <QWheelEvent>

TickChartView::TickChartView(QChart* chart, QWidget* parent) : QChartView(chart, parent) {
  setMouseTracking(true);
  setRenderHint(QPainter::Antialiasing, true);
  setFrameShape(QFrame::NoFrame);
  setMinimumHeight(120);
}

void TickChartView::mouseMoveEvent(QMouseEvent* event) {
  if (drag_from_ >= 0 && (event->buttons() & Qt::LeftButton)) {
    const double width = chart()->plotArea().width();
    if (width > 0) emit dragged((event->position().x() - drag_from_) / width);
    drag_from_ = event->position().x();
  }
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

void TickChartView::wheelEvent(QWheelEvent* event) {
  const QPointF at = chart()->mapFromScene(mapToScene(event->position().toPoint()));
  emit wheeled(chart()->mapToValue(at).x(), event->angleDelta().y() / 120.0);
  event->accept();
}

void TickChartView::mousePressEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) drag_from_ = event->position().x();
  QChartView::mousePressEvent(event);
}

void TickChartView::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) drag_from_ = -1;
  QChartView::mouseReleaseEvent(event);
}

void TickChartView::mouseDoubleClickEvent(QMouseEvent* event) {
  emit resetRequested();
  event->accept();
}
