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
void DrawWeibullPlot(QPainter& painter, const QRectF& area, const LotFigures& lot);

// A count of cycles as people read it, with thousands separators: "15,585";
// "not finite" for a bound the likelihood does not close, never a wrapped
// integer; past 10^15, in powers of ten.
QString CountText(double value);

}  // namespace varnholt
