#include "charts/run_charts.h"

#include <QFontMetricsF>
#include <QPainterPath>
#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <vector>

#include "report/decimate.h"
#include "report/words.h"

namespace varnholt {
namespace {

struct Series {
    QString name;
    QColor colour;
    std::vector<ChartPoint> points;
    bool markers = false;  // points drawn as marks, not joined
    bool steps = false;    // a step line (cumulative counts)
    // Drawn light under the line: each bin's least to greatest value.
    std::vector<BinSpread> band = {};
};

// Tick spacing of 1, 2 or 5 times a power of ten, about `count` ticks.
double NiceStep(double span, int count) {
    if (span <= 0) return 1;
    const double raw = span / count;
    const double power = std::pow(10.0, std::floor(std::log10(raw)));
    for (const double m : {1.0, 2.0, 5.0, 10.0}) {
        if (m * power >= raw) return m * power;
    }
    return 10 * power;
}

QString TickText(double value) {
    if (std::fabs(value - std::round(value)) < 1e-9) {
        return QString::fromStdString(Thousands(std::llround(value)));
    }
    return QString::number(value, 'f', 1);
}

// wholeY: the values are counts, so the axis has no steps between them.
void Draw(QPainter& p, const QRectF& area, const QString& title, const QString& xLabel,
          const QString& yLabel, const std::vector<Series>& all, bool wholeY = false,
          const QString& empty = QStringLiteral("No rows yet")) {
    p.save();
    p.setRenderHint(QPainter::Antialiasing, true);
    p.fillRect(area, Qt::white);
    // The painter's font is the least: the window's small font there.
    QFont font = p.font();
    font.setPointSizeF(std::max(font.pointSizeF(), area.height() / 40.0));
    p.setFont(font);
    const QFontMetricsF metrics(font);
    const double line = metrics.height();
    p.setPen(Qt::black);
    QFont bold = font;
    bold.setBold(true);
    p.setFont(bold);
    p.drawText(QRectF(area.left(), area.top(), area.width(), line * 1.4),
               Qt::AlignHCenter | Qt::AlignVCenter, title);
    p.setFont(font);
    const bool anyPoint = std::any_of(all.begin(), all.end(), [](const Series& s) {
        return !s.points.empty() || !s.band.empty();
    });
    if (!anyPoint) {
        // Nothing to draw: a sentence, not an empty 0-to-1 chart.
        p.setPen(QColor(90, 90, 90));
        p.drawText(area.adjusted(line, line * 1.6, -line, -line),
                   Qt::AlignCenter | Qt::TextWordWrap, empty);
        p.restore();
        return;
    }
    const QRectF plot(area.left() + metrics.horizontalAdvance("000,000") + line * 1.2,
                      area.top() + line * 1.6, 0, 0);
    QRectF frame = plot;
    frame.setBottom(area.bottom() - line * 2.6);

    double minX = 0, maxX = 1, minY = 0, maxY = 1;
    bool any = false;
    const auto take = [&](double x, double y) {
        if (!any) {
            minX = maxX = x;
            maxY = y;
            any = true;
        }
        minX = std::min(minX, x);
        maxX = std::max(maxX, x);
        maxY = std::max(maxY, y);
        minY = std::min(minY, y);
    };
    for (const Series& s : all) {
        for (const ChartPoint& point : s.points) take(point.x, point.y);
        for (const BinSpread& bin : s.band) {
            take(bin.firstRow, bin.low);
            take(bin.lastRow, bin.high);
        }
    }
    if (maxX <= minX) maxX = minX + 1;
    if (maxY <= minY) maxY = minY + 1;
    const double yStep =
        wholeY ? std::max(1.0, NiceStep(maxY - minY, 5)) : NiceStep(maxY - minY, 5);
    // A round value above the largest point: a line at the maximum would
    // vanish into the frame.
    maxY = (std::floor(maxY / yStep + 1e-9) + 1) * yStep;
    // The x axis is a count of cycles: no steps between them.
    const double xStep = std::max(1.0, NiceStep(maxX - minX, 6));
    // Room right of the frame for half the last label, centred on its tick.
    frame.setRight(
        area.right() -
        std::max(line,
                 metrics.horizontalAdvance(TickText(std::floor(maxX / xStep + 1e-9) * xStep)) / 2 +
                     line * 0.3));
    const auto toX = [&](double x) {
        return frame.left() + (x - minX) / (maxX - minX) * frame.width();
    };
    const auto toY = [&](double y) {
        return frame.bottom() - (y - minY) / (maxY - minY) * frame.height();
    };

    p.setPen(QPen(QColor(225, 225, 225), 0));
    for (double y = std::ceil(minY / yStep) * yStep; y <= maxY + yStep / 2; y += yStep) {
        p.drawLine(QPointF(frame.left(), toY(y)), QPointF(frame.right(), toY(y)));
    }
    p.setPen(Qt::black);
    for (double y = std::ceil(minY / yStep) * yStep; y <= maxY + yStep / 2; y += yStep) {
        p.drawText(QRectF(area.left(), toY(y) - line / 2, frame.left() - area.left() - 4, line),
                   Qt::AlignRight | Qt::AlignVCenter, TickText(y));
    }
    for (double x = std::ceil(minX / xStep) * xStep; x <= maxX + xStep / 1000; x += xStep) {
        p.drawLine(QPointF(toX(x), frame.bottom()), QPointF(toX(x), frame.bottom() + 3));
        p.drawText(QRectF(toX(x) - 200, frame.bottom() + 3, 400, line), Qt::AlignHCenter,
                   TickText(x));
    }
    p.drawRect(frame);
    p.drawText(QRectF(frame.left(), frame.bottom() + line * 1.2, frame.width(), line),
               Qt::AlignHCenter, xLabel);
    p.save();
    p.translate(area.left() + line * 0.1, frame.center().y());
    p.rotate(-90);
    p.drawText(QRectF(-frame.height() / 2, 0, frame.height(), line), Qt::AlignHCenter, yLabel);
    p.restore();

    p.setClipRect(frame.adjusted(-4, -4, 4, 4));
    double legendX = frame.right();
    for (auto it = all.rbegin(); it != all.rend(); ++it) {
        const Series& s = *it;
        const std::vector<ChartPoint> points = MinMaxDecimate(s.points);
        if (!s.band.empty()) {
            QPolygonF band;
            for (const BinSpread& bin : s.band) {
                band << QPointF(toX(bin.firstRow), toY(bin.high))
                     << QPointF(toX(bin.lastRow), toY(bin.high));
            }
            for (auto bin = s.band.rbegin(); bin != s.band.rend(); ++bin) {
                band << QPointF(toX(bin->lastRow), toY(bin->low))
                     << QPointF(toX(bin->firstRow), toY(bin->low));
            }
            QColor light = s.colour;
            light.setAlpha(55);
            p.setPen(Qt::NoPen);
            p.setBrush(light);
            p.drawPolygon(band);
            p.setBrush(Qt::NoBrush);
        }
        p.setPen(QPen(s.colour, s.markers ? 2.0 : 1.2));
        if (s.markers) {
            p.setBrush(s.colour);
            for (const ChartPoint& point : points) {
                p.drawEllipse(QPointF(toX(point.x), toY(point.y)), 2.5, 2.5);
            }
            p.setBrush(Qt::NoBrush);
        } else if (!points.empty()) {
            QPainterPath path(QPointF(toX(points[0].x), toY(points[0].y)));
            for (size_t i = 1; i < points.size(); ++i) {
                if (s.steps) path.lineTo(toX(points[i].x), toY(points[i - 1].y));
                path.lineTo(toX(points[i].x), toY(points[i].y));
            }
            p.drawPath(path);
        }
        if (all.size() > 1) {
            const double width = metrics.horizontalAdvance(s.name) + line * 1.5;
            legendX -= width;
            p.fillRect(QRectF(legendX + 2, frame.top() + 4, line * 0.8, line * 0.8), s.colour);
            p.setPen(Qt::black);
            p.drawText(QPointF(legendX + line, frame.top() + 4 + line * 0.8), s.name);
        }
    }
    p.restore();
}

// One value a row, at x. While the chart has room, a point a row; past that
// the rows in bins, each its median as the line and its range as a light
// band: a min/max line alone would fill the chart from the fastest value to
// the slowest. Values above cap are drawn at cap.
Series MedianSeries(const QString& name, const QString& binnedName, QColor colour,
                    const std::vector<int32_t>& values, const std::function<double(size_t)>& x,
                    size_t bins, double cap) {
    Series out{name, colour, {}, false, false};
    if (values.size() <= bins) {
        for (size_t i = 0; i < values.size(); ++i) {
            out.points.push_back({x(i), std::min(static_cast<double>(values[i]), cap)});
        }
        return out;
    }
    out.name = binnedName;
    out.band = BinnedSpread(values, bins);
    for (BinSpread& bin : out.band) {
        bin.firstRow = x(static_cast<size_t>(bin.firstRow) - 1);
        bin.lastRow = x(static_cast<size_t>(bin.lastRow) - 1);
        out.points.push_back({(bin.firstRow + bin.lastRow) / 2, std::min(bin.median, cap)});
        bin.high = std::min(bin.high, cap);
        bin.low = std::min(bin.low, cap);
    }
    return out;
}

}  // namespace

QString RunChartTitle(RunChart chart) {
    switch (chart) {
        case RunChart::CycleTime:
            return QStringLiteral("Cycle time per cycle");
        case RunChart::CumulativeFailures:
            return QStringLiteral("Cumulative shutter failures");
        case RunChart::MoveTimes:
            return QStringLiteral("Move times");
    }
    return {};
}

QString RunChartFileTag(RunChart chart) {
    switch (chart) {
        case RunChart::CycleTime:
            return QStringLiteral("cycle-time");
        case RunChart::CumulativeFailures:
            return QStringLiteral("failures");
        case RunChart::MoveTimes:
            return QStringLiteral("move-times");
    }
    return {};
}

void DrawRunChart(QPainter& painter, const QRectF& area, RunChart chart,
                  const RunAccumulator& series) {
    const size_t n = series.intervals.size();
    const auto bins = static_cast<size_t>(std::max(50.0, area.width() / 2));
    if (chart == RunChart::CycleTime) {
        // The axis ends a little above the 99th percentile: one cycle of a
        // day (a clock set back, a weekend's pause) must not flatten the
        // rest. Cycles above it are drawn at the top and counted in the
        // title; failures are ticks along the top, not a wall of marks.
        double cap = 1;
        if (const auto spread = SpreadOf(series.intervals)) {
            cap = std::max(1.0, static_cast<double>(spread->p99) * 1.2);
        }
        Series above{QStringLiteral("above the axis"), QColor(240, 150, 0), {}, true, false};
        Series failures{QStringLiteral("failure"), QColor(200, 30, 30), {}, true, false};
        int64_t clipped = 0;
        for (size_t i = 0; i < n; ++i) {
            const auto x = static_cast<double>(i + 1);
            if (series.intervals[i] > cap) {
                ++clipped;
                above.points.push_back({x, cap});
            }
        }
        // A row of their own above the cut, clear of the long cycles' marks.
        for (const int64_t row : series.failedRows) {
            failures.points.push_back({static_cast<double>(row + 1), cap * 1.15});
        }
        const Series time = MedianSeries(
            QStringLiteral("seconds"), QStringLiteral("median per bin (band: range)"),
            QColor(40, 90, 170), series.intervals,
            [](size_t i) { return static_cast<double>(i + 1); }, bins, cap);
        QString title = RunChartTitle(chart);
        if (clipped > 0) {
            title += QStringLiteral(" (axis cut at %1 s: %2 longer %3 at the top)")
                         .arg(cap, 0, 'f', 0)
                         .arg(clipped)
                         .arg(clipped == 1 ? QStringLiteral("cycle") : QStringLiteral("cycles"));
        }
        if (series.TimeWentBack() > 0) {
            title += QStringLiteral("; the clock went back %1 %2")
                         .arg(series.TimeWentBack())
                         .arg(series.TimeWentBack() == 1 ? QStringLiteral("time")
                                                         : QStringLiteral("times"));
        }
        std::vector<Series> all{time};
        if (!above.points.empty()) all.push_back(above);
        all.push_back(failures);
        Draw(painter, area, title, QStringLiteral("Count"), QStringLiteral("seconds"), all);
    } else if (chart == RunChart::CumulativeFailures) {
        Series cumulative{QStringLiteral("failures"), QColor(200, 30, 30), {}, false, true};
        if (n > 0) cumulative.points.push_back({0, 0});
        double total = 0;
        for (const int64_t cycle : series.failureCycles) {
            cumulative.points.push_back({static_cast<double>(cycle), ++total});
        }
        if (n > 0) cumulative.points.push_back({static_cast<double>(n), total});
        Draw(painter, area, RunChartTitle(chart), QStringLiteral("Count"),
             QStringLiteral("failures"), {cumulative}, true);
    } else {
        const auto moveSeries = [&](int32_t MoveRow::*member, const QString& name, QColor colour) {
            std::vector<int32_t> values;
            std::vector<uint32_t> at;  // each value's move
            for (size_t i = 0; i < series.moves.size(); ++i) {
                if (series.moves[i].*member == MoveRow::kNone) continue;
                values.push_back(series.moves[i].*member);
                at.push_back(static_cast<uint32_t>(i));
            }
            return MedianSeries(
                name, name + QStringLiteral(" (median, range)"), colour, values,
                [&](size_t i) { return static_cast<double>(series.moves[at[i]].count); }, bins,
                std::numeric_limits<double>::infinity());
        };
        const Series open =
            moveSeries(&MoveRow::openMs, QStringLiteral("open"), QColor(40, 140, 60));
        const Series close =
            moveSeries(&MoveRow::closeMs, QStringLiteral("close"), QColor(150, 80, 170));
        Draw(painter, area, RunChartTitle(chart), QStringLiteral("Count"), QStringLiteral("ms"),
             {open, close}, false,
             n > 0 ? QStringLiteral("No move times: the run has no readable move-times file")
                   : QStringLiteral("No rows yet"));
    }
}

}  // namespace varnholt
