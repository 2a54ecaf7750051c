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

double NiceStep(double span, int ticks) {
  const double raw = span / ticks;
  if (!(raw > 0) || !std::isfinite(raw)) return 1;
  const double magnitude = std::pow(10.0, std::floor(std::log10(raw)));
  const double norm = raw / magnitude;
  return (norm < 1.5 ? 1 : norm < 3 ? 2 : norm < 7 ? 5 : 10) * magnitude;
}

// Places a value range on a band [bottom, top] of the plot height: sets the hidden axis so that
// `low` lands on bottom and `high` on top, and returns where a value lands.
struct Band {
  double low;
  double high;
  double bottom;
  double top;
  void Apply(QValueAxis* axis) const {
    const double per_unit = (top - bottom) / (high - low);
    axis->setRange(low - bottom / per_unit, high + (1 - top) / per_unit);
  }
  double At(double v) const { return bottom + (v - low) / (high - low) * (top - bottom); }
};

Band Padded(double low, double high, double pad, double bottom, double top, double floor_at = -INFINITY) {
  double span = high - low;
  if (span <= 0) span = std::max(1.0, std::abs(high) * 0.002);
  return {std::max(floor_at, low - span * pad), high + span * pad, bottom, top};
}

// Adds labels at round values of a band; `mark` keeps labels of different panes apart as keys.
void AddLabels(std::vector<std::pair<double, QString>>* labels, const Band& band, int ticks, int decimals,
               const QString& suffix, double (*to_label)(double, double), double reference, const QString& mark) {
  const double low = to_label(band.low, reference);
  const double high = to_label(band.high, reference);
  // Never finer than the last decimal shown, so that no two labels read the same.
  const double step = std::max(NiceStep(high - low, ticks), std::pow(10.0, -decimals));
  for (double v = std::ceil(low / step) * step; v <= high + step * 1e-9; v += step) {
    const double value = std::abs(v) < step * 1e-9 ? 0 : v;
    const double price = reference > 0 && suffix == QLatin1String("%") ? reference * (1 + value / 100) : value;
    labels->push_back({band.At(price), QString::number(value, 'f', decimals) + suffix + mark});
  }
}

double Same(double v, double) { return v; }
double Percent(double v, double reference) { return (v / reference - 1) * 100; }

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

QString Number(double v, int decimals) {
  return HasValue(v) ? QString::number(v, 'f', decimals) : QStringLiteral("—");
}

QString Colored(const QString& text, const QColor& color, bool bold = false) {
  const QString body = bold ? QStringLiteral("<b>%1</b>").arg(text) : text;
  return QStringLiteral("<span style=\"color:%1\">%2</span>").arg(color.name(), body);
}

int DecimalsOf(const ChartData& data) {
  int decimals = 0;
  const size_t step = std::max<size_t>(1, data.size() / 5000);
  for (size_t i = 0; i < data.size() && decimals < 2; i += step) {
    const double v = data.tick(i).last;
    if (!HasValue(v)) continue;
    if (std::abs(v * 10 - std::round(v * 10)) > 1e-6) {
      decimals = 2;
    } else if (std::abs(v - std::round(v)) > 1e-6) {
      decimals = 1;
    }
  }
  return decimals;
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

  layout->addWidget(info_);
  layout->addWidget(view_, 1);
  stack_->addWidget(page);
}

void ChartPanel::ShowMessage(const QString& headline, const QString& detail) {
  data_ = nullptr;
  headline_->setText(headline);
  detail_->setText(detail);
  stack_->setCurrentIndex(0);
}

bool ChartPanel::showing_chart() const { return stack_->currentIndex() == 1; }
QString ChartPanel::headline() const { return showing_chart() ? chart_->title() : headline_->text(); }
QString ChartPanel::info_text() const { return info_->text(); }

void ChartPanel::ShowData(const ChartData* data, const QString& contract, const QString& trading_day) {
  data_ = data;
  price_decimals_ = DecimalsOf(*data);
  chart_->setTitle(QStringLiteral("%1   ·   trading day %2").arg(contract, trading_day));
  UpdateTimeAxis();
  UpdatePricePane();
  UpdateVolumePane();
  UpdateBreaks();
  stack_->setCurrentIndex(1);
  // A live update keeps the crosshair where the mouse is.
  if (HasValue(hover_x_)) {
    HoverAt(hover_x_);
  } else {
    EndHover();
  }
}

void ChartPanel::UpdateTimeAxis() {
  const SessionAxis& axis = data_->axis();
  for (const QString& label : time_axis_->categoriesLabels()) time_axis_->remove(label);
  for (const SessionAxis::Label& label : axis.Labels(kMaxTimeLabels)) time_axis_->append(label.text, label.position);
  time_axis_->setRange(0, std::max(1, axis.minutes()));
  pane_divider_->replace({QPointF(0, kDivider), QPointF(std::max(1, axis.minutes()), kDivider)});
}

void ChartPanel::UpdatePricePane() {
  QList<QPointF> last;
  QList<QPointF> average;
  last.reserve(static_cast<qsizetype>(data_->size()));
  average.reserve(static_cast<qsizetype>(data_->size()));
  Span prices;
  for (size_t i = 0; i < data_->size(); ++i) {
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
  const Band band = Padded(prices.low, prices.high, 0.05, kPriceBottom, 1.0);
  band.Apply(price_axis_);
  const double right = std::max(1, data_->axis().minutes());
  reference_series_->replace(HasValue(reference) ? QList<QPointF>{{0, reference}, {right, reference}}
                                                 : QList<QPointF>{});
  std::vector<std::pair<double, QString>> left;
  AddLabels(&left, band, 6, price_decimals_, QString(), &Same, 0, QString());
  std::vector<std::pair<double, QString>> right_side;
  if (HasValue(reference)) AddLabels(&right_side, band, 6, 2, QStringLiteral("%"), &Percent, reference, QString());
  left_pending_ = std::move(left);
  right_pending_ = std::move(right_side);
}

void ChartPanel::UpdateVolumePane() {
  QList<QPointF> bars;
  std::vector<int> directions;
  QList<QPointF> interest;
  Span interest_span;
  for (size_t i = 0; i < data_->size(); ++i) {
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
  const Band volume_band{0, top, 0, kVolumeTop};
  volume_band.Apply(volume_axis_);
  // Labels of the lower pane carry a narrow space so that they never clash with a price label.
  const QString mark(QChar(0x202F));
  AddLabels(&left_pending_, volume_band, 2, 0, QString(), &Same, 0, mark);
  interest_series_->replace(DecimateLine(interest, kDrawBuckets));
  if (interest_span.valid()) {
    const Band interest_band = Padded(interest_span.low, interest_span.high, 0.08, 0.02, kVolumeTop - 0.02);
    interest_band.Apply(interest_axis_);
    AddLabels(&right_pending_, interest_band, 2, 0, QString(), &Same, 0, mark);
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
  const ChartTick& t = data_->tick(static_cast<size_t>(index));
  const double reference = data_->reference_price();
  const int d = price_decimals_;
  QString change = QStringLiteral("—");
  QColor tone = kLast;
  if (HasValue(t.last) && HasValue(reference)) {
    const double diff = t.last - reference;
    tone = diff > 0 ? kUp : (diff < 0 ? kDown : kFlat);
    change = QStringLiteral("%1%2 (%1%3%)").arg(diff >= 0 ? "+" : "", QString::number(diff, 'f', d),
                                                 QString::number(diff / reference * 100, 'f', 2));
  }
  const QString time = QStringLiteral("%1:%2:%3.%4")
                           .arg(t.time_of_day / 3600, 2, 10, QLatin1Char('0'))
                           .arg(t.time_of_day / 60 % 60, 2, 10, QLatin1Char('0'))
                           .arg(t.time_of_day % 60, 2, 10, QLatin1Char('0'))
                           .arg(t.millis, 3, 10, QLatin1Char('0'));
  const QString sep = QStringLiteral("&nbsp;&nbsp;&nbsp;");
  QString text = Colored(hovering ? time : QStringLiteral("latest ") + time, kAxisText) + sep;
  text += QStringLiteral("Last ") + Colored(Number(t.last, d), tone, true) + " " + Colored(change, tone) + sep;
  text += QStringLiteral("Avg ") + Colored(Number(data_->average(static_cast<size_t>(index)), 2), kAverage) + sep;
  text += QStringLiteral("Vol ") + Colored(QString::number(data_->tick_volume(static_cast<size_t>(index))),
                                          data_->direction(static_cast<size_t>(index)) > 0   ? kUp
                                          : data_->direction(static_cast<size_t>(index)) < 0 ? kDown
                                                                                              : kText, true);
  text += Colored(QStringLiteral(" / %1").arg(t.volume), kAxisText) + sep;
  text += QStringLiteral("OI ") + Colored(Number(t.open_interest, 0), kOpenInterest) + sep;
  text += QStringLiteral("Bid ") + Colored(Number(t.bid, d) + QStringLiteral(" ×%1").arg(t.bid_volume), kDown) + " ";
  text += QStringLiteral("Ask ") + Colored(Number(t.ask, d) + QStringLiteral(" ×%1").arg(t.ask_volume), kUp) + sep;
  text += Colored(QStringLiteral("H %1  L %2  O %3").arg(Number(t.high, d), Number(t.low, d), Number(t.open, d)),
                  kAxisText);
  info_->setText(text);
}
