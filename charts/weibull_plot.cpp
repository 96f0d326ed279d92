#include "charts/weibull_plot.h"

#include <QFontMetricsF>
#include <QPainterPath>
#include <algorithm>
#include <cmath>
#include <map>
#include <vector>

#include "report/words.h"

namespace varnholt {
namespace {

double WeibullY(double unreliability) { return std::log(-std::log1p(-unreliability)); }

QString Count(double value) { return CountText(value); }

}  // namespace

void CyclesAxis(double lowT, double highT, double& logLow, double& logHigh) {
    if (!(lowT > 0) || !(highT >= lowT) || !std::isfinite(highT)) {
        lowT = 1;
        highT = 10;
    }
    // The 1-2-5 steps at or below the smallest and at or above the largest.
    const auto step = [](double t, bool down) {
        const double decade = std::floor(std::log10(t));
        double best = down ? 0 : HUGE_VAL;
        for (double d = decade - 1; d <= decade + 1; ++d) {
            for (const double m : {1.0, 2.0, 5.0}) {
                const double v = m * std::pow(10.0, d);
                // A hair of slack: 5000 computed as 4999.9999 is 5000.
                if (down ? v <= t * (1 + 1e-12) && v > best : v >= t * (1 - 1e-12) && v < best) {
                    best = v;
                }
            }
        }
        return best;
    };
    double low = step(lowT, true), high = step(highT, false);
    if (!(high > low)) high = step(low * 1.5, false);
    logLow = std::log10(low);
    logHigh = std::log10(high);
}

bool LifeLineInFrame(double beta, double eta, double logLow, double logHigh, double yLow,
                     double yHigh, LifeLine& line) {
    if (!(beta > 0) || !(eta > 0) || !std::isfinite(beta) || !std::isfinite(eta)) return false;
    // y = beta (ln t - ln eta) = beta ln 10 (log10 t - log10 eta): a straight line.
    const double slope = beta * std::log(10.0), logEta = std::log10(eta);
    const auto yAt = [&](double logT) { return slope * (logT - logEta); };
    const auto logAt = [&](double y) { return logEta + y / slope; };
    double fromLog = std::max(logLow, logAt(yLow)), toLog = std::min(logHigh, logAt(yHigh));
    if (!(fromLog < toLog)) return false;
    line = {fromLog, yAt(fromLog), toLog, yAt(toLog)};
    return true;
}

QString CountText(double value) { return QString::fromStdString(CyclesText(value)); }

void DrawWeibullPlot(QPainter& p, const QRectF& area, const LotFigures& lot,
                     WeibullPlotStyle style) {
    p.save();
    p.setRenderHint(QPainter::Antialiasing, true);
    p.fillRect(area, Qt::white);
    // The painter's font is the least: the window's small font there.
    QFont font = p.font();
    font.setPointSizeF(std::max(font.pointSizeF(), std::min(area.height(), area.width()) / 70.0));
    p.setFont(font);
    const QFontMetricsF metrics(font);
    const double line = metrics.height();
    QFont bold = font;
    bold.setBold(true);
    p.setFont(bold);
    const QString lotName =
        lot.lot.empty() ? QStringLiteral("(no lot)") : QString::fromStdString(lot.lot).left(40);
    p.drawText(QRectF(area.left(), area.top(), area.width(), line * 1.4), Qt::AlignCenter,
               QStringLiteral("Weibull plot, lot %1, %2: %3 %4, %5 failed")
                   .arg(lotName, QString::fromLatin1(NamesOf(lot.kind).description),
                        Count(static_cast<double>(lot.units)),
                        QLatin1String(lot.units == 1 ? "unit" : "units"),
                        Count(static_cast<double>(lot.failures))));
    p.setFont(font);
    QRectF frame(area.left() + metrics.horizontalAdvance(QStringLiteral("99.9 %")) + line * 1.6,
                 area.top() + line * 1.8, 0, 0);
    // Room for half the last label, which stands centred on the frame's edge.
    frame.setRight(area.right() - metrics.horizontalAdvance(QStringLiteral("0,000,000")) / 2 -
                   line * 0.4);
    frame.setBottom(area.bottom() - line * (style == WeibullPlotStyle::Full ? 5.8 : 2.6));

    const std::vector<PlotPoint> ranks = MedianRanks(lot.life);
    double lowT = HUGE_VAL, highT = 0;
    const auto widen = [&](double t) {
        if (std::isfinite(t) && t > 0) {
            lowT = std::min(lowT, t);
            highT = std::max(highT, t);
        }
    };
    for (const double t : lot.life.failures) widen(t);
    for (const double t : lot.life.suspensions) widen(t);
    // The fit's ends widen the axis by two decades at most either side of the
    // data: with a beta near 0 they lie twenty decades apart.
    const double dataLow = lowT, dataHigh = highT;
    const auto widenNear = [&](double t) {
        if (dataHigh > 0) t = std::clamp(t, dataLow / 100, dataHigh * 100);
        widen(t);
    };
    if (lot.weibull) {
        widenNear(BLife(lot.weibull->beta, lot.weibull->eta, 1));
        widenNear(BLife(lot.weibull->beta, lot.weibull->eta, 99));
    } else if (lot.weibayes) {
        widen(lot.weibayes->b10Lower90);
        widen(lot.weibayes->etaLower90);
    }
    if (!(highT > 0)) {
        lowT = 1;
        highT = 10;
    }
    double x0 = 0, x1 = 1;
    CyclesAxis(lowT, highT, x0, x1);
    // The unreliability axis reaches 0.1 % or 99.9 % when a point needs it.
    double lowF = 0.01, highF = 0.99;
    for (const PlotPoint& point : ranks) {
        if (point.unreliability < lowF) lowF = 0.001;
        if (point.unreliability > highF) highF = 0.999;
    }
    const double y0 = WeibullY(lowF), y1 = WeibullY(highF);
    const auto toX = [&](double t) {
        return frame.left() + (std::log10(t) - x0) / (x1 - x0) * frame.width();
    };
    const auto toY = [&](double w) {
        return frame.bottom() -
               (std::clamp(w, y0 - 0.5, y1 + 0.5) - y0) / (y1 - y0) * frame.height();
    };
    // A life's line, cut to the frame in the data's own terms.
    const auto drawLife = [&](double beta, double eta) {
        LifeLine l;
        if (!LifeLineInFrame(beta, eta, x0, x1, y0, y1, l)) return;
        const auto at = [&](double logT, double y) {
            return QPointF(frame.left() + (logT - x0) / (x1 - x0) * frame.width(),
                           frame.bottom() - (y - y0) / (y1 - y0) * frame.height());
        };
        p.drawLine(at(l.fromLog, l.fromY), at(l.toLog, l.toY));
    };

    // Grid: percent lines on the Weibull scale, decades and their 2 and 5.
    for (const double percent : {0.1, 0.2, 0.5, 1.0, 2.0, 5.0, 10.0, 20.0, 30.0, 50.0, 63.2, 80.0,
                                 90.0, 99.0, 99.5, 99.9}) {
        if (percent / 100 < lowF - 1e-12 || percent / 100 > highF + 1e-12) continue;
        const double y = toY(WeibullY(percent / 100));
        p.setPen(QPen(percent == 63.2 ? QColor(200, 200, 240) : QColor(225, 225, 225), 0));
        p.drawLine(QPointF(frame.left(), y), QPointF(frame.right(), y));
        p.setPen(Qt::black);
        p.drawText(QRectF(area.left(), y - line / 2, frame.left() - area.left() - 4, line),
                   Qt::AlignRight | Qt::AlignVCenter,
                   QString::number(percent) + QStringLiteral(" %"));
    }
    // A label only where it clears the one before; the decades come first.
    std::vector<std::pair<double, double>> taken;  // label extents
    // Within a decade or so every step is labelled where it fits; wider, the
    // 1-2-5 steps.
    const std::vector<double> steps = x1 - x0 < 1.1 ? std::vector<double>{1, 5, 2, 3, 4, 6, 7, 8, 9}
                                                    : std::vector<double>{1, 5, 2};
    for (const double m : steps) {
        for (double decade = std::floor(x0); decade <= std::ceil(x1); ++decade) {
            const double t = m * std::pow(10.0, decade);
            if (std::log10(t) < x0 - 1e-9 || std::log10(t) > x1 + 1e-9) continue;
            const double x = toX(t);
            p.setPen(QPen(QColor(225, 225, 225), 0));
            p.drawLine(QPointF(x, frame.top()), QPointF(x, frame.bottom()));
            p.setPen(Qt::black);
            p.drawLine(QPointF(x, frame.bottom()), QPointF(x, frame.bottom() + 3));
            const QString text = Count(t);
            const double half = metrics.horizontalAdvance(text) / 2 + line * 0.4;
            // A label that would stand off its tick to stay inside the
            // picture is left out.
            const double left = x - half;
            if (left + 2 * half > area.right() + line * 0.4) continue;
            const bool clear = std::none_of(taken.begin(), taken.end(), [&](const auto& e) {
                return left + 2 * half > e.first && left < e.second;
            });
            if (!clear) continue;
            taken.emplace_back(left, left + 2 * half);
            p.drawText(QRectF(left, frame.bottom() + 3, 2 * half, line), Qt::AlignHCenter, text);
        }
    }
    p.setPen(Qt::black);
    p.drawRect(frame);
    p.drawText(QRectF(frame.left(), frame.bottom() + line * 1.2, frame.width(), line),
               Qt::AlignHCenter, QStringLiteral("Cycles (log scale)"));
    p.save();
    p.translate(area.left() + line * 0.1, frame.center().y());
    p.rotate(-90);
    p.drawText(QRectF(-frame.height() / 2, 0, frame.height(), line), Qt::AlignHCenter,
               QStringLiteral("Unreliability (failed)"));
    p.restore();

    p.setClipRect(frame.adjusted(-6, -6, 6, 6));
    const QColor fitColour(30, 90, 200), boundColour(120, 150, 220), failColour(200, 30, 30);
    if (lot.weibull) {
        const WeibullFit& w = *lot.weibull;
        p.setPen(QPen(fitColour, 1.6));
        drawLife(w.beta, w.eta);
        for (const bool upper : {false, true}) {
            QPainterPath bound;
            bool started = false;
            for (size_t i = 0; i < lot.band90.size() && i < std::size(kBandPercents); ++i) {
                const double t = upper ? lot.band90[i].high : lot.band90[i].low;
                if (!std::isfinite(t) || t <= 0) continue;
                const QPointF point(toX(t), toY(WeibullY(kBandPercents[i] / 100)));
                started ? bound.lineTo(point) : bound.moveTo(point);
                started = true;
            }
            p.setPen(QPen(boundColour, 1.0, Qt::DashLine));
            p.setBrush(Qt::NoBrush);
            p.drawPath(bound);
        }
    } else if (lot.weibayes && lot.weibayes->etaLower90 > 0) {
        const Weibayes& w = *lot.weibayes;
        p.setPen(QPen(fitColour, 1.4, Qt::DashDotLine));
        drawLife(w.betaAssumed, w.etaLower90);
    }
    p.setPen(QPen(failColour, 1.5));
    p.setBrush(failColour);
    for (const PlotPoint& point : ranks) {
        p.drawEllipse(QPointF(toX(point.cycles), toY(WeibullY(point.unreliability))), 3.0, 3.0);
    }
    // Suspensions: a triangle each along the bottom, at the cycles survived.
    p.setPen(QPen(QColor(60, 60, 60), 1.0));
    p.setBrush(Qt::NoBrush);
    // Suspensions at one count are drawn once, with their number.
    std::map<double, int> suspended;
    for (const double t : lot.life.suspensions) ++suspended[t];
    for (const auto& [t, count] : suspended) {
        const double x = toX(t), y = frame.bottom() - 2;
        const QPointF triangle[] = {{x, y - 10}, {x - 5, y}, {x + 5, y}};
        p.drawPolygon(triangle, 3);
        if (count > 1) {
            p.drawText(QRectF(x - 40, y - 10 - line, 80, line), Qt::AlignHCenter | Qt::AlignBottom,
                       QStringLiteral("×%1").arg(count));
        }
    }
    p.setClipping(false);

    // B10 marked: across at 10 % to the fit, down to the axis; its one-sided
    // lower bound as a tick on the axis.
    if (lot.weibull && std::isfinite(lot.weibull->b10) && lot.weibull->b10 > 0) {
        const WeibullFit& w = *lot.weibull;
        const double y10 = toY(WeibullY(0.10)), x10 = toX(w.b10);
        if (x10 >= frame.left() && x10 <= frame.right()) {
            p.setClipRect(frame);
            p.setPen(QPen(QColor(0, 130, 80), 1.0, Qt::DotLine));
            p.drawLine(QPointF(frame.left(), y10), QPointF(x10, y10));
            p.drawLine(QPointF(x10, y10), QPointF(x10, frame.bottom()));
            const double xLow = toX(w.b10Lower90);
            if (w.b10Lower90 > 0 && xLow >= frame.left()) {
                p.setPen(QPen(QColor(0, 130, 80), 2.0));
                p.drawLine(QPointF(xLow, y10 - 6), QPointF(xLow, y10 + 6));
            }
            p.setClipping(false);
        }
    }

    if (style == WeibullPlotStyle::Compact) {
        p.restore();
        return;
    }
    // The legend, as a dedicated Weibull tool shows it, in the frame's top
    // left corner, where a rising line leaves room.
    const auto plural = [](int64_t n, const char* one, const char* many) {
        return Count(static_cast<double>(n)) + QLatin1Char(' ') +
               QLatin1String(n == 1 ? one : many);
    };
    QStringList lines;
    lines << QStringLiteral("Lot %1, %2")
                 .arg(lotName, QString::fromLatin1(NamesOf(lot.kind).description));
    lines << QStringLiteral("n = %1: r = %2, s = %3")
                 .arg(plural(lot.units, "unit", "units"),
                      plural(lot.failures, "failure", "failures"),
                      plural(lot.suspensions, "suspension", "suspensions"));
    QString note;
    if (lot.weibull) {
        const WeibullFit& w = *lot.weibull;
        lines << QStringLiteral("\u03b2 %1 (90 %: %2 to %3)")
                     .arg(w.beta, 0, 'f', 2)
                     .arg(w.betaLow90, 0, 'f', 2)
                     .arg(std::isfinite(w.betaHigh90) ? QString::number(w.betaHigh90, 'f', 2)
                                                      : QStringLiteral("not finite"));
        lines << QStringLiteral("\u03b7 %1 cycles (90 %: %2 to %3)")
                     .arg(Count(w.eta), Count(w.etaLow90), Count(w.etaHigh90));
        lines << QStringLiteral("B10 %1 cycles, at least %2 (90 %, one-sided)")
                     .arg(Count(w.b10), Count(w.b10Lower90));
        lines << QStringLiteral("Maximum likelihood, likelihood-ratio bounds");
        lines << QStringLiteral("Band: 90 % two-sided, pointwise");
        if (!std::isfinite(w.etaHigh90) || !std::isfinite(w.betaHigh90)) {
            note =
                std::isfinite(w.betaHigh90)
                    ? QStringLiteral("The upper bound of \u03b7 is not finite: too few failures. ")
                : std::isfinite(w.etaHigh90)
                    ? QStringLiteral("The upper bound of \u03b2 is not finite: too few failures. ")
                    : QStringLiteral(
                          "The upper bounds of \u03b2 and \u03b7 are not finite: too few "
                          "failures. ");
        }
    } else {
        note = QString::fromStdString(lot.weibullNote) + QStringLiteral(". ");
        if (lot.weibayes) {
            lines << QStringLiteral("Weibayes, \u03b2 %1 assumed (dash-dot)")
                         .arg(lot.weibayes->betaAssumed, 0, 'f', 2);
            lines << QStringLiteral("\u03b7 at least %1 cycles (90 %)")
                         .arg(Count(lot.weibayes->etaLower90));
            lines << QStringLiteral("B10 at least %1 cycles (90 %)")
                         .arg(Count(lot.weibayes->b10Lower90));
        }
    }
    double width = 0;
    for (const QString& l : lines) width = std::max(width, metrics.horizontalAdvance(l));
    const QRectF box(frame.left() + 6, frame.top() + 6, width + line,
                     line * (static_cast<double>(lines.size()) + 0.5));
    p.setPen(QPen(QColor(150, 150, 150), 0.8));
    p.setBrush(QColor(255, 255, 255, 235));
    p.drawRect(box);
    p.setPen(Qt::black);
    for (int i = 0; i < lines.size(); ++i) {
        p.drawText(QRectF(box.left() + line / 2, box.top() + line * (0.25 + static_cast<double>(i)),
                          width, line),
                   Qt::AlignLeft | Qt::AlignVCenter, lines[i]);
    }
    const QString legend =
        note + QStringLiteral(
                   "Blue: the fit; dashed: its band; red: failures at median ranks; "
                   "triangles: suspensions; green: B10 and its lower bound.");
    p.setPen(Qt::black);
    p.setBrush(Qt::NoBrush);
    p.drawText(QRectF(frame.left(), frame.bottom() + line * 2.4, frame.width(), line * 3.4),
               Qt::TextWordWrap | Qt::AlignHCenter, legend);
    p.restore();
}

}  // namespace varnholt
