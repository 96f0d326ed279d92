#include "report_program/pdf_report.h"

#include <QDateTime>
#include <QFontMetricsF>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <algorithm>
#include <cstdio>
#include <map>
#include <vector>

#include "charts/run_charts.h"
#include "charts/weibull_plot.h"
#include "reliability/weibull.h"
#include "runlog/log_file.h"
#include "runlog/log_format.h"
#include "runlog/utf8_text.h"

namespace varnholt {
namespace {

QString Q(const std::string& text) { return QString::fromStdString(ValidUtf8(text)); }
QString Q(int64_t count) { return QString::fromStdString(Thousands(count)); }

struct Column {
    QString name;
    double share;  // of the page's width
    bool right;    // figures stand right-aligned
};

// Pages filled from the top: whatever does not fit goes on to the next page,
// so nothing is ever drawn past the bottom.
class Document {
public:
    Document(QPdfWriter& pdf, QPainter& p)
        : pdf_(pdf), p_(p), page_(0, 0, pdf.width(), pdf.height()), room_(page_) {
        heading_ = QFont(QStringLiteral("DejaVu Sans"), 14, QFont::Bold);
        subheading_ = QFont(QStringLiteral("DejaVu Sans"), 11, QFont::Bold);
        body_ = QFont(QStringLiteral("DejaVu Sans"), 9);
        small_ = QFont(QStringLiteral("DejaVu Sans"), 7);
        least_ = QFont(QStringLiteral("DejaVu Sans"), 6);
    }

    void NewPage() {
        pdf_.newPage();
        room_ = page_;
    }
    double LineOf(const QFont& font) const {
        // Measured on the page's own resolution: the screen's would elide
        // nothing and let a wide heading run into its neighbour.
        return QFontMetricsF(font, p_.device()).height();
    }
    // Room for height below the current line, or a new page.
    void Need(double height) {
        if (room_.top() + height > page_.bottom() && room_.top() > page_.top()) NewPage();
    }
    void Skip(double height) { room_.setTop(room_.top() + height); }

    // A heading kept with the lines after it.
    void Heading(const QString& text, const QFont& font, double keepWith = 4) {
        Need(LineOf(font) * 1.4 + LineOf(body_) * keepWith);
        Paragraph(text, font, room_.width());
        Skip(LineOf(font) * 0.3);
    }
    // Lines of text, wrapped at width; each wrapped line goes to the next
    // page when it does not fit on this one.
    void Paragraph(const QString& text, const QFont& font, double width) {
        p_.setFont(font);
        // "90 %" never broken between its number and its sign.
        QString kept = text;
        kept.replace(QStringLiteral(" %"), QStringLiteral("\u00a0%"));
        for (const QString& line : kept.split(QLatin1Char('\n'))) {
            const QRectF box(room_.left(), room_.top(), width, page_.height());
            const QRectF used = p_.boundingRect(box, Qt::TextWordWrap, line);
            Need(used.height());
            p_.drawText(QRectF(room_.left(), room_.top(), width, used.height()), Qt::TextWordWrap,
                        line);
            Skip(used.height());
        }
    }
    // A ruled table, its header repeated on each page it goes on to, with
    // the title and "continued" said there.
    void Table(const QString& title, const std::vector<Column>& columns,
               const std::vector<QStringList>& rows) {
        const double line = LineOf(body_) * 1.35;
        const auto header = [&] {
            QStringList names;
            for (const Column& c : columns) names << c.name;
            Row(columns, names, true, line);
        };
        Need(line * 3);
        header();
        for (const QStringList& row : rows) {
            if (room_.top() + line > page_.bottom()) {
                NewPage();
                Paragraph(title + QStringLiteral(" (continued)"), subheading_, room_.width());
                Skip(LineOf(subheading_) * 0.3);
                header();
            }
            Row(columns, row, false, line);
        }
        Skip(line * 0.3);
    }

    QRectF& room() { return room_; }
    QPainter& painter() { return p_; }
    const QRectF& page() const { return page_; }
    QFont heading_, subheading_, body_, small_;
    QFont least_;  // the smallest text in a chart

private:
    void Row(const std::vector<Column>& columns, const QStringList& cells, bool bold, double line) {
        QFont f = body_;
        f.setBold(bold);
        p_.setFont(f);
        const QFontMetricsF metrics(f, p_.device());
        double x = room_.left();
        for (int i = 0; i < cells.size() && i < static_cast<int>(columns.size()); ++i) {
            const Column& c = columns[static_cast<size_t>(i)];
            const double w = room_.width() * c.share;
            // Text after a column of figures keeps its distance from them.
            const double pad = i > 0 && !c.right && columns[static_cast<size_t>(i) - 1].right
                                   ? metrics.horizontalAdvance(QStringLiteral("  "))
                                   : 0;
            p_.drawText(QRectF(x + pad, room_.top(), w - 4 - pad, line),
                        (c.right ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter,
                        metrics.elidedText(cells[i], Qt::ElideRight, w - 4 - pad));
            x += w;
        }
        Skip(line);
        p_.setPen(QPen(QColor(200, 200, 200), 0));
        p_.drawLine(QPointF(room_.left(), room_.top()), QPointF(room_.right(), room_.top()));
        p_.setPen(Qt::black);
    }

    QPdfWriter& pdf_;
    QPainter& p_;
    QRectF page_, room_;
};

QString LotTitle(const LotFigures& lot) {
    return QStringLiteral("Lot %1, %2")
        .arg(lot.lot.empty() ? QStringLiteral("(none)") : Q(lot.lot).left(60),
             QString::fromLatin1(NamesOf(lot.kind).description));
}

QString UnitCell(const RunFigures& r) { return r.unit.empty() ? QStringLiteral("-") : Q(r.unit); }

int64_t LastSeen(const RunFigures& r) { return r.lastRow ? *r.lastRow : r.started; }

int64_t LocalNow() { return LocalSecondsOf(LocalTimeNow()); }

QString EndedWord(const RunFigures& r) {
    return Q(EndedText(r, QDateTime::currentSecsSinceEpoch()));
}

QString TotalText(TestLogKind kind, const TotalFigures& t) {
    return QStringLiteral("%1: %2, %3, %4, %5; MCBF %6 cycles, at least %7 (90 %).")
        .arg(QString::fromLatin1(NamesOf(kind).description))
        .arg(Q(Counted(t.runs, "run", "runs")), Q(Counted(t.cycles, "cycle", "cycles")),
             Q(Counted(t.shutterFailures, "shutter failure", "shutter failures")),
             Q(Counted(t.benchFaults, "bench fault", "bench faults")),
             t.mcbf ? Q(CyclesText(*t.mcbf)) : QStringLiteral("-"), Q(CyclesText(t.mcbfLower90)));
}

std::vector<const LotFigures*> NamedLots(const Report& report) {
    std::vector<const LotFigures*> lots;
    // Old logs without records are no lot a lab has named.
    for (const LotFigures& lot : report.unitsAndLots.lots) {
        if (lot.namedUnits > 0) lots.push_back(&lot);
    }
    return lots;
}

void Summary(Document& d, const Report& report, const PdfOptions& options) {
    QPainter& p = d.painter();
    QStringList folders;
    for (const std::string& folder : report.folders) folders << Q(folder);
    d.Paragraph(QStringLiteral("Varnholt report"), d.heading_, d.room().width());
    d.Paragraph(QStringLiteral("Folders: %1. Written %2.")
                    .arg(folders.join(QStringLiteral(", ")), Q(DateText(LocalNow()))),
                d.body_, d.room().width());
    d.Skip(d.LineOf(d.body_));
    for (const LotFigures* lot : NamedLots(report)) {
        const double plotWidth = d.room().width() * 0.46, plotHeight = plotWidth * 0.78;
        d.Need(plotHeight);
        const double top = d.room().top();
        QRectF& room = d.room();
        const double textWidth = room.width() - plotWidth - d.LineOf(d.body_);
        d.Paragraph(LotTitle(*lot), d.subheading_, textWidth);
        QString words = Q(LotSummary(*lot));
        if (options.plan) {
            const PdfPlan& plan = *options.plan;
            words += QLatin1Char('\n') +
                     Q(PlanText(PlanFor(*lot, report.unitsAndLots.units, plan.target,
                                        plan.reliability, plan.confidence, plan.beta),
                                lot->units)) +
                     QStringLiteral(
                         " (Reliability %1 % at %2 cycles, %3 % confidence, %4 %5 "
                         "assumed.)")
                         .arg(plan.reliability * 100, 0, 'g', 4)
                         .arg(Q(CyclesText(plan.target)))
                         .arg(plan.confidence * 100, 0, 'g', 4)
                         .arg(QStringLiteral("\u03b2"), Q(ShapeText(plan.beta)));
        }
        for (const QString& line : words.split(QLatin1Char('\n'))) {
            d.Paragraph(line, d.body_, textWidth);
            d.Skip(d.LineOf(d.body_) * 0.25);
        }
        p.setFont(d.least_);
        DrawWeibullPlot(p, QRectF(room.right() - plotWidth, top, plotWidth, plotHeight), *lot,
                        WeibullPlotStyle::Compact);
        room.setTop(std::max(room.top(), top + plotHeight) + d.LineOf(d.body_));
    }
    const int64_t since = SummarySince(report, options);
    for (const std::string& folder : report.folders) {
        std::vector<const RunFigures*> all, recent;
        for (const RunFigures& r : report.runs) {
            if (r.folder != folder) continue;
            all.push_back(&r);
            if (LastSeen(r) >= since) recent.push_back(&r);
        }
        const QString title = QStringLiteral("Folder %1").arg(Q(folder));
        d.Heading(title + QStringLiteral(": %1 since %2")
                              .arg(Q(Counted(static_cast<int64_t>(recent.size()), "run", "runs")),
                                   Q(DateText(since))),
                  d.subheading_);
        if (!recent.empty()) {
            std::vector<QStringList> rows;
            std::map<FailureClass, std::map<std::string, int64_t>> modes;
            int64_t shutter = 0, bench = 0;
            // The summary stays a page a manager reads: the newest runs, the
            // rest in the run table.
            constexpr size_t kListed = 12;
            for (const RunFigures* r : recent) {
                shutter += r->shutterFailures;
                bench += r->benchFaults;
                for (const FailureMode& m : r->failureModes) modes[m.kind][m.error] += m.count;
            }
            std::vector<const RunFigures*> newest = recent;
            std::stable_sort(newest.begin(), newest.end(),
                             [](const RunFigures* a, const RunFigures* b) {
                                 return LastSeen(*a) > LastSeen(*b);
                             });
            if (newest.size() > kListed) newest.resize(kListed);
            for (const RunFigures* r : newest) {
                rows.push_back({Q(r->file), UnitCell(*r), Q(DateText(r->started)),
                                r->lastRow ? Q(DateText(*r->lastRow)) : QStringLiteral("-"),
                                Q(r->cycles), Q(r->shutterFailures), Q(r->benchFaults),
                                EndedWord(*r)});
            }
            d.Table(title,
                    {{QStringLiteral("Log"), 0.17, false},
                     {QStringLiteral("Unit"), 0.11, false},
                     {QStringLiteral("Started"), 0.17, false},
                     {QStringLiteral("Last row"), 0.17, false},
                     {QStringLiteral("Cycles"), 0.10, true},
                     {QStringLiteral("Shutter"), 0.08, true},
                     {QStringLiteral("Bench"), 0.07, true},
                     {QStringLiteral("Ended"), 0.13, false}},
                    rows);
            if (recent.size() > newest.size()) {
                d.Paragraph(QStringLiteral("The %1 newest are listed; all %2 are in the run table.")
                                .arg(Q(static_cast<int64_t>(newest.size())),
                                     Q(static_cast<int64_t>(recent.size()))),
                            d.body_, d.room().width());
            }
            QString failures = QStringLiteral("Failures in these runs: %1, %2.")
                                   .arg(Q(Counted(shutter, "shutter failure", "shutter failures")),
                                        Q(Counted(bench, "bench fault", "bench faults")));
            for (const auto& [kind, errors] : modes) {
                std::vector<std::pair<int64_t, std::string>> ranked;
                for (const auto& [error, count] : errors) ranked.emplace_back(count, error);
                std::sort(ranked.rbegin(), ranked.rend());
                for (size_t i = 0; i < ranked.size() && i < 5; ++i) {
                    failures += QStringLiteral("\n%1, %2 \u00d7 %3")
                                    .arg(QString::fromLatin1(FailureClassName(kind)))
                                    .arg(Q(ranked[i].first))
                                    .arg(Q(ranked[i].second).left(80));
                }
                if (ranked.size() > 5) {
                    failures += QStringLiteral("\n%1, and %2")
                                    .arg(QString::fromLatin1(FailureClassName(kind)),
                                         Q(Counted(static_cast<int64_t>(ranked.size() - 5),
                                                   "other error", "other errors")));
                }
            }
            d.Paragraph(failures, d.body_, d.room().width());
            d.Skip(d.LineOf(d.body_) * 0.5);
        }
        QString totals = QStringLiteral("All its runs, each test kind apart:");
        for (const auto& [kind, total] : TotalsByKind(all)) {
            totals += QLatin1Char('\n') + TotalText(kind, total);
        }
        d.Paragraph(totals, d.body_, d.room().width());
        d.Skip(d.LineOf(d.body_));
    }
    if (!report.problems.empty()) {
        QString problems = QStringLiteral("Problems (%1):")
                               .arg(Q(Counted(static_cast<int64_t>(report.problems.size()),
                                              "problem", "problems")));
        size_t shown = 0;
        for (const ReportProblem& problem : report.problems) {
            if (++shown > 40) {
                problems += QStringLiteral("\n... and %1 more; see varnholt-report")
                                .arg(report.problems.size() - 40);
                break;
            }
            problems += QStringLiteral("\n") + Q(problem.problem);
        }
        d.Paragraph(problems, d.small_, d.room().width());
    }
}

void LotPages(Document& d, const Report& report) {
    for (const LotFigures* lot : NamedLots(report)) {
        d.NewPage();
        const QString title = LotTitle(*lot);
        d.Heading(title, d.heading_);
        d.Paragraph(Q(LotSummary(*lot)), d.body_, d.room().width());
        d.Skip(d.LineOf(d.body_));
        QRectF& room = d.room();
        const double height = std::min(d.page().height() * 0.5, room.width() * 0.75);
        d.painter().setFont(d.least_);
        DrawWeibullPlot(d.painter(), QRectF(room.left(), room.top(), room.width(), height), *lot);
        d.Skip(height + d.LineOf(d.body_));
        std::vector<QStringList> rows;
        for (const UnitFigures& u : report.unitsAndLots.units) {
            if (u.lot != lot->lot || u.kind != lot->kind) continue;
            const UnitRun& last = u.runs.back();
            rows.push_back({Q(u.unit).left(60), Q(static_cast<int64_t>(u.runs.size())), Q(u.cycles),
                            Q(UnitStateText(u)), Q(u.benchFaults),
                            Q(last.folder + "/" + last.file)});
        }
        d.Table(title + QStringLiteral(", units"),
                {{QStringLiteral("Unit"), 0.18, false},
                 {QStringLiteral("Runs"), 0.07, true},
                 {QStringLiteral("Cycles"), 0.12, true},
                 {QStringLiteral("State"), 0.22, false},
                 {QStringLiteral("Bench faults"), 0.12, true},
                 {QStringLiteral("Newest run"), 0.29, false}},
                rows);
    }
}

void RunTable(Document& d, const Report& report) {
    d.NewPage();
    d.Heading(QStringLiteral("Runs"), d.heading_);
    for (const std::string& folder : report.folders) {
        std::vector<const RunFigures*> runs;
        std::vector<QStringList> rows;
        for (const RunFigures& r : report.runs) {
            if (r.folder != folder) continue;
            runs.push_back(&r);
            rows.push_back({Q(r.file), UnitCell(r), Q(DateText(r.started)), Q(r.cycles),
                            Q(r.shutterFailures), Q(r.benchFaults),
                            r.mcbf ? CountText(*r.mcbf) : QStringLiteral("-"),
                            CountText(r.mcbfLower90), EndedWord(r)});
        }
        const QString title = QStringLiteral("Folder ") + Q(folder);
        d.Heading(title, d.subheading_);
        d.Table(title,
                {{QStringLiteral("Log"), 0.16, false},
                 {QStringLiteral("Unit"), 0.10, false},
                 {QStringLiteral("Started"), 0.16, false},
                 {QStringLiteral("Cycles"), 0.10, true},
                 {QStringLiteral("Shutter"), 0.08, true},
                 {QStringLiteral("Bench"), 0.07, true},
                 {QStringLiteral("MCBF"), 0.09, true},
                 {QStringLiteral("MCBF \u2265 (90 %)"), 0.12, true},
                 {QStringLiteral("Ended"), 0.12, false}},
                rows);
        QString totals;
        for (const auto& [kind, total] : TotalsByKind(runs)) {
            totals +=
                (totals.isEmpty() ? QString() : QStringLiteral("\n")) + TotalText(kind, total);
        }
        d.Paragraph(totals, d.body_, d.room().width());
        d.Skip(d.LineOf(d.body_));
    }
}

void RunPages(Document& d, const Report& report) {
    for (size_t i = 0; i < report.runs.size(); ++i) {
        const RunFigures& r = report.runs[i];
        d.NewPage();
        d.Heading(Q(r.folder + "/" + r.file), d.heading_);
        QString summary =
            QStringLiteral("%1, started %2: %3, %4, %5")
                .arg(QString::fromLatin1(NamesOf(r.kind).description), Q(DateText(r.started)),
                     Q(Counted(r.cycles, "cycle", "cycles")),
                     Q(Counted(r.shutterFailures, "shutter failure", "shutter failures")),
                     Q(Counted(r.benchFaults, "bench fault", "bench faults")));
        if (r.mcbf) summary += QStringLiteral("; MCBF %1 cycles").arg(CountText(*r.mcbf));
        summary += QStringLiteral(", at least %1 (90 %)").arg(CountText(r.mcbfLower90));
        if (r.laplace) summary += QStringLiteral("; Laplace %1").arg(*r.laplace, 0, 'f', 2);
        d.Paragraph(summary + QLatin1Char('.'), d.body_, d.room().width());
        d.Skip(d.LineOf(d.body_) * 0.5);
        QRectF& room = d.room();
        const double height = (d.page().height() - room.top()) / 4.2;
        d.painter().setFont(d.least_);
        for (const RunChart chart : kRunCharts) {
            DrawRunChart(d.painter(), QRectF(room.left(), room.top(), room.width(), height), chart,
                         report.series[i]);
            d.Skip(height * 1.05);
        }
        QString modes = QStringLiteral("Failure modes:");
        for (const FailureMode& m : r.failureModes) {
            modes += QStringLiteral("\n%1 \u00d7 %2 (cycles %3 to %4)")
                         .arg(Q(m.count), Q(m.error).left(100), Q(m.firstCycle), Q(m.lastCycle));
            if (modes.size() > 2000) break;
        }
        if (r.failureModes.empty()) modes += QStringLiteral(" none");
        d.Paragraph(modes, d.body_, d.room().width());
    }
}

}  // namespace

int64_t SummarySince(const Report& report, const PdfOptions& options) {
    if (options.since) return *options.since;
    int64_t newest = 0;
    bool any = false;
    for (const RunFigures& r : report.runs) {
        newest = any ? std::max(newest, LastSeen(r)) : LastSeen(r);
        any = true;
    }
    return newest - 24 * 3600;
}

bool WritePdf(const Report& report, const std::string& file, const PdfOptions& options) {
    QPdfWriter pdf(Q(file));
    pdf.setPageSize(QPageSize(QPageSize::A4));
    pdf.setResolution(150);
    pdf.setTitle(QStringLiteral("Varnholt report"));
    pdf.setCreator(QStringLiteral("varnholt-report " VARNHOLT_VERSION));
    QPainter p;
    if (!p.begin(&pdf)) {
        std::fprintf(stderr,
                     "varnholt-report: cannot write the PDF %s; check that its folder "
                     "exists and can be written.\n",
                     file.c_str());
        return false;
    }
    Document d(pdf, p);
    Summary(d, report, options);
    LotPages(d, report);
    RunTable(d, report);
    if (options.runPages) RunPages(d, report);
    if (!p.end()) {
        std::fprintf(stderr,
                     "varnholt-report: the PDF %s could not be finished; check that the disk "
                     "is not full.\n",
                     file.c_str());
        return false;
    }
    return true;
}

}  // namespace varnholt
