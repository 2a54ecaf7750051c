#ifndef QUOTELOOM_PLOTMIRE_CHART_STYLE_H
#define QUOTELOOM_PLOTMIRE_CHART_STYLE_H

#include <QColor>

// Colours of the chart: a dark ground, rises in red and falls in green as the Chinese market reads them.
namespace chart_style {

inline const QColor kBackground{0x10, 0x14, 0x18};
inline const QColor kPlotBackground{0x15, 0x1a, 0x21};
inline const QColor kGrid{0x26, 0x2d, 0x36};
inline const QColor kBreak{0x3a, 0x44, 0x50};
inline const QColor kAxisText{0x9a, 0xa5, 0xb1};
inline const QColor kText{0xd8, 0xde, 0xe9};
inline const QColor kLast{0xe6, 0xed, 0xf3};
inline const QColor kAverage{0xf5, 0xc5, 0x42};
inline const QColor kReference{0x6b, 0x77, 0x85};
inline const QColor kUp{0xef, 0x53, 0x50};
inline const QColor kDown{0x26, 0xa6, 0x9a};
inline const QColor kFlat{0x78, 0x90, 0x9c};
inline const QColor kOpenInterest{0xb3, 0x88, 0xff};
inline const QColor kCursor{0x8a, 0x96, 0xa3};
inline const QColor kWarning{0xff, 0xb7, 0x4d};

}  // namespace chart_style

#endif
