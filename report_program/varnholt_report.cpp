// varnholt-report: every run of one or more bench folders summarised, as a
// table, as JSON, as a PDF report or as chart images. Needs no display.
#include <QDateTime>
#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "charts/run_charts.h"
#include "report/report.h"
#include "runlog/utf8_text.h"

namespace {

using namespace varnholt;

constexpr char kHelp[] =
    "Usage: varnholt-report [--json] [--pdf FILE] [--png DIR] [PATH...]\n"
    "Summarises Varnholt's test logs: cycles, failures, mean cycles between failures\n"
    "with its 90 % lower bound, cycle and move times, the Laplace trend and the\n"
    "failure modes of each run, and the total of each folder.\n"
    "  PATH        a bench folder (its cycle_log<N>.txt and powercut_log<N>.txt) or\n"
    "              one log file; the current folder when none is given\n"
    "  --json      print the figures as JSON instead of the table\n"
    "  --pdf FILE  also write a report of a few pages: the table, each run's charts\n"
    "              and failure modes\n"
    "  --png DIR   also write each run's charts as PNG images into DIR\n"
    "  --help, --version\n"
    "Exit status: 0 when something could be reported (even with problem files),\n"
    "1 when nothing could, 2 for a bad argument. See varnholt-report(1).\n";

struct Arguments {
    bool json = false;
    std::string pdf, png;
    std::vector<std::string> paths;
};

// 0: go on; otherwise the exit status.
int Parse(int argc, char* argv[], Arguments& a) {
    bool onlyPaths = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (onlyPaths || arg.empty() || arg[0] != '-' || arg == "-") {
            a.paths.push_back(arg);
        } else if (arg == "--") {
            onlyPaths = true;
        } else if (arg == "--help" || arg == "-h") {
            std::fputs(kHelp, stdout);
            return -1;
        } else if (arg == "--version") {
            std::printf("varnholt-report %s\n", VARNHOLT_VERSION);
            return -1;
        } else if (arg == "--json") {
            a.json = true;
        } else if (arg == "--pdf" || arg == "--png") {
            if (i + 1 >= argc || argv[i + 1][0] == '\0') {
                std::fprintf(stderr, "varnholt-report: %s needs a %s name after it; see "
                                     "varnholt-report --help.\n",
                             arg.c_str(), arg == "--pdf" ? "file" : "folder");
                return 2;
            }
            (arg == "--pdf" ? a.pdf : a.png) = argv[++i];
        } else {
            std::fprintf(stderr, "varnholt-report: '%s' is not an option of varnholt-report; "
                                 "see varnholt-report --help.\n", arg.c_str());
            return 2;
        }
    }
    if (a.paths.empty()) a.paths.push_back(".");
    return 0;
}

QString Q(const std::string& text) { return QString::fromStdString(ValidUtf8(text)); }

QString ImageName(const Report& report, size_t run, RunChart chart) {
    const RunFigures& r = report.runs[run];
    QString base = Q(r.file);
    base.chop(4);  // .txt
    if (report.folders.size() > 1) {
        QString folder = Q(r.folder);
        folder.replace(QLatin1Char('/'), QLatin1Char('_'));
        base = folder + QLatin1Char('-') + base;
    }
    return base + QLatin1Char('-') + RunChartFileTag(chart) + QStringLiteral(".png");
}

bool WritePngs(const Report& report, const std::string& folder) {
    QDir dir(Q(folder));
    if (!dir.exists() && !QDir().mkpath(dir.path())) {
        std::fprintf(stderr, "varnholt-report: cannot make the folder %s for the images; give "
                             "--png a folder that can be written.\n", folder.c_str());
        return false;
    }
    for (size_t i = 0; i < report.runs.size(); ++i) {
        for (const RunChart chart : kRunCharts) {
            QImage image(1200, 600, QImage::Format_RGB32);
            image.fill(Qt::white);
            QPainter painter(&image);
            DrawRunChart(painter, QRectF(0, 0, 1200, 600), chart, report.series[i]);
            painter.end();
            const QString path = dir.filePath(ImageName(report, i, chart));
            if (!image.save(path, "PNG")) {
                std::fprintf(stderr, "varnholt-report: cannot write %s; check that the folder "
                                     "can be written and the disk is not full.\n",
                             path.toLocal8Bit().constData());
                return false;
            }
        }
    }
    return true;
}

void Text(QPainter& p, QRectF& room, const QString& text, const QFont& font) {
    p.setFont(font);
    const QRectF used = p.boundingRect(room, Qt::TextWordWrap, text);
    p.drawText(room, Qt::TextWordWrap, text);
    room.setTop(used.bottom() + font.pointSizeF());
}

bool WritePdf(const Report& report, const std::string& file) {
    QPdfWriter pdf(Q(file));
    pdf.setPageSize(QPageSize(QPageSize::A4));
    pdf.setResolution(150);
    pdf.setTitle(QStringLiteral("Varnholt report"));
    pdf.setCreator(QStringLiteral("varnholt-report " VARNHOLT_VERSION));
    QPainter p;
    if (!p.begin(&pdf)) {
        std::fprintf(stderr, "varnholt-report: cannot write the PDF %s; check that its folder "
                             "exists and can be written.\n", file.c_str());
        return false;
    }
    const QRectF page(0, 0, pdf.width(), pdf.height());
    QFont heading(QStringLiteral("DejaVu Sans"), 14, QFont::Bold);
    QFont body(QStringLiteral("DejaVu Sans"), 9);
    QFont mono(QStringLiteral("DejaVu Sans Mono"), 6);
    QRectF room = page;
    QStringList folders;
    for (const std::string& folder : report.folders) folders << Q(folder);
    Text(p, room, QStringLiteral("Varnholt report"), heading);
    Text(p, room, QStringLiteral("Folders: ") + folders.join(QStringLiteral(", ")) +
                      QStringLiteral("\nWritten: ") +
                      QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm")),
         body);
    Text(p, room, Q(ReportTable(report)), mono);
    for (size_t i = 0; i < report.runs.size(); ++i) {
        const RunFigures& r = report.runs[i];
        pdf.newPage();
        room = page;
        Text(p, room, Q(r.folder + "/" + r.file), heading);
        QString summary = QStringLiteral("%1 test, started %2: %3 cycles, %4 failures")
                              .arg(QString::fromLatin1(NamesOf(r.kind).description),
                                   Q(IsoLocalText(r.started)))
                              .arg(r.cycles)
                              .arg(r.failures);
        if (r.mcbf) {
            summary += QStringLiteral(", MCBF %1 cycles").arg(*r.mcbf, 0, 'f', 1);
        }
        summary += QStringLiteral(" (90 % lower bound %1)").arg(r.mcbfLower90, 0, 'f', 1);
        if (r.laplace) summary += QStringLiteral(", Laplace %1").arg(*r.laplace, 0, 'f', 2);
        Text(p, room, summary, body);
        const double height = (page.height() - room.top()) / 4.2;
        for (const RunChart chart : kRunCharts) {
            DrawRunChart(p, QRectF(room.left(), room.top(), room.width(), height), chart,
                         report.series[i]);
            room.setTop(room.top() + height * 1.05);
        }
        QString modes = QStringLiteral("Failure modes:");
        for (const FailureMode& m : r.failureModes) {
            modes += QStringLiteral("\n%1 x %2 (cycles %3 to %4)")
                         .arg(m.count)
                         .arg(Q(m.error))
                         .arg(m.firstCycle)
                         .arg(m.lastCycle);
            if (modes.size() > 2000) break;
        }
        if (r.failureModes.empty()) modes += QStringLiteral(" none");
        Text(p, room, modes, body);
    }
    return p.end();
}

}  // namespace

int main(int argc, char* argv[]) {
    Arguments arguments;
    if (const int status = Parse(argc, argv, arguments); status != 0) return status < 0 ? 0 : status;
    const bool drawing = !arguments.pdf.empty() || !arguments.png.empty();
    const Report report = BuildReport(arguments.paths, drawing);
    const std::string out = arguments.json ? ReportJson(report) : ReportTable(report);
    std::fwrite(out.data(), 1, out.size(), stdout);
    if (drawing && !report.runs.empty()) {
        // Charts are drawn without a display (cron, a server), where Qt's
        // remark on a missing XDG_RUNTIME_DIR would only be noise in a mail.
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
        qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& text) {
            if (type == QtDebugMsg || text.startsWith(QStringLiteral("QStandardPaths:"))) return;
            std::fprintf(stderr, "varnholt-report: %s\n", text.toLocal8Bit().constData());
        });
        QGuiApplication app(argc, argv);
        if (!arguments.png.empty() && !WritePngs(report, arguments.png)) return 1;
        if (!arguments.pdf.empty() && !WritePdf(report, arguments.pdf)) return 1;
    }
    return report.runs.empty() ? 1 : 0;
}
