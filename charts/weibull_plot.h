#pragma once

#include <QPainter>
#include <QRectF>

#include "report/units.h"

namespace varnholt {

// A lot's Weibull probability plot: cycles on a log axis, unreliability on
// the Weibull scale with percent labels, failures at their median ranks
// (Bernard's approximation on Johnson's adjusted ranks, so suspensions count),
// suspensions marked along the bottom, the fitted line and its 90 % bounds;
// without a fit, the Weibayes line at its assumed shape.
// Text is drawn in the painter's font or larger, as the area allows.
// Compact: without the legend box and the caption, for a small plot beside
// the same figures in words.
enum class WeibullPlotStyle { Full, Compact };
void DrawWeibullPlot(QPainter& painter, const QRectF& area, const LotFigures& lot,
                     WeibullPlotStyle style = WeibullPlotStyle::Full);

// The cycles axis from the 1-2-5 step at or below the smallest cycles shown
// to the one at or above the largest, as log10 of each: 5,000 to 7,000
// spans 5,000 to 10,000, not 1,000 to 10,000.
void CyclesAxis(double lowT, double highT, double& logLow, double& logHigh);

// The straight line of a Weibull life (shape beta, scale eta) on the plot's
// axes, cut to the frame: from and to (log10 of cycles, ln(-ln(1 - F))),
// the frame spanning logLow..logHigh and yLow..yHigh. False when the line
// misses the frame. Drawn from these ends, the line passes through B1, B10
// and B50 exactly: no end is pulled onto the frame's edge.
struct LifeLine {
    double fromLog = 0, fromY = 0, toLog = 0, toY = 0;
};
bool LifeLineInFrame(double beta, double eta, double logLow, double logHigh, double yLow,
                     double yHigh, LifeLine& line);

// A count of cycles as people read it, with thousands separators: "15,585";
// "not finite" for a bound the likelihood does not close, never a wrapped
// integer; past 10^15, in powers of ten.
QString CountText(double value);

}  // namespace varnholt
