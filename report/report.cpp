#include "report/report.h"

#include <algorithm>
#include <atomic>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <map>
#include <set>
#include <thread>
#include <utility>

#include "runlog/plain_file.h"
#include "runlog/run_record.h"
#include "runlog/utf8_text.h"

namespace varnholt {
namespace {

namespace fs = std::filesystem;

std::string Joined(const std::string& folder, const std::string& name) {
    if (folder.empty() || folder == ".") return name;
    return folder.back() == '/' ? folder + name : folder + "/" + name;
}

std::string NotRead(const std::string& path, const std::string& why) {
    return path + " was not read: " + why + ".";
}

// Cycle logs first, then power-cut logs, each by number, then by name. The
// keys are worked out once per path: a folder may hold tens of thousands.
void SortInReportOrder(std::vector<std::string>& paths) {
    using Key = std::tuple<int, int64_t, std::string>;
    std::vector<std::pair<Key, std::string>> keyed;
    keyed.reserve(paths.size());
    for (std::string& path : paths) {
        const size_t slash = path.find_last_of('/');
        std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
        TestLogKind kind = TestLogKind::CycleTest;
        const bool isLog = IsTestLogName(name, &kind);
        const int64_t number = TestLogNumber(name);
        keyed.emplace_back(
            Key(isLog ? (kind == TestLogKind::CycleTest ? 0 : 1) : 2, number, std::move(name)),
            std::move(path));
    }
    std::sort(keyed.begin(), keyed.end());
    for (size_t i = 0; i < keyed.size(); ++i) paths[i] = std::move(keyed[i].second);
}

// --- JSON -----------------------------------------------------------------

std::string Number(double value) {
    char text[64];
    const auto result = std::to_chars(text, text + sizeof text, value);
    std::string out(text, result.ptr);
    // Whole values as JSON readers expect a measured figure: 231.0, not 231.
    if (out.find_first_of(".e") == std::string::npos) out += ".0";
    return out;
}

std::string OrNull(const std::optional<double>& value) { return value ? Number(*value) : "null"; }
std::string OrNull(const std::optional<int64_t>& value) {
    return value ? std::to_string(*value) : "null";
}
std::string Time(const std::optional<int64_t>& when) {
    return when ? JsonString(IsoLocalText(*when)) : "null";
}
std::string SpreadJson(const std::optional<Spread>& s) {
    if (!s) return "null";
    return "{\"median\": " + std::to_string(s->median) + ", \"p99\": " + std::to_string(s->p99) +
           ", \"max\": " + std::to_string(s->max) + "}";
}
const char* Bool(bool value) { return value ? "true" : "false"; }
// A bound the likelihood does not close is no figure: null.
std::string Figure(double value) { return std::isfinite(value) ? Number(value) : "null"; }

std::string UnitJson(const UnitFigures& u) {
    std::string runs;
    for (const UnitRun& run : u.runs) {
        if (!runs.empty()) runs += ", ";
        runs +=
            "{\"folder\": " + JsonString(run.folder) + ", \"file\": " + JsonString(run.file) + "}";
    }
    return "{\"unit\": " + JsonString(u.unit) + ", \"named\": " + Bool(u.named) +
           ", \"lot\": " + JsonString(u.lot) + ", \"kind\": \"" + NamesOf(u.kind).json +
           "\", \"runs\": [" + runs + "], \"cycles\": " + std::to_string(u.cycles) +
           ", \"failed\": " + Bool(u.failed) +
           ", \"cycles_to_failure\": " + OrNull(u.cyclesToFailure) +
           ", \"bench_faults\": " + std::to_string(u.benchFaults) +
           ", \"running\": " + Bool(u.running) + "}";
}

std::string LotJson(const LotFigures& lot) {
    std::string weibull = "null";
    if (lot.weibull) {
        const WeibullFit& w = *lot.weibull;
        weibull = "{\"beta\": " + Figure(w.beta) + ", \"eta\": " + Figure(w.eta) +
                  ", \"beta_90\": [" + Figure(w.betaLow90) + ", " + Figure(w.betaHigh90) + "]" +
                  ", \"eta_90\": [" + Figure(w.etaLow90) + ", " + Figure(w.etaHigh90) + "]" +
                  ", \"b1\": " + Figure(w.b1) + ", \"b10\": " + Figure(w.b10) +
                  ", \"b50\": " + Figure(w.b50) + ", \"b10_lower_90\": " + Figure(w.b10Lower90) +
                  "}";
    }
    std::string weibayes = "null";
    if (lot.weibayes) {
        weibayes = "{\"beta_assumed\": " + Number(lot.weibayes->betaAssumed) +
                   ", \"eta_lower_90\": " + Figure(lot.weibayes->etaLower90) +
                   ", \"b10_lower_90\": " + Figure(lot.weibayes->b10Lower90) + "}";
    }
    return "{\"lot\": " + JsonString(lot.lot) + ", \"kind\": \"" + NamesOf(lot.kind).json +
           "\", \"units\": " + std::to_string(lot.units) +
           ", \"failures\": " + std::to_string(lot.failures) +
           ", \"suspensions\": " + std::to_string(lot.suspensions) + ", \"weibull\": " + weibull +
           ", \"weibull_note\": " + (lot.weibull ? "null" : JsonString(lot.weibullNote)) +
           ", \"weibayes\": " + weibayes + "}";
}

std::string RunJson(const RunFigures& r) {
    std::string modes;
    for (const FailureMode& m : r.failureModes) {
        if (!modes.empty()) modes += ", ";
        modes += "{\"error\": " + JsonString(m.error) + ", \"count\": " + std::to_string(m.count) +
                 ", \"first_cycle\": " + std::to_string(m.firstCycle) +
                 ", \"last_cycle\": " + std::to_string(m.lastCycle) + ", \"class\": \"" +
                 FailureClassName(m.kind) + "\"}";
    }
    return "{\"file\": " + JsonString(r.file) + ", \"folder\": " + JsonString(r.folder) +
           ", \"kind\": \"" + NamesOf(r.kind).json + "\", \"started\": " + Time(r.started) +
           ", \"unit\": " + (r.hasRecord ? JsonString(r.unit) : "null") +
           ", \"lot\": " + (r.hasRecord ? JsonString(r.lot) : "null") +
           ", \"last_row\": " + Time(r.lastRow) + ", \"cycles\": " + std::to_string(r.cycles) +
           ", \"failures\": " + std::to_string(r.failures) +
           ", \"shutter_failures\": " + std::to_string(r.shutterFailures) +
           ", \"bench_faults\": " + std::to_string(r.benchFaults) +
           ", \"ended_by_failure\": " + Bool(r.endedByFailure) +
           ", \"first_failure_cycle\": " + OrNull(r.firstFailureCycle) +
           ", \"mcbf\": " + OrNull(r.mcbf) + ", \"mcbf_lower_90\": " + Number(r.mcbfLower90) +
           ", \"cycle_seconds\": " + SpreadJson(r.cycleSeconds) +
           ", \"laplace\": " + OrNull(r.laplace) + ", \"failure_modes\": [" + modes + "]" +
           ", \"open_ms\": " + SpreadJson(r.openMs) + ", \"close_ms\": " + SpreadJson(r.closeMs) +
           ", \"bad_lines\": " + std::to_string(r.badLines) +
           ", \"partial_last_line\": " + Bool(r.partialLastLine) + "}";
}

// --- table ----------------------------------------------------------------

std::string Fixed(const std::optional<double>& value, const char* format = "%.1f") {
    if (!value) return "-";
    char text[48];
    std::snprintf(text, sizeof text, format, *value);
    return text;
}

std::string SpreadText(const std::optional<Spread>& s) {
    if (!s) return "-";
    return std::to_string(s->median) + "/" + std::to_string(s->p99) + "/" + std::to_string(s->max);
}

std::string Row(const std::vector<std::string>& cells, const std::vector<int>& widths) {
    std::string line;
    for (size_t i = 0; i < cells.size(); ++i) {
        std::string cell = cells[i];
        const int width = widths[i];
        if (static_cast<int>(cell.size()) < std::abs(width)) {
            const std::string pad(static_cast<size_t>(std::abs(width)) - cell.size(), ' ');
            cell = width < 0 ? cell + pad : pad + cell;
        }
        line += (i == 0 ? "" : "  ") + cell;
    }
    while (!line.empty() && line.back() == ' ') line.pop_back();
    return line + "\n";
}

std::string TotalLine(const char* label, const TotalFigures& t) {
    return std::string(label) + ": " + std::to_string(t.runs) +
           (t.runs == 1 ? " run, " : " runs, ") + std::to_string(t.cycles) + " cycles, " +
           std::to_string(t.shutterFailures) +
           (t.shutterFailures == 1 ? " shutter failure, " : " shutter failures, ") +
           std::to_string(t.benchFaults) + (t.benchFaults == 1 ? " bench fault" : " bench faults") +
           ", MCBF " + Fixed(t.mcbf) + " cycles (90 % lower bound " + Fixed(t.mcbfLower90) + ")\n";
}

std::string Cycles(double value) {
    if (!std::isfinite(value)) return "-";
    char text[48];
    std::snprintf(text, sizeof text, "%.0f", value);
    return text;
}

// Names in the table's cells.
std::string Printable(const std::string& name) { return PrintableName(name, 60); }

}  // namespace

std::string UnitStateText(const UnitFigures& u) {
    if (u.failed) return "failed at " + std::to_string(*u.cyclesToFailure);
    return u.running ? "running" : "suspended";
}

std::string LotSummary(const LotFigures& lot) {
    std::string out = std::to_string(lot.units) + (lot.units == 1 ? " unit, " : " units, ") +
                      std::to_string(lot.failures) + " failed, " + std::to_string(lot.suspensions) +
                      " suspended. ";
    if (lot.weibull) {
        const WeibullFit& w = *lot.weibull;
        out += "Weibull beta " + Fixed(w.beta, "%.3g") + " [" + Fixed(w.betaLow90, "%.3g") + ", " +
               Fixed(w.betaHigh90, "%.3g") + "], eta " + Cycles(w.eta) + " [" + Cycles(w.etaLow90) +
               ", " + Cycles(w.etaHigh90) + "] cycles (90 %); B10 " + Cycles(w.b10) +
               ", at least " + Cycles(w.b10Lower90) + " (90 %). ";
    } else {
        out += "No Weibull fit: " + lot.weibullNote + ". ";
    }
    if (lot.weibayes) {
        out += "Weibayes, beta " + Fixed(lot.weibayes->betaAssumed, "%g") +
               " assumed: eta at least " + Cycles(lot.weibayes->etaLower90) + ", B10 at least " +
               Cycles(lot.weibayes->b10Lower90) + " cycles (90 %).";
    }
    return out;
}

RunFile::RunFile(std::string folder, std::string path)
    : folder_(std::move(folder)),
      path_(std::move(path)),
      nameAt_(fs::path(path_).filename().empty()
                  ? path_.size()
                  : path_.size() - fs::path(path_).filename().string().size()) {}

bool RunFile::Refresh() {
    // A folder of thousands of logs is looked at again and again: a log and
    // companion that look as they did are not opened at all.
    const std::string movesPath =
        Joined(fs::path(path_).parent_path().string(), MovesFileName(std::string(name())));
    FileStamp log, moves;
    const bool seen = StampOf(path_, log);
    StampOf(movesPath, moves);
    const bool same = lastOk_ && seen && log == logStamp_ && moves == movesStamp_;
    if (same && reading_) {
        ReadRecord();
        return true;
    }
    if (same && RecordStampNow() == recordStamp_) return true;
    if (!reading_) {
        Warm();
    } else if (lastOk_) {
        grew_ = true;
    }
    logStamp_ = log;
    movesStamp_ = moves;
    lastOk_ = false;
    ++version_;
    Reading& r = *reading_;
    // Replaced by another file, cut back, or changed within what was read
    // (a torn row taken back and written anew): its figures so far are
    // wrong, and it is read again from the start.
    if (r.reader.ChangedUnder(path_)) {
        r.reader = LogReader{};
        r.moves = MovesReader{};
        r.run = RunAccumulator{};
        r.started = false;
    }
    const bool ok = r.reader.ReadAppended(path_, [&r](const LogRow& row) {
        if (!r.started) {
            r.run.Start(r.reader);
            r.started = true;
        }
        r.run.Add(row);
    });
    bytesRead_ = r.reader.offset;
    if (!ok) {
        problem = NotRead(path_, r.reader.problem);
        return false;
    }
    if (!r.started) {  // a header without rows yet
        r.run.Start(r.reader);
        r.started = true;
    }
    problem.clear();
    ReadRecord();
    std::vector<MoveRow> rows;
    r.moves.ReadAppended(movesPath, rows);
    r.run.AddMoves(rows);
    lastOk_ = seen;
    return true;
}

void RunFile::Compact() {
    if (!reading_ || !lastOk_) return;
    SharedFigures();
    reading_.reset();
}

void RunFile::Warm() {
    if (reading_) return;
    reading_ = std::make_unique<Reading>();
    lastOk_ = false;
    recordSeen_ = false;
}

const RunAccumulator& RunFile::series() const {
    static const RunAccumulator kNone;
    return reading_ ? reading_->run : kNone;
}

RunFile::RecordStamp RunFile::RecordStampNow() const {
    // One look at the record (a single stat) decides whether to read it again.
    std::error_code error;
    const fs::directory_entry entry(
        fs::path(path_).parent_path() / RunRecordName(std::string(name())), error);
    const auto stamp = entry.last_write_time(error);
    RecordStamp now;
    now.present = !error;
    // The file clock's count may be negative: its epoch is not 1970.
    now.when = now.present ? static_cast<int64_t>(stamp.time_since_epoch().count()) : 0;
    now.size = now.present ? entry.file_size(error) : 0;
    return now;
}

void RunFile::ReadRecord() {
    const RecordStamp now = RecordStampNow();
    if (recordSeen_ && now == recordStamp_) return;
    recordSeen_ = true;
    recordStamp_ = now;
    recordProblem.clear();
    reading_->record = now.present ? ReadRunRecordOf(path_, recordProblem) : std::nullopt;
    ++version_;
}

std::shared_ptr<const RunFigures> RunFile::SharedFigures() const {
    if (reading_ && (!shared_ || sharedVersion_ != version_)) {
        const Reading& r = *reading_;
        RunFigures f = r.run.Figures(r.reader);
        f.file = name();
        f.folder = folder_;
        f.movesBadLines = r.moves.badLines;
        if (r.record) {
            f.hasRecord = true;
            f.unit = r.record->unit;
            f.lot = r.record->lot;
            f.startedUtc = r.record->startedUtc;
            f.recordEnded = r.record->ended.has_value();
        }
        shared_ = std::make_shared<const RunFigures>(std::move(f));
        sharedVersion_ = version_;
    }
    return shared_ ? shared_ : std::make_shared<const RunFigures>();
}

RunFigures RunFile::Figures() const { return *SharedFigures(); }

std::vector<std::string> LogFilesIn(const std::string& folder,
                                    std::vector<ReportProblem>& problems) {
    std::vector<std::string> files;
    std::error_code error;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        const std::string name = it->path().filename().string();
        if (!IsTestLogName(name)) continue;
        // A folder or FIFO with a log's name is kept: the reader names it
        // as a problem, without opening it.
        files.push_back(Joined(folder, name));
    }
    if (error) {
        problems.push_back(
            {folder, "The folder " + folder + " could not be read: " + error.message() + "."});
    }
    SortInReportOrder(files);
    return files;
}

void AddRunProblems(const std::string& path, const RunFigures& figures,
                    const std::string& recordProblem, LogNumbers& numbered,
                    std::vector<ReportProblem>& problems) {
    const auto [first, fresh] =
        numbered.try_emplace({figures.kind, TestLogNumber(figures.file)}, path);
    if (!fresh) {
        problems.push_back({path, path + " carries the same number as " + first->second +
                                      " (a copy?); both were counted, so their cycles may be "
                                      "counted twice: move the copy out of the bench folder."});
    }
    for (std::string& note : RunNotes(path, figures)) problems.push_back({path, std::move(note)});
    if (!recordProblem.empty()) {
        problems.push_back({path, "The run record " + RunRecordName(figures.file) + " beside " +
                                      path + " was not read: " + recordProblem +
                                      "; the log was read as if it had none."});
    }
}

std::vector<std::string> RunNotes(const std::string& path, const RunFigures& f) {
    std::vector<std::string> notes;
    const auto count = [](int64_t n, const char* one, const char* many) {
        return std::to_string(n) + " " + (n == 1 ? one : many);
    };
    if (f.badLines > 0) {
        notes.push_back(
            path + " has " + count(f.badLines, "line that is", "lines that are") +
            " not a row in its place, the first at line " + std::to_string(f.firstBadLine) +
            (f.outOfSequence > 0 ? " (" + count(f.outOfSequence, "row", "rows") +
                                       " whose Count is not the one after the row before)"
                                 : std::string()) +
            "; they were left out of the figures.");
    }
    if (f.timeWentBack > 0) {
        notes.push_back(path + " line " + std::to_string(f.firstTimeWentBackLine) +
                        " has a time earlier than the row before it by less than 12 hours (the "
                        "clock was set back?); it was read as the next day" +
                        (f.timeWentBack > 1
                             ? ", as were " + std::to_string(f.timeWentBack - 1) + " later rows"
                             : std::string()) +
                        ".");
    }
    if (f.movesLeftOut > 0 || f.movesBadLines > 0) {
        notes.push_back("The move times beside " + path + " hold " +
                        count(f.movesLeftOut + f.movesBadLines, "row", "rows") +
                        " that are not of this log's cycles or not a time a move takes; they "
                        "were left out of the move figures.");
    }
    return notes;
}

Report BuildReport(const std::vector<std::string>& paths, bool keepSeries, double assumedBeta) {
    Report report;
    report.assumedBeta = assumedBeta;
    // Files named one by one are grouped by their folder, in report order;
    // a folder is one folder however it is spelt.
    struct Group {
        std::string folder;
        FileId id;
        bool idKnown;
        std::vector<std::string> files;
    };
    std::vector<Group> groups;
    const auto group = [&](const std::string& folder) -> std::vector<std::string>& {
        FileId id;
        const bool known = IdentityOf(folder, id);
        for (Group& g : groups) {
            if (known ? g.idKnown && g.id == id : g.folder == folder) return g.files;
        }
        groups.push_back({folder, id, known, {}});
        return groups.back().files;
    };
    for (const std::string& path : paths) {
        std::error_code error;
        const fs::file_status status = fs::status(path, error);
        if (status.type() == fs::file_type::not_found) {
            report.problems.push_back({path, path + " does not exist; give a bench folder or a "
                                                    "log file."});
        } else if (status.type() == fs::file_type::directory) {
            auto& files = group(path);
            for (std::string& file : LogFilesIn(path, report.problems))
                files.push_back(std::move(file));
        } else {
            const std::string parent = fs::path(path).parent_path().string();
            group(parent.empty() ? "." : parent).push_back(path);
        }
    }
    // Each file once, by the name it was first given.
    std::set<FileId> seen;
    for (Group& g : groups) {
        std::vector<std::string> once;
        for (std::string& path : g.files) {
            FileId id;
            if (!IdentityOf(path, id) || seen.insert(id).second) once.push_back(std::move(path));
        }
        g.files = std::move(once);
    }
    // The logs are read on every core, each on its own; the results are
    // taken in report order.
    struct Read {
        const std::string* folder = nullptr;
        const std::string* path = nullptr;
        bool ok = false;
        std::string problem, recordProblem;
        RunFigures figures;
        std::optional<RunAccumulator> series;
    };
    std::vector<Read> reads;
    for (Group& g : groups) {
        SortInReportOrder(g.files);
        for (const std::string& path : g.files) {
            reads.emplace_back();
            reads.back().folder = &g.folder;
            reads.back().path = &path;
        }
    }
    std::atomic<size_t> next{0};
    const auto work = [&] {
        for (size_t i; (i = next++) < reads.size();) {
            Read& r = reads[i];
            RunFile run(*r.folder, *r.path);
            r.ok = run.Refresh();
            if (!r.ok) {
                r.problem = run.problem;
                continue;
            }
            r.figures = run.Figures();
            r.recordProblem = run.recordProblem;
            if (keepSeries) r.series = run.series();
        }
    };
    const size_t workers = std::min<size_t>(
        reads.size(), std::clamp<unsigned>(std::thread::hardware_concurrency(), 1, 8));
    std::vector<std::thread> threads;
    for (size_t w = 1; w < workers; ++w) threads.emplace_back(work);
    work();
    for (std::thread& t : threads) t.join();

    size_t at = 0;
    for (Group& g : groups) {
        report.folders.push_back(g.folder);
        LogNumbers numbered;
        for (const std::string& path : g.files) {
            Read& r = reads[at++];
            if (!r.ok) {
                report.problems.push_back({path, r.problem});
                continue;
            }
            RunFigures& figures = r.figures;
            AddRunProblems(path, figures, r.recordProblem, numbered, report.problems);
            report.runs.push_back(std::move(figures));
            if (keepSeries) report.series.push_back(std::move(*r.series));
        }
    }
    report.unitsAndLots = BuildUnitsAndLots(report.runs, assumedBeta);
    for (const std::string& problem : report.unitsAndLots.problems) {
        report.problems.push_back({"", problem});
    }
    return report;
}

std::string ReportJson(const Report& report) {
    std::string out = "{\"runs\": [";
    for (size_t i = 0; i < report.runs.size(); ++i) {
        out += (i == 0 ? "\n  " : ",\n  ") + RunJson(report.runs[i]);
    }
    const TotalFigures total = Total(report.runs);
    out += "],\n \"total\": {\"runs\": " + std::to_string(total.runs) +
           ", \"cycles\": " + std::to_string(total.cycles) +
           ", \"failures\": " + std::to_string(total.failures) +
           ", \"shutter_failures\": " + std::to_string(total.shutterFailures) +
           ", \"bench_faults\": " + std::to_string(total.benchFaults) +
           ", \"mcbf\": " + OrNull(total.mcbf) +
           ", \"mcbf_lower_90\": " + Number(total.mcbfLower90) + "},\n \"units\": [";
    const UnitsAndLots& ul = report.unitsAndLots;
    for (size_t i = 0; i < ul.units.size(); ++i) {
        out += (i == 0 ? "\n  " : ",\n  ") + UnitJson(ul.units[i]);
    }
    out += "],\n \"lots\": [";
    for (size_t i = 0; i < ul.lots.size(); ++i) {
        out += (i == 0 ? "\n  " : ",\n  ") + LotJson(ul.lots[i]);
    }
    out += "],\n \"problems\": [";
    for (size_t i = 0; i < report.problems.size(); ++i) {
        out += (i == 0 ? "\n  " : ",\n  ") + std::string("{\"file\": ") +
               JsonString(report.problems[i].file) +
               ", \"problem\": " + JsonString(report.problems[i].problem) + "}";
    }
    out += "]}\n";
    return out;
}

std::string ReportTable(const Report& report) {
    const std::vector<int> widths = {-18, -8, -19, 8, 7, 5, 7, 9, 9, 12, 7, -8};
    std::string out;
    for (const std::string& folder : report.folders) {
        std::vector<RunFigures> runs;
        for (const RunFigures& run : report.runs) {
            if (run.folder == folder) runs.push_back(run);
        }
        out += "Folder " + ValidUtf8(folder) + "\n";
        out += Row({"Log", "Kind", "Started", "Cycles", "Shutter", "Bench", "First", "MCBF",
                    "MCBF 90%", "Cycle s", "Laplace", "Ended"},
                   widths);
        for (const RunFigures& r : runs) {
            std::string started = IsoLocalText(r.started);
            started[10] = ' ';
            out += Row(
                {r.file, NamesOf(r.kind).json, started, std::to_string(r.cycles),
                 std::to_string(r.shutterFailures), std::to_string(r.benchFaults),
                 r.firstFailureCycle ? std::to_string(*r.firstFailureCycle) : "-", Fixed(r.mcbf),
                 Fixed(r.mcbfLower90), SpreadText(r.cycleSeconds), Fixed(r.laplace, "%.2f"),
                 r.endedByFailure ? "failure"
                 : r.cycles == 0  ? "no rows"
                                  : "stop"},
                widths);
            for (size_t i = 0; i < r.failureModes.size() && i < 3; ++i) {
                const FailureMode& m = r.failureModes[i];
                out += "    " + std::to_string(m.count) + " x " + FailureClassName(m.kind) + ": " +
                       ValidUtf8(m.error) + " (cycles " + std::to_string(m.firstCycle) + ".." +
                       std::to_string(m.lastCycle) + ")\n";
            }
            if (r.failureModes.size() > 3) {
                out += "    ... " + std::to_string(r.failureModes.size() - 3) + " more kinds\n";
            }
        }
        out += TotalLine("Total", Total(runs)) + "\n";
    }
    if (report.folders.size() > 1) out += TotalLine("All folders", Total(report.runs));
    const UnitsAndLots& ul = report.unitsAndLots;
    const bool anyNamed =
        std::any_of(ul.units.begin(), ul.units.end(), [](const UnitFigures& u) { return u.named; });
    if (anyNamed) {
        const std::vector<int> unitWidths = {-20, -10, -8, 5, 10, -20, 6};
        out += "\nUnits\n" +
               Row({"Unit", "Lot", "Kind", "Runs", "Cycles", "State", "Bench"}, unitWidths);
        for (const UnitFigures& u : ul.units) {
            out += Row({Printable(u.unit), Printable(u.lot), NamesOf(u.kind).json,
                        std::to_string(u.runs.size()), std::to_string(u.cycles), UnitStateText(u),
                        std::to_string(u.benchFaults)},
                       unitWidths);
        }
        for (const LotFigures& lot : ul.lots) {
            out += "Lot " + (lot.lot.empty() ? std::string("(none)") : Printable(lot.lot)) + ", " +
                   NamesOf(lot.kind).description + ": " + LotSummary(lot) + "\n";
        }
    }
    if (report.runs.empty()) out += "No logs were found.\n";
    for (const ReportProblem& p : report.problems) out += "Problem: " + ValidUtf8(p.problem) + "\n";
    out +=
        "(Shutter: shutter failures; Bench: bench faults (supply, lines), not counted against "
        "the shutter; Cycle s: median/p99/max seconds per cycle; MCBF: mean cycles between "
        "shutter failures; "
        "Laplace > 0: failures come faster.)\n";
    return out;
}

}  // namespace varnholt
