#ifndef QUOTELOOM_PLOTMIRE_TICK_INFO_TEXT_H
#define QUOTELOOM_PLOTMIRE_TICK_INFO_TEXT_H

#include <QString>

#include <cstddef>

class ChartData;

// The line above the chart for one tick, as rich text: time, last price with its change against
// the reference, average, own and cumulative volume, open interest, bid, ask, high, low, open.
// Missing values show as a dash. `hovering` false marks the tick as the latest one.
QString TickInfoText(const ChartData& data, size_t index, bool hovering);

#endif
