#pragma once

#include <QPainter>
#include <QRectF>
#include <QString>

#include "report/report.h"

namespace varnholt {

// The three charts of a run. One drawing path for the Runs window, the PDF
// and the PNGs: plain QPainter, so the program needs only Qt's LGPL modules.
enum class RunChart { CycleTime, CumulativeFailures, MoveTimes };
constexpr RunChart kRunCharts[] = {RunChart::CycleTime, RunChart::CumulativeFailures,
                                   RunChart::MoveTimes};

QString RunChartTitle(RunChart chart);
// A name for the chart's image file: "cycle-time".
QString RunChartFileTag(RunChart chart);
// Draws the chart of the run's series into area, title, axes and legend
// included; the series are cut to about 2,000 points each (bins' minimum
// and maximum). Text is drawn in the painter's font or larger, as the area
// allows.
void DrawRunChart(QPainter& painter, const QRectF& area, RunChart chart,
                  const RunAccumulator& series);

}  // namespace varnholt
