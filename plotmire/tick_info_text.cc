#include "plotmire/tick_info_text.h"

#include <QColor>

#include "plotmire/chart_data.h"
#include "plotmire/chart_style.h"

namespace {

using namespace chart_style;

QString Number(double v, int decimals) {
  return HasValue(v) ? QString::number(v, 'f', decimals) : QStringLiteral("—");
}

QString Colored(const QString& text, const QColor& color, bool bold = false) {
  const QString body = bold ? QStringLiteral("<b>%1</b>").arg(text) : text;
  return QStringLiteral("<span style=\"color:%1\">%2</span>").arg(color.name(), body);
}

QColor Tone(double change) { return change > 0 ? kUp : (change < 0 ? kDown : kFlat); }

QString TimeText(const ChartTick& t) {
  return QStringLiteral("%1:%2:%3.%4")
      .arg(t.time_of_day / 3600, 2, 10, QLatin1Char('0'))
      .arg(t.time_of_day / 60 % 60, 2, 10, QLatin1Char('0'))
      .arg(t.time_of_day % 60, 2, 10, QLatin1Char('0'))
      .arg(t.millis, 3, 10, QLatin1Char('0'));
}

QString LastText(const ChartTick& t, double reference, int d) {
  if (!HasValue(t.last) || !HasValue(reference)) return Colored(Number(t.last, d), kLast, true);
  const double diff = t.last - reference;
  const QString sign = diff >= 0 ? QStringLiteral("+") : QString();
  const QString change = QStringLiteral("%1%2 (%1%3%)").arg(sign, QString::number(diff, 'f', d),
                                                            QString::number(diff / reference * 100, 'f', 2));
  return Colored(Number(t.last, d), Tone(diff), true) + " " + Colored(change, Tone(diff));
}

}  // namespace

QString TickInfoText(const ChartData& data, size_t index, bool hovering) {
  const ChartTick& t = data.tick(index);
  const int d = data.price_decimals();
  const QString sep = QStringLiteral("&nbsp;&nbsp;&nbsp;");
  QString text = Colored((hovering ? QString() : QStringLiteral("latest ")) + TimeText(t), kAxisText) + sep;
  text += QStringLiteral("Last ") + LastText(t, data.reference_price(), d) + sep;
  text += QStringLiteral("Avg ") + Colored(Number(data.average(index), 2), kAverage) + sep;
  const QColor volume_tone = data.direction(index) == 0 ? kText : Tone(data.direction(index));
  text += QStringLiteral("Vol ") + Colored(QString::number(data.tick_volume(index)), volume_tone, true);
  text += Colored(QStringLiteral(" / %1").arg(t.volume), kAxisText) + sep;
  text += QStringLiteral("OI ") + Colored(Number(t.open_interest, 0), kOpenInterest) + sep;
  text += QStringLiteral("Bid ") + Colored(Number(t.bid, d) + QStringLiteral(" ×%1").arg(t.bid_volume), kDown) + " ";
  text += QStringLiteral("Ask ") + Colored(Number(t.ask, d) + QStringLiteral(" ×%1").arg(t.ask_volume), kUp) + sep;
  text += Colored(QStringLiteral("H %1  L %2  O %3").arg(Number(t.high, d), Number(t.low, d), Number(t.open, d)),
                  kAxisText);
  return text;
}
