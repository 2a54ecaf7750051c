#include "plotmire/chart_panel.h"

#include <QCategoryAxis>
#include <QChart>
#include <QGraphicsEllipseItem>
#include <QGraphicsLineItem>
#include <QLabel>
#include <QLineSeries>
#include <QStackedLayout>
#include <QVBoxLayout>
#include <QValueAxis>

#include <algorithm>
#include <cmath>

#include "plotmire/chart_data.h"
#include "plotmire/chart_style.h"
#include "plotmire/series_decimator.h"
#include "plotmire/tick_chart_view.h"
#include "plotmire/tick_info_text.h"
#include "plotmire/value_band.h"

namespace {

using namespace chart_style;

// Enough slices for a wide screen: the thinned series look as the full ones do.
constexpr int kDrawBuckets = 2400;
constexpr int kMaxTimeLabels = 14;

// Panes as fractions of the plot height, from the bottom.
constexpr double kVolumeTop = 0.25;
constexpr double kPriceBottom = 0.31;
constexpr double kDivider = (kVolumeTop + kPriceBottom) / 2;

struct Span {
  double low = INFINITY;
  double high = -INFINITY;
  void Take(double v) {
    if (!HasValue(v)) return;
    low = std::min(low, v);
    high = std::max(high, v);
  }
  bool valid() const { return low <= high; }
};

void SetRange(QValueAxis* axis, const ValueBand& band) {
  const auto [low, high] = band.AxisRange();
  axis->setRange(low, high);
}

// Labels of the lower pane carry a narrow space, so that as keys they never clash with a price label.
void AddLowerPaneLabels(std::vector<std::pair<double, QString>>* labels, std::vector<std::pair<double, QString>> more) {
  for (auto& [at, text] : more) labels->push_back({at, text + QChar(0x202F)});
}

void SetLabels(QCategoryAxis* axis, std::vector<std::pair<double, QString>> labels) {
  for (const QString& label : axis->categoriesLabels()) axis->remove(label);
  std::sort(labels.begin(), labels.end());
  double previous = -1;
  for (const auto& [at, text] : labels) {
    if (at <= previous + 1e-9 || at < 0 || at > 1) continue;
    axis->append(text, at);
    previous = at;
  }
}

QPen LinePen(const QColor& color, qreal width, Qt::PenStyle style = Qt::SolidLine) {
  QPen pen(color, width, style);
  pen.setCosmetic(true);
  return pen;
}

QCategoryAxis* LabelAxis(QChart* chart, Qt::Alignment side, bool grid) {
  auto* axis = new QCategoryAxis(chart);
  axis->setLabelsPosition(QCategoryAxis::AxisLabelsPositionOnValue);
  axis->setLabelsColor(kAxisText);
  axis->setLabelsFont(QFont(QStringLiteral("DejaVu Sans"), 8));
  axis->setGridLineVisible(grid);
  axis->setGridLineColor(kGrid);
  axis->setLinePen(LinePen(kGrid, 1));
  axis->setStartValue(side == Qt::AlignBottom ? -1 : 0);
  chart->addAxis(axis, side);
  return axis;
}

QValueAxis* HiddenAxis(QChart* chart, Qt::Alignment side) {
  auto* axis = new QValueAxis(chart);
  chart->addAxis(axis, side);
  axis->setVisible(false);
  return axis;
}

}  // namespace

ChartPanel::ChartPanel(QWidget* parent) : QWidget(parent) {
  stack_ = new QStackedLayout(this);
  createMessagePage();
  createChartPage();
  QPalette p = palette();
  p.setColor(QPalette::Window, kBackground);
  p.setColor(QPalette::WindowText, kText);
  setPalette(p);
  setAutoFillBackground(true);
}

void ChartPanel::createMessagePage() {
  auto* page = new QWidget(this);
  auto* layout = new QVBoxLayout(page);
  layout->addStretch(2);
  headline_ = new QLabel(page);
  headline_->setAlignment(Qt::AlignCenter);
  QFont big = headline_->font();
  big.setPointSize(18);
  big.setBold(true);
  headline_->setFont(big);
  detail_ = new QLabel(page);
  detail_->setAlignment(Qt::AlignCenter);
  detail_->setWordWrap(true);
  detail_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  detail_->setStyleSheet(QStringLiteral("color:%1; font-size:11pt; margin: 12px 60px;").arg(kAxisText.name()));
  layout->addWidget(headline_);
  layout->addWidget(detail_);
  layout->addStretch(3);
  stack_->addWidget(page);
}

QLineSeries* ChartPanel::addSeries(QValueAxis* y_axis, const QColor& color, qreal width, Qt::PenStyle style) {
  auto* series = new QLineSeries(chart_);
  series->setPen(LinePen(color, width, style));
  chart_->addSeries(series);
  series->attachAxis(time_axis_);
  series->attachAxis(y_axis);
  return series;
}

void ChartPanel::createChartPage() {
  auto* page = new QWidget(this);
  auto* layout = new QVBoxLayout(page);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);

  info_ = new QLabel(page);
  info_->setTextFormat(Qt::RichText);
  info_->setStyleSheet(QStringLiteral("color:%1; background:%2; padding: 6px 12px; font-size:10pt;")
                           .arg(kText.name(), kBackground.name()));
  info_->setMinimumHeight(28);
  // A narrow window cuts the line short instead of refusing to shrink.
  info_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);

  chart_ = new QChart();
  chart_->setTheme(QChart::ChartThemeDark);
  chart_->setBackgroundBrush(kBackground);
  chart_->setBackgroundRoundness(0);
  chart_->setPlotAreaBackgroundBrush(kPlotBackground);
  chart_->setPlotAreaBackgroundVisible(true);
  chart_->legend()->hide();
  chart_->setMargins(QMargins(6, 2, 6, 4));
  chart_->setTitleBrush(kText);
  QFont title_font(QStringLiteral("DejaVu Sans"), 12);
  title_font.setBold(true);
  chart_->setTitleFont(title_font);

  time_axis_ = LabelAxis(chart_, Qt::AlignBottom, true);
  left_labels_ = LabelAxis(chart_, Qt::AlignLeft, true);
  right_labels_ = LabelAxis(chart_, Qt::AlignRight, false);
  left_labels_->setRange(0, 1);
  right_labels_->setRange(0, 1);
  price_axis_ = HiddenAxis(chart_, Qt::AlignLeft);
  volume_axis_ = HiddenAxis(chart_, Qt::AlignLeft);
  interest_axis_ = HiddenAxis(chart_, Qt::AlignRight);

  pane_divider_ = addSeries(left_labels_, kGrid, 1);
  reference_series_ = addSeries(price_axis_, kReference, 1, Qt::DashLine);
  average_series_ = addSeries(price_axis_, kAverage, 1.4);
  last_series_ = addSeries(price_axis_, kLast, 1.4);
  flat_volume_ = addSeries(volume_axis_, kFlat, 1);
  down_volume_ = addSeries(volume_axis_, kDown, 1);
  up_volume_ = addSeries(volume_axis_, kUp, 1);
  interest_series_ = addSeries(interest_axis_, kOpenInterest, 1.2);

  view_ = new TickChartView(chart_, page);
  cursor_ = new QGraphicsLineItem(chart_);
  cursor_->setPen(LinePen(kCursor, 1, Qt::DotLine));
  cursor_->setZValue(20);
  cursor_->hide();
  cursor_dot_ = new QGraphicsEllipseItem(-4, -4, 8, 8, chart_);
  cursor_dot_->setBrush(kLast);
  cursor_dot_->setPen(LinePen(kBackground, 1.5));
  cursor_dot_->setZValue(21);
  cursor_dot_->hide();
  connect(view_, &TickChartView::hovered, this, &ChartPanel::HoverAt);
  connect(view_, &TickChartView::left, this, &ChartPanel::EndHover);
  connect(view_, &TickChartView::wheeled, this, &ChartPanel::Zoom);
  connect(view_, &TickChartView::dragged, this, &ChartPanel::Pan);
  connect(view_, &TickChartView::resetRequested, this, &ChartPanel::ResetZoom);

  layout->addWidget(info_);
  layout->addWidget(view_, 1);
  stack_->addWidget(page);
}

void ChartPanel::ShowMessage(const QString& headline, const QString& detail) {
  data_ = nullptr;
  zoom_from_ = zoom_to_ = NAN;
  headline_->setText(headline);
  detail_->setText(detail);
  stack_->setCurrentIndex(0);
}

bool ChartPanel::showing_chart() const { return stack_->currentIndex() == 1; }
QString ChartPanel::headline() const { return showing_chart() ? chart_->title() : headline_->text(); }
QString ChartPanel::info_text() const { return info_->text(); }

void ChartPanel::ShowData(const ChartData* data, const QString& contract, const QString& trading_day) {
  data_ = data;
  chart_->setTitle(QStringLiteral("%1   ·   trading day %2").arg(contract, trading_day));
  Redraw();
  stack_->setCurrentIndex(1);
}

std::pair<double, double> ChartPanel::visible_range() const {
  const double whole = data_ ? std::max(1, data_->axis().minutes()) : 1;
  if (!HasValue(zoom_from_)) return {0, whole};
  return {zoom_from_, zoom_to_};
}

void ChartPanel::ZoomTo(double from, double to) {
  if (data_ == nullptr) return;
  const double whole = std::max(1, data_->axis().minutes());
  // At least two minutes wide, and never beyond the day.
  const double width = std::clamp(to - from, 2.0, whole);
  from = std::clamp(from, 0.0, whole - width);
  if (width >= whole) {
    zoom_from_ = zoom_to_ = NAN;
  } else {
    zoom_from_ = from;
    zoom_to_ = from + width;
  }
  Redraw();
}

void ChartPanel::ResetZoom() {
  zoom_from_ = zoom_to_ = NAN;
  if (data_ != nullptr && showing_chart()) Redraw();
}

void ChartPanel::Zoom(double anchor, double steps) {
  const auto [from, to] = visible_range();
  const double factor = std::pow(0.8, steps);
  ZoomTo(anchor - (anchor - from) * factor, anchor + (to - anchor) * factor);
}

void ChartPanel::Pan(double fraction) {
  if (!HasValue(zoom_from_)) return;
  const auto [from, to] = visible_range();
  const double shift = -fraction * (to - from);
  ZoomTo(from + shift, to + shift);
}

void ChartPanel::Redraw() {
  const auto [from, to] = visible_range();
  const auto [first, end] = data_->TicksBetween(from, to);
  UpdateTimeAxis(from, to);
  UpdatePricePane(first, end);
  UpdateVolumePane(first, end);
  UpdateBreaks();
  // A live update keeps the crosshair where the mouse is.
  if (HasValue(hover_x_)) {
    HoverAt(hover_x_);
  } else {
    EndHover();
  }
}

void ChartPanel::UpdateTimeAxis(double from, double to) {
  const SessionAxis& axis = data_->axis();
  for (const QString& label : time_axis_->categoriesLabels()) time_axis_->remove(label);
  for (const SessionAxis::Label& label : axis.Labels(kMaxTimeLabels, from, to)) {
    time_axis_->append(label.text, label.position);
  }
  time_axis_->setRange(from, to);
  pane_divider_->replace({QPointF(0, kDivider), QPointF(std::max(1, axis.minutes()), kDivider)});
}

void ChartPanel::UpdatePricePane(size_t first, size_t end) {
  QList<QPointF> last;
  QList<QPointF> average;
  last.reserve(static_cast<qsizetype>(end - first));
  average.reserve(static_cast<qsizetype>(end - first));
  Span prices;
  for (size_t i = first; i < end; ++i) {
    const double x = data_->x(i);
    const double l = data_->tick(i).last;
    const double a = data_->average(i);
    if (HasValue(l)) last.push_back(QPointF(x, l));
    if (HasValue(a)) average.push_back(QPointF(x, a));
    prices.Take(l);
    prices.Take(a);
  }
  last_series_->replace(DecimateLine(last, kDrawBuckets));
  average_series_->replace(DecimateLine(average, kDrawBuckets));
  const double reference = data_->reference_price();
  if (prices.valid() && HasValue(reference)) {
    // The reference line joins the range unless it would squeeze the day's moves into a strip.
    const double span = std::max(prices.high - prices.low, 1e-9);
    if (reference >= prices.low - span * 0.5 && reference <= prices.high + span * 0.5) prices.Take(reference);
  }
  if (!prices.valid()) prices.Take(HasValue(reference) ? reference : 0.0);
  const ValueBand band = ValueBand::Padded(prices.low, prices.high, 0.05, kPriceBottom, 1.0);
  SetRange(price_axis_, band);
  const double right = std::max(1, data_->axis().minutes());
  reference_series_->replace(HasValue(reference) ? QList<QPointF>{{0, reference}, {right, reference}}
                                                 : QList<QPointF>{});
  left_pending_ = band.RoundLabels(6, data_->price_decimals());
  right_pending_.clear();
  if (HasValue(reference)) right_pending_ = band.RoundLabels(6, 2, reference);
}

void ChartPanel::UpdateVolumePane(size_t first, size_t end) {
  QList<QPointF> bars;
  std::vector<int> directions;
  QList<QPointF> interest;
  Span interest_span;
  for (size_t i = first; i < end; ++i) {
    const double x = data_->x(i);
    const double v = static_cast<double>(data_->tick_volume(i));
    if (v > 0) {
      bars.push_back(QPointF(x, v));
      directions.push_back(data_->direction(i));
    }
    const double oi = data_->tick(i).open_interest;
    if (HasValue(oi)) interest.push_back(QPointF(x, oi));
    interest_span.Take(oi);
  }
  // Bars as vertical strokes, one per slice in the colour of its tallest tick; wider strokes
  // where few ticks leave room between them.
  const QList<qsizetype> kept = TallestBars(bars, kDrawBuckets);
  std::vector<double> heights;
  for (qsizetype i : kept) heights.push_back(bars[i].y());
  // The scale follows the ordinary bars; the rare giant (an opening auction) is cut at the pane's top.
  double top = 1;
  if (!heights.empty()) {
    auto at = heights.begin() + static_cast<std::ptrdiff_t>(heights.size() * 995 / 1000);
    std::nth_element(heights.begin(), at, heights.end());
    top = std::max(1.0, *at * 1.3);
  }
  QList<QPointF> strokes[3];  // falls, flats, rises
  for (qsizetype i : kept) {
    const double x = bars[i].x();
    strokes[directions[static_cast<size_t>(i)] + 1] << QPointF(x, 0) << QPointF(x, std::min(bars[i].y(), top))
                                                    << QPointF(x, 0);
  }
  const double plot_width = std::max(100.0, chart_->plotArea().width());
  const double width = std::clamp(plot_width / std::max<double>(1, static_cast<double>(kept.size())) * 0.6, 1.0, 6.0);
  QLineSeries* targets[3] = {down_volume_, flat_volume_, up_volume_};
  const QColor colors[3] = {kDown, kFlat, kUp};
  for (int d = 0; d < 3; ++d) {
    targets[d]->replace(strokes[d]);
    QPen pen = LinePen(colors[d], width);
    pen.setCapStyle(Qt::FlatCap);
    targets[d]->setPen(pen);
  }
  const ValueBand volume_band{0, top, 0, kVolumeTop};
  SetRange(volume_axis_, volume_band);
  AddLowerPaneLabels(&left_pending_, volume_band.RoundLabels(2, 0));
  interest_series_->replace(DecimateLine(interest, kDrawBuckets));
  if (interest_span.valid()) {
    const ValueBand interest_band =
        ValueBand::Padded(interest_span.low, interest_span.high, 0.08, 0.02, kVolumeTop - 0.02);
    SetRange(interest_axis_, interest_band);
    AddLowerPaneLabels(&right_pending_, interest_band.RoundLabels(2, 0));
  }
  SetLabels(left_labels_, std::move(left_pending_));
  SetLabels(right_labels_, std::move(right_pending_));
  left_pending_.clear();
  right_pending_.clear();
}

void ChartPanel::UpdateBreaks() {
  const std::vector<double> breaks = data_->axis().Breaks();
  while (breaks_.size() > breaks.size()) {
    chart_->removeSeries(breaks_.back());
    delete breaks_.back();
    breaks_.pop_back();
  }
  while (breaks_.size() < breaks.size()) breaks_.push_back(addSeries(left_labels_, kBreak, 1, Qt::DashLine));
  for (size_t i = 0; i < breaks.size(); ++i) breaks_[i]->replace({QPointF(breaks[i], 0), QPointF(breaks[i], 1)});
}

void ChartPanel::HoverAt(double x) {
  if (data_ == nullptr || data_->empty()) return;
  hover_x_ = x;
  const int index = data_->NearestTick(x);
  ShowTickInfo(index, true);
  PlaceCursor(index);
}

void ChartPanel::EndHover() {
  hover_x_ = NAN;
  cursor_->hide();
  cursor_dot_->hide();
  if (data_ != nullptr && !data_->empty()) ShowTickInfo(static_cast<int>(data_->size()) - 1, false);
}

void ChartPanel::PlaceCursor(int index) {
  const double x = data_->x(static_cast<size_t>(index));
  const QRectF plot = chart_->plotArea();
  const double px = chart_->mapToPosition(QPointF(x, 0), last_series_).x();
  cursor_->setLine(px, plot.top(), px, plot.bottom());
  cursor_->show();
  const double last = data_->tick(static_cast<size_t>(index)).last;
  if (HasValue(last)) {
    cursor_dot_->setPos(chart_->mapToPosition(QPointF(x, last), last_series_));
    cursor_dot_->show();
  } else {
    cursor_dot_->hide();
  }
}

void ChartPanel::ShowTickInfo(int index, bool hovering) {
  info_->setText(TickInfoText(*data_, static_cast<size_t>(index), hovering));
}
