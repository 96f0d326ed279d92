// varnholt-report: every run of one or more bench folders summarised, as a
// table, as JSON, as a PDF report or as chart images. Needs no display.
#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <algorithm>
#include <atomic>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "charts/run_charts.h"
#include "charts/weibull_plot.h"
#include "reliability/weibull.h"
#include "report/report.h"
#include "report_program/assign_unit.h"
#include "report_program/pdf_report.h"
#include "report_program/png_file.h"
#include "report_program/terminal.h"
#include "runlog/json.h"
#include "runlog/log_format.h"
#include "runlog/run_record.h"
#include "runlog/utf8_text.h"

namespace {

using namespace varnholt;

constexpr char kHelp[] =
    "Usage: varnholt-report [--json] [--beta B] [--png DIR] [PATH...]\n"
    "       varnholt-report --pdf FILE [--runs] [--since TIME] [--target T\n"
    "                       [--reliability R] [--confidence C] [--beta B]] [PATH...]\n"
    "       varnholt-report --plan --target T [--reliability R] [--confidence C]\n"
    "                       [--beta B] (--units N | --cycles T) [--json]\n"
    "       varnholt-report --assign-unit SERIAL [--lot LOT] FILE...\n"
    "Summarises Varnholt's test logs: cycles, failures, mean cycles between failures\n"
    "with its 90 % lower bound, cycle and move times, the Laplace trend and the\n"
    "failure modes of each run, and the total of each folder; the units (shutters)\n"
    "over their runs and each lot's Weibull life with its bounds.\n"
    "  PATH        a bench folder (its cycle_log<N>.txt and powercut_log<N>.txt) or\n"
    "              one log file; the current folder when none is given\n"
    "  --json      print the figures as JSON instead of the table\n"
    "  --pdf FILE  also write a report: a summary page (each lot's life in words and a\n"
    "              small plot, each folder's recent runs and failures), a page or\n"
    "              more per lot (its plot and all its units), and the run table\n"
    "  --runs      with --pdf: a page of charts and failure modes for each run too\n"
    "  --since TIME  with --pdf: the runs the summary lists, those with rows since\n"
    "              TIME (local, 2026-12-09 or \"2026-12-09 08:00\"); the last 24 h of\n"
    "              the newest run when not given\n"
    "  --target T  with --pdf: judge each lot by the zero-failure plan --plan works\n"
    "              out for its units (with --reliability, --confidence and --beta)\n"
    "  --png DIR   also write each run's charts as PNG images into DIR\n"
    "  --beta B    the Weibull shape the Weibayes bound assumes (default 2.0)\n"
    "  --plan      how many cycles each of N units (--units) must pass without a\n"
    "              shutter failure, or how many units must pass T cycles (--cycles),\n"
    "              to show reliability R (default 0.90) at the target T cycles with\n"
    "              confidence C (default 0.90), the shape B assumed\n"
    "  --assign-unit SERIAL [--lot LOT] FILE...\n"
    "              give old logs without a run record one naming their unit\n"
    "  --help, --version\n"
    "Exit status: 0 when something could be reported (even with problem files),\n"
    "1 when nothing could, 2 for a bad argument. See varnholt-report(1).\n";

struct Arguments {
    bool json = false, runs = false;
    std::optional<int64_t> since;
    std::string pdf, png;
    std::vector<std::string> paths;
    double beta = 2.0;
    bool plan = false;
    double target = 0, reliability = 0.90, confidence = 0.90, units = 0, cycles = 0;
    bool assign = false;
    std::string unit, lot;
};

// A number for an option, whole text read: "1e6" and "1000000" alike.
bool Number(const char* text, double& value) {
    char* end = nullptr;
    value = std::strtod(text, &end);
    return end != text && *end == '\0' && std::isfinite(value);
}

// "2026-12-09", "2026-12-09 08:00", "2026-12-09T08:00:30": LocalSeconds.
bool LocalTime(const char* text, int64_t& when) {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, used = 0;
    const std::string t = text;
    const int got = std::sscanf(text, "%4d-%2d-%2d%n", &year, &month, &day, &used);
    if (got != 3) return false;
    size_t at = static_cast<size_t>(used);
    if (at < t.size()) {
        if (t[at] != ' ' && t[at] != 'T') return false;
        int more = 0;
        const int fields =
            std::sscanf(text + at + 1, "%2d:%2d%n:%2d%n", &hour, &minute, &more, &second, &more);
        if (fields < 2) return false;
        at += 1 + static_cast<size_t>(more);
    }
    if (at != t.size() || month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 ||
        minute > 59 || second > 59 || year < 1970) {
        return false;
    }
    when = LocalSeconds(year, month, day, hour * 3600 + minute * 60 + second);
    return true;
}

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
        } else if (arg == "--plan") {
            a.plan = true;
        } else if (arg == "--runs") {
            a.runs = true;
        } else if (arg == "--since") {
            int64_t when = 0;
            if (i + 1 >= argc || !LocalTime(argv[i + 1], when)) {
                std::fputs(
                    "varnholt-report: --since needs a local time after it, such as "
                    "2026-12-09 or \"2026-12-09 08:00\".\n",
                    stderr);
                return 2;
            }
            a.since = when;
            ++i;
        } else if (arg == "--beta" || arg == "--target" || arg == "--reliability" ||
                   arg == "--confidence" || arg == "--units" || arg == "--cycles") {
            double* value = arg == "--beta"          ? &a.beta
                            : arg == "--target"      ? &a.target
                            : arg == "--reliability" ? &a.reliability
                            : arg == "--confidence"  ? &a.confidence
                            : arg == "--units"       ? &a.units
                                                     : &a.cycles;
            if (i + 1 >= argc || !Number(argv[i + 1], *value)) {
                std::fprintf(stderr,
                             "varnholt-report: %s needs a number after it; see "
                             "varnholt-report --help.\n",
                             arg.c_str());
                return 2;
            }
            ++i;
        } else if (arg == "--assign-unit" || arg == "--lot") {
            if (i + 1 >= argc) {
                std::fprintf(stderr,
                             "varnholt-report: %s needs a name after it; see "
                             "varnholt-report --help.\n",
                             arg.c_str());
                return 2;
            }
            const std::string name = argv[++i];
            const std::string problem = UnitNameProblem(name, arg == "--lot" ? "lot" : "unit");
            if (!problem.empty() || (arg == "--assign-unit" && name.empty())) {
                std::fprintf(stderr, "varnholt-report: %s\n",
                             problem.empty() ? "--assign-unit needs a serial number that is not "
                                               "empty."
                                             : problem.c_str());
                return 2;
            }
            if (arg == "--lot") {
                a.lot = name;
            } else {
                a.assign = true;
                a.unit = name;
            }
        } else if (arg == "--pdf" || arg == "--png") {
            if (i + 1 >= argc || argv[i + 1][0] == '\0') {
                std::fprintf(stderr,
                             "varnholt-report: %s needs a %s name after it; see "
                             "varnholt-report --help.\n",
                             arg.c_str(), arg == "--pdf" ? "file" : "folder");
                return 2;
            }
            (arg == "--pdf" ? a.pdf : a.png) = argv[++i];
        } else {
            std::fprintf(stderr,
                         "varnholt-report: '%s' is not an option of varnholt-report; "
                         "see varnholt-report --help.\n",
                         arg.c_str());
            return 2;
        }
    }
    if (!(a.beta > 0)) {
        std::fputs("varnholt-report: --beta must be above 0 (a Weibull shape such as 2.0).\n",
                   stderr);
        return 2;
    }
    // The plan's numbers, for --plan and for --pdf --target alike. Below one
    // cycle no count can show anything.
    const auto planProblem = [&a]() -> const char* {
        return !(a.target >= 1 && std::isfinite(a.target))
                   ? "--target must be a number of cycles, 1 or more"
               : !(a.reliability > 0 && a.reliability < 1)
                   ? "--reliability must lie between 0 and 1 (0.90 for 90 %)"
               : !(a.confidence > 0 && a.confidence < 1)
                   ? "--confidence must lie between 0 and 1 (0.90 for 90 %)"
                   : nullptr;
    };
    const auto refuse = [](const char* wrong) {
        std::fprintf(stderr, "varnholt-report: %s; see varnholt-report --help.\n", wrong);
        return 2;
    };
    if (a.plan) {
        const char* wrong = planProblem() ? planProblem()
                            : a.cycles != 0 && !(a.cycles >= 1 && std::isfinite(a.cycles))
                                ? "--cycles must be a number of cycles, 1 or more"
                            : (a.units > 0) == (a.cycles > 0)
                                ? "give either --units (above 0) or --cycles (above 0)"
                            : a.units > 0 && a.units != std::floor(a.units)
                                ? "--units must be a whole number"
                                : nullptr;
        return wrong != nullptr ? refuse(wrong) : 0;
    }
    if (a.pdf.empty() && (a.runs || a.since || a.target != 0)) {
        std::fputs(
            "varnholt-report: --runs, --since and --target (without --plan) go with "
            "--pdf FILE.\n",
            stderr);
        return 2;
    }
    if (a.target != 0 && planProblem() != nullptr) return refuse(planProblem());
    if (a.assign && a.paths.empty()) {
        std::fputs("varnholt-report: --assign-unit needs one or more log files after it.\n",
                   stderr);
        return 2;
    }
    if (!a.assign && !a.lot.empty()) {
        std::fputs("varnholt-report: --lot goes with --assign-unit.\n", stderr);
        return 2;
    }
    if (a.paths.empty()) a.paths.push_back(".");
    return 0;
}

// Counts and cycles as every page writes them: "2,090,663".
std::string Whole(double value) { return CyclesText(value); }

std::string Plain(double value) {
    char text[48];
    std::snprintf(text, sizeof text, "%g", value);
    return text;
}

// A count in JSON: a whole number while one is exact, null when there is none.
Json Count(double value) {
    if (!std::isfinite(value)) return nullptr;
    if (std::abs(value) < 9e15) return static_cast<int64_t>(value);
    return value;
}

int Plan(const Arguments& a) {
    Json json = {{"target", Count(a.target)},
                 {"reliability", a.reliability},
                 {"confidence", a.confidence},
                 {"beta", a.beta}};
    std::string text;
    const std::string shown = "reliability " + Plain(a.reliability * 100) + " % at " +
                              Whole(a.target) + " cycles with " + Plain(a.confidence * 100) +
                              " % confidence (Weibull shape " + Plain(a.beta) + " assumed)";
    // Past what a double holds the demonstration asks the impossible: said,
    // and null in JSON, never "inf".
    std::string note;
    if (a.units > 0) {
        const double each =
            std::ceil(ZeroFailureCycles(a.target, a.reliability, a.confidence, a.beta, a.units));
        json["units"] = Count(a.units);
        json["cycles_each"] = Count(each);
        if (std::isfinite(each)) {
            text = (a.units == 1 ? std::string("The shutter must pass ")
                                 : "Each of " + Whole(a.units) + " shutters must pass ") +
                   Whole(each) + " cycles without a shutter failure to show " + shown + ".\n";
        } else {
            note = "no number of cycles each of " + Whole(a.units) + " shutters can pass shows " +
                   shown +
                   ": the cycles needed are beyond any count; assume a larger --beta or "
                   "test more units";
        }
    } else {
        const double units = std::max(
            1.0,
            std::ceil(ZeroFailureUnits(a.target, a.reliability, a.confidence, a.beta, a.cycles)));
        json["cycles_each"] = Count(a.cycles);
        json["units_needed"] = Count(units);
        if (std::isfinite(units)) {
            text = Whole(units) +
                   (units == 1 ? " shutter must pass " : " shutters must each pass ") +
                   Whole(a.cycles) + " cycles without a shutter failure to show " + shown + ".\n";
        } else {
            note = "no number of shutters passing " + Whole(a.cycles) + " cycles each shows " +
                   shown + ": the units needed are beyond any count; test each for more cycles";
        }
    }
    if (!note.empty()) {
        json["note"] = note;
        note[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(note[0])));
        text = note + ".\n";
    }
    const std::string out = a.json ? JsonText(json) + "\n" : text;
    std::fwrite(out.data(), 1, out.size(), stdout);
    return 0;
}

int Assign(const Arguments& a) {
    int status = 0;
    for (const std::string& path : a.paths) {
        std::string sentence;
        if (AssignUnit(path, a.unit, a.lot, sentence)) {
            std::printf("Wrote %s\n", sentence.c_str());
        } else {
            std::fprintf(stderr, "varnholt-report: %s\n", sentence.c_str());
            status = 1;
        }
    }
    return status;
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

// A file name for a lot's plot: the lot's letters and digits alone, so no
// lot name becomes a path; where that changed the name (SAME? and SAME*, or
// two names alike in their first 40 characters) a short hash of the whole
// name keeps each lot's file its own.
QString LotImageName(const LotFigures& lot) {
    const QString given = Q(lot.lot);
    QString name;
    for (const QChar c : given.left(40)) {
        name += c.isLetterOrNumber() || c == QLatin1Char('-') ? c : QLatin1Char('_');
    }
    const bool unnamed = given.isEmpty();
    if (unnamed) name = QStringLiteral("unnamed");
    if ((name != given && !unnamed) ||
        (!unnamed && name.compare(QLatin1String("unnamed"), Qt::CaseInsensitive) == 0)) {
        uint32_t hash = 2166136261u;  // FNV-1a over the name's bytes
        for (const char c : lot.lot) {
            hash = (hash ^ static_cast<unsigned char>(c)) * 16777619u;
        }
        name += QLatin1Char('-') + QString::number(hash, 16).rightJustified(8, QLatin1Char('0'));
    }
    return QStringLiteral("lot-") + name + QLatin1Char('-') +
           QString::fromLatin1(NamesOf(lot.kind).json) + QStringLiteral("-weibull.png");
}

bool WritePng(const QImage& image, const QString& path) {
    std::string why;
    if (WritePngFile(image, path, why)) return true;
    std::fprintf(stderr,
                 "varnholt-report: cannot write %s (%s); check that the folder can be written "
                 "and the disk is not full.\n",
                 path.toLocal8Bit().constData(), why.c_str());
    return false;
}

bool WritePngs(const Report& report, const std::string& folder) {
    QDir dir(Q(folder));
    if (!dir.exists() && !QDir().mkpath(dir.path())) {
        std::fprintf(stderr,
                     "varnholt-report: cannot make the folder %s for the images; give "
                     "--png a folder that can be written.\n",
                     folder.c_str());
        return false;
    }
    // Each image is drawn and compressed on its own, on every core: QPainter
    // on a QImage and the PNG writer are reentrant.
    std::vector<std::function<bool()>> jobs;
    for (size_t i = 0; i < report.runs.size(); ++i) {
        for (const RunChart chart : kRunCharts) {
            jobs.emplace_back([&report, &dir, i, chart] {
                // One canvas a thread: a fresh 2 MB image each time costs its
                // page faults again.
                thread_local QImage image(1200, 600, QImage::Format_RGB888);
                image.fill(Qt::white);
                QPainter painter(&image);
                painter.setFont(QFont(QStringLiteral("DejaVu Sans"), 6));
                DrawRunChart(painter, QRectF(0, 0, 1200, 600), chart, report.series[i]);
                painter.end();
                return WritePng(image, dir.filePath(ImageName(report, i, chart)));
            });
        }
    }
    for (const LotFigures& lot : report.unitsAndLots.lots) {
        // Old logs without records are no lot a lab has named.
        if (lot.namedUnits == 0) continue;
        jobs.emplace_back([&lot, &dir] {
            QImage image(1000, 800, QImage::Format_RGB888);
            image.fill(Qt::white);
            QPainter painter(&image);
            painter.setFont(QFont(QStringLiteral("DejaVu Sans"), 6));
            DrawWeibullPlot(painter, QRectF(0, 0, 1000, 800), lot);
            painter.end();
            return WritePng(image, dir.filePath(LotImageName(lot)));
        });
    }
    std::atomic<size_t> next{0};
    std::atomic<bool> failed{false};
    const auto work = [&] {
        for (size_t i; !failed && (i = next++) < jobs.size();) {
            if (!jobs[i]()) failed = true;
        }
    };
    // Four workers a core (16 at most, a 2 MB canvas each): each image is
    // flushed to the disk before it takes its name, and while workers wait on
    // that (milliseconds each when the disk is busy) the others draw and
    // compress. 120 charts: 0.45 s on one worker a core here, 0.33 s.
    const size_t cores = std::max(1u, std::thread::hardware_concurrency());
    const size_t workers = std::min<size_t>({jobs.size(), 4 * cores, 16});
    std::vector<std::thread> threads;
    for (size_t w = 1; w < workers; ++w) threads.emplace_back(work);
    work();
    for (std::thread& t : threads) t.join();
    return !failed;
}

}  // namespace

int main(int argc, char* argv[]) {
    Arguments arguments;
    if (const int status = Parse(argc, argv, arguments); status != 0)
        return status < 0 ? 0 : status;
    if (arguments.plan) return Plan(arguments);
    if (arguments.assign) return Assign(arguments);
    const bool drawing = !arguments.pdf.empty() || !arguments.png.empty();
    const Report report = BuildReport(arguments.paths, drawing, arguments.beta);
    const std::string out = arguments.json
                                ? ReportJson(report)
                                : ReportTable(report, TerminalIsUtf8() ? kUnicode : kAscii);
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
        PdfOptions options;
        options.runPages = arguments.runs;
        options.since = arguments.since;
        if (arguments.target != 0) {
            options.plan = PdfPlan{arguments.target, arguments.reliability, arguments.confidence,
                                   arguments.beta};
        }
        if (!arguments.pdf.empty() && !WritePdf(report, arguments.pdf, options)) return 1;
    }
    return report.runs.empty() ? 1 : 0;
}
