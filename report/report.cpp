#include "report/report.h"

#include <algorithm>
#include <atomic>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <functional>
#include <map>
#include <set>
#include <thread>
#include <utility>

#include "runlog/json.h"
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

std::string MovesPathOf(const std::string& logPath) {
    const fs::path path(logPath);
    return Joined(path.parent_path().string(), MovesFileName(path.filename().string()));
}

// The most rows a log of this many bytes can hold: row n is at least its
// Count's digits and 21 bytes ("\tSUCCESS\t1:00:00 AM\t\n"), so a million-row
// log is given room for some 1.16 million, not the 1.4 million of a flat 24
// bytes a row: a megabyte less for the window that follows it.
size_t MostRowsIn(uint64_t bytes) {
    uint64_t rows = 0, digits = 1, firstOfLength = 1;
    while (true) {
        const uint64_t each = 21 + digits;
        const uint64_t ofLength = 9 * firstOfLength;  // Counts with this many digits
        if (bytes < each * ofLength) return static_cast<size_t>(rows + bytes / each);
        bytes -= each * ofLength;
        rows += ofLength;
        ++digits;
        firstOfLength *= 10;
    }
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

Json OrNull(const std::optional<double>& value) {
    return value ? JsonFigure(*value) : Json(nullptr);
}
Json OrNull(const std::optional<int64_t>& value) { return value ? Json(*value) : Json(nullptr); }
Json Time(const std::optional<int64_t>& when) {
    return when ? Json(IsoLocalText(*when)) : Json(nullptr);
}
Json SpreadJson(const std::optional<Spread>& s) {
    if (!s) return nullptr;
    return JsonObject({{"median", s->median}, {"p99", s->p99}, {"max", s->max}});
}

Json UnitJson(const UnitFigures& u) {
    Json runs = Json::array();
    for (const UnitRun& run : u.runs)
        runs.push_back(JsonObject({{"folder", run.folder}, {"file", run.file}}));
    return JsonObject({{"unit", u.unit},
                       {"named", u.named},
                       {"lot", u.lot},
                       {"kind", NamesOf(u.kind).json},
                       {"runs", std::move(runs)},
                       {"cycles", u.cycles},
                       {"failed", u.failed},
                       {"cycles_to_failure", OrNull(u.cyclesToFailure)},
                       {"bench_faults", u.benchFaults},
                       {"running", u.running}});
}

Json LotJson(const LotFigures& lot) {
    Json weibull = nullptr;
    if (lot.weibull) {
        const WeibullFit& w = *lot.weibull;
        // A bound the likelihood does not close is no figure: null.
        weibull = JsonObject({{"beta", JsonFigure(w.beta)},
                              {"eta", JsonFigure(w.eta)},
                              {"beta_90", {JsonFigure(w.betaLow90), JsonFigure(w.betaHigh90)}},
                              {"eta_90", {JsonFigure(w.etaLow90), JsonFigure(w.etaHigh90)}},
                              {"b1", JsonFigure(w.b1)},
                              {"b10", JsonFigure(w.b10)},
                              {"b50", JsonFigure(w.b50)},
                              {"b10_lower_90", JsonFigure(w.b10Lower90)}});
    }
    Json weibayes = nullptr;
    if (lot.weibayes) {
        weibayes = JsonObject({{"beta_assumed", JsonFigure(lot.weibayes->betaAssumed)},
                               {"eta_lower_90", JsonFigure(lot.weibayes->etaLower90)},
                               {"b10_lower_90", JsonFigure(lot.weibayes->b10Lower90)}});
    }
    return JsonObject(
        {{"lot", lot.lot},
         {"kind", NamesOf(lot.kind).json},
         {"units", lot.units},
         {"failures", lot.failures},
         {"suspensions", lot.suspensions},
         {"weibull", std::move(weibull)},
         {"weibull_note", lot.weibull ? Json(nullptr) : Json(lot.weibullNote)},
         {"weibayes", std::move(weibayes)},
         {"weibayes_note", lot.weibayesNote.empty() ? Json(nullptr) : Json(lot.weibayesNote)}});
}

Json RunJson(const RunFigures& r) {
    Json modes = Json::array();
    for (const FailureMode& m : r.failureModes) {
        modes.push_back(JsonObject({{"error", m.error},
                                    {"count", m.count},
                                    {"first_cycle", m.firstCycle},
                                    {"last_cycle", m.lastCycle},
                                    {"class", FailureClassName(m.kind)}}));
    }
    // A log without a record cannot say how its run ended.
    const Json ended = !r.hasRecord ? Json("unknown") : r.ended ? Json(*r.ended) : Json(nullptr);
    return JsonObject({{"file", r.file},
                       {"folder", r.folder},
                       {"kind", NamesOf(r.kind).json},
                       {"started", Time(r.started)},
                       {"unit", r.hasRecord ? Json(r.unit) : Json(nullptr)},
                       {"lot", r.hasRecord ? Json(r.lot) : Json(nullptr)},
                       {"last_row", Time(r.lastRow)},
                       {"cycles", r.cycles},
                       {"failures", r.failures},
                       {"shutter_failures", r.shutterFailures},
                       {"bench_faults", r.benchFaults},
                       {"ended_by_failure", r.endedByFailure},
                       {"first_failure_cycle", OrNull(r.firstFailureCycle)},
                       {"mcbf", OrNull(r.mcbf)},
                       {"mcbf_lower_90", JsonFigure(r.mcbfLower90)},
                       {"cycle_seconds", SpreadJson(r.cycleSeconds)},
                       {"laplace", OrNull(r.laplace)},
                       {"failure_modes", std::move(modes)},
                       {"open_ms", SpreadJson(r.openMs)},
                       {"close_ms", SpreadJson(r.closeMs)},
                       {"bad_lines", r.badLines},
                       {"partial_last_line", r.partialLastLine},
                       {"ended", ended}});
}

// job(i) for each i below n, on every core (at most 8), each i once.
void OnEveryCore(size_t n, const std::function<void(size_t)>& job) {
    std::atomic<size_t> next{0};
    const auto work = [&] {
        for (size_t i; (i = next++) < n;) job(i);
    };
    const size_t workers =
        std::min<size_t>(n, std::clamp<unsigned>(std::thread::hardware_concurrency(), 1, 8));
    std::vector<std::thread> threads;
    for (size_t w = 1; w < workers; ++w) threads.emplace_back(work);
    work();
    for (std::thread& t : threads) t.join();
}

// --- table ----------------------------------------------------------------

std::string Row(const std::vector<std::string>& cells, const std::vector<int>& widths) {
    std::string line;
    for (size_t i = 0; i < cells.size(); ++i) {
        std::string cell = cells[i];
        const int width = widths[i];
        if (static_cast<int>(Utf8Length(cell)) < std::abs(width)) {
            const std::string pad(static_cast<size_t>(std::abs(width)) - Utf8Length(cell), ' ');
            cell = width < 0 ? cell + pad : pad + cell;
        }
        line += (i == 0 ? "" : "  ") + cell;
    }
    while (!line.empty() && line.back() == ' ') line.pop_back();
    return line + "\n";
}

std::string TotalLine(const char* label, const TotalFigures& t) {
    return std::string(label) + ": " + Counted(t.runs, "run", "runs") + ", " +
           Counted(t.cycles, "cycle", "cycles") + ", " +
           Counted(t.shutterFailures, "shutter failure", "shutter failures") + ", " +
           Counted(t.benchFaults, "bench fault", "bench faults") + ";\n  MCBF " +
           (t.mcbf ? CyclesText(*t.mcbf) : std::string("-")) + " cycles, at least " +
           CyclesText(t.mcbfLower90) + " (90 %)\n";
}

// At most n characters, a cut said by "...".
std::string Clipped(const std::string& text, size_t n) {
    if (Utf8Length(text) <= n) return text;
    std::string kept = Utf8Prefix(text, n - 3);
    while (!kept.empty() && kept.back() == ' ') kept.pop_back();
    return kept + "...";
}

// Names in the table's cells.
std::string Printable(const std::string& name) { return PrintableName(name, 60); }

}  // namespace

std::string UnitStateText(const UnitFigures& u) {
    if (u.failed) return "failed at " + Thousands(*u.cyclesToFailure);
    return u.running ? "running" : "suspended";
}

std::string LotSummary(const LotFigures& lot, const Symbols& symbols) {
    const int64_t running = lot.running;
    std::string out = Counted(lot.units, "unit", "units") + " tested: " + Thousands(lot.failures) +
                      " failed, " + Thousands(lot.suspensions) + " suspended";
    if (running > 0) out += " (" + Thousands(running) + " of them running)";
    out += ".\n";
    if (lot.weibull) {
        const WeibullFit& w = *lot.weibull;
        out += std::string("Weibull ") + symbols.beta + " " + ShapeText(w.beta) +
               " (90 %: " + ShapeText(w.betaLow90) + " to " + ShapeText(w.betaHigh90) + "), " +
               symbols.eta + " " + CyclesText(w.eta) + " cycles (90 %: " + CyclesText(w.etaLow90) +
               " to " + CyclesText(w.etaHigh90) + ").\n";
        out += "B10 life " + CyclesText(w.b10) + " cycles; with 90 % confidence at least " +
               CyclesText(w.b10Lower90) + ".\n";
        if (!std::isfinite(w.etaHigh90)) {
            out += std::string("The upper bound of ") + symbols.eta +
                   " is not finite: too few failures.\n";
        }
    } else {
        out += "No Weibull fit: " + lot.weibullNote + ".\n";
    }
    if (lot.weibayes) {
        out += std::string("Weibayes (") + symbols.beta + " " +
               ShapeText(lot.weibayes->betaAssumed) + " assumed): " + symbols.eta + " at least " +
               CyclesText(lot.weibayes->etaLower90) + ", B10 at least " +
               CyclesText(lot.weibayes->b10Lower90) + " cycles (90 %).\n";
    }
    out.pop_back();
    return out;
}

LotPlan PlanFor(const LotFigures& lot, const std::vector<UnitFigures>& units, double target,
                double reliability, double confidence, double beta) {
    LotPlan plan;
    plan.cyclesEach = std::ceil(
        ZeroFailureCycles(target, reliability, confidence, beta, static_cast<double>(lot.units)));
    for (const UnitFigures& u : units) {
        if (u.lot != lot.lot || u.kind != lot.kind) continue;
        if (u.failed) {
            ++plan.failed;
        } else if (static_cast<double>(u.cycles) >= plan.cyclesEach) {
            ++plan.passed;
        } else {
            ++plan.onTheWay;
            if (plan.least < 0 || u.cycles < plan.least) plan.least = u.cycles;
        }
    }
    return plan;
}

std::string PlanText(const LotPlan& plan, int64_t units) {
    if (!std::isfinite(plan.cyclesEach)) {
        return "Plan: no number of cycles each of " + Counted(units, "unit", "units") +
               " can pass shows it; assume a larger shape or test more units.";
    }
    std::string text = "Plan: each of its " + Counted(units, "unit", "units") + " must pass " +
                       CyclesText(plan.cyclesEach) + " cycles without a shutter failure; " +
                       Thousands(plan.passed) + " passed, " + Thousands(plan.onTheWay) +
                       " on the way";
    if (plan.least >= 0) text += " (the least at " + Thousands(plan.least) + ")";
    text += ", " + Thousands(plan.failed) + " failed: ";
    text += plan.Broken() ? "broken, a failure breaks a zero-failure plan."
            : plan.Met()  ? "met."
                          : "still open.";
    return text;
}

std::vector<std::pair<TestLogKind, TotalFigures>> TotalsByKind(
    const std::vector<const RunFigures*>& runs) {
    std::vector<std::pair<TestLogKind, TotalFigures>> totals;
    for (const TestLogKind kind : {TestLogKind::CycleTest, TestLogKind::PowerCutTest}) {
        std::vector<const RunFigures*> of;
        for (const RunFigures* r : runs) {
            if (r->kind == kind) of.push_back(r);
        }
        if (!of.empty()) totals.emplace_back(kind, Total(of));
    }
    return totals;
}

RunFile::RunFile(std::string folder, std::string path, Spreads spreads)
    : folder_(std::move(folder)),
      path_(std::move(path)),
      nameAt_(
          static_cast<uint32_t>(fs::path(path_).filename().empty()
                                    ? path_.size()
                                    : path_.size() - fs::path(path_).filename().string().size())),
      spreads_(spreads) {}

bool RunFile::Refresh() {
    // A folder of thousands of logs is looked at again and again: a log and
    // companion that look as they did are not opened at all.
    const std::string movesPath = MovesPathOf(path_);
    FileStamp log, moves;
    const bool seen = StampOf(path_, log);
    const bool movesSeen = StampOf(movesPath, moves);
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
    // Room for as many rows as the file can hold, on the first read (later,
    // the vectors grow as vectors do; reserving on each would copy them on
    // each).
    const size_t expected = r.reader.offset == 0 ? MostRowsIn(log.size) : 0;
    // A companion of megabytes (a long run's move times) is read beside the
    // log, on a thread of its own, rather than after it; a small one is not
    // worth a thread.
    std::vector<MoveRow> moveRows;
    constexpr uint64_t kMovesBeside = 1 << 20;
    std::thread movesReading;
    if (moves.size > r.moves.offset + kMovesBeside) {
        movesReading = std::thread([&] { r.moves.ReadAppended(movesPath, moveRows); });
    }
    const bool ok = r.reader.ReadAppended(path_, [&r, expected](const LogRow& row) {
        if (!r.started) {
            r.run.Start(r.reader);
            r.run.Reserve(expected);
            r.started = true;
        }
        r.run.Add(row);
    });
    if (movesReading.joinable()) movesReading.join();
    bytesRead_ = r.reader.offset;
    if (!ok) {
        // What was read of the companion is read again with the log.
        if (!moveRows.empty()) r.moves = MovesReader{};
        problem = NotRead(path_, r.reader.problem);
        return false;
    }
    if (!r.started) {  // a header without rows yet
        r.run.Start(r.reader);
        r.started = true;
    }
    problem.clear();
    ReadRecord();
    // No companion a moment ago (most logs of earlier versions): none to open.
    if (moveRows.empty() && (movesSeen || r.moves.offset > 0)) {
        r.moves.ReadAppended(movesPath, moveRows);
    }
    r.run.AddMoves(std::move(moveRows));
    lastOk_ = seen;
    return true;
}

RunStamps RunFile::Stamps() const {
    return {logStamp_, movesStamp_, recordStamp_.present, recordStamp_.when, recordStamp_.size};
}

RunStamps RunFile::StampsNow(const std::string& path) {
    RunStamps now;
    StampOf(path, now.log);
    StampOf(MovesPathOf(path), now.moves);
    FileStamp record;
    now.record = StampOf(RunRecordPathOf(path), record);
    now.recordWhen = now.record ? record.modified : 0;
    now.recordSize = now.record ? record.size : 0;
    return now;
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
    FileStamp stamp;
    RecordStamp now;
    // Its path is made for each look rather than kept: 20,000 logs watched.
    now.present = StampOf(RunRecordPathOf(path_), stamp);
    now.when = now.present ? stamp.modified : 0;
    now.size = now.present ? stamp.size : 0;
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
        RunFigures f = r.run.Figures(r.reader, spreads_);
        f.file = name();
        f.folder = folder_;
        f.movesBadLines = r.moves.badLines;
        f.logModifiedUnix = logStamp_.modifiedUnix;
        if (r.record) TakeRecord(*r.record, f);
        shared_ = std::make_shared<const RunFigures>(std::move(f));
        sharedVersion_ = version_;
    }
    return shared_ ? shared_ : std::make_shared<const RunFigures>();
}

RunFigures RunFile::Figures() const { return *SharedFigures(); }

void TakeRecord(const RunRecord& record, RunFigures& f) {
    f.hasRecord = true;
    f.unit = record.unit;
    f.lot = record.lot;
    f.ended = record.ended;
    f.recordEnded = record.ended.has_value();
    f.recordNotes = record.notes;
    // No time zone is further than 14 hours from UTC: a record further from
    // its header is wrong about the day, and the runs are placed by the log.
    constexpr int64_t kFurthestZone = 14 * 3600;
    f.startedUtc = f.started - int64_t{record.utcOffsetMinutes} * 60;
    const int64_t apart = record.startedUtc - *f.startedUtc;
    if (apart > kFurthestZone || apart < -kFurthestZone) {
        f.recordNotes.push_back("its \"started_utc\" " + UtcText(record.startedUtc) + " is " +
                                std::to_string((apart < 0 ? -apart : apart) / 3600) +
                                " hours from the log's start " + IsoLocalText(f.started) +
                                " (local), further than any time zone; the log's start was taken");
    }
    const std::string kind = NamesOf(f.kind).json;
    if (record.kind != kind) {
        f.recordNotes.push_back("its \"kind\" \"" + record.kind + "\" is not the log's (\"" + kind +
                                "\"); the log's was taken");
    }
    if (record.lastCount > f.cycles) {
        f.recordNotes.push_back("its \"last_count\" " + std::to_string(record.lastCount) +
                                " is beyond the log's " + std::to_string(f.cycles) +
                                " rows; the log's rows were counted");
    }
}

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

std::string SameNumberProblem(const std::string& path, const std::string& first) {
    return path + " carries the same number as " + first +
           " (a copy?); both were counted, so their cycles may be counted twice: move the copy "
           "out of the bench folder.";
}

void AddRunProblems(const std::string& path, const RunFigures& figures,
                    const std::string& recordProblem, LogNumbers& numbered,
                    std::vector<ReportProblem>& problems) {
    const auto [first, fresh] =
        numbered.try_emplace({figures.kind, TestLogNumber(figures.file)}, path);
    if (!fresh) {
        problems.push_back({path, SameNumberProblem(path, first->second)});
    }
    for (std::string& note : RunNotes(path, figures)) problems.push_back({path, std::move(note)});
    if (!recordProblem.empty()) {
        problems.push_back({path, "The run record " + RunRecordName(figures.file) + " beside " +
                                      path + " was not read: " + recordProblem +
                                      "; the log was read as if it had none."});
    }
    for (const std::string& note : figures.recordNotes) {
        problems.push_back({path, "The run record " + RunRecordName(figures.file) + " beside " +
                                      path + " is wrong: " + note + "."});
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
    // Each path looked at, and each folder listed, on every core: 100
    // folders of 100 logs are 10,000 names and as many looks at a file.
    struct Named {
        fs::file_type type = fs::file_type::none;
        std::vector<std::string> files;
        std::vector<ReportProblem> problems;
    };
    std::vector<Named> named(paths.size());
    OnEveryCore(paths.size(), [&](size_t i) {
        std::error_code error;
        named[i].type = fs::status(paths[i], error).type();
        if (named[i].type == fs::file_type::directory) {
            named[i].files = LogFilesIn(paths[i], named[i].problems);
        }
    });
    for (size_t i = 0; i < paths.size(); ++i) {
        const std::string& path = paths[i];
        if (named[i].type == fs::file_type::not_found) {
            report.problems.push_back({path, path + " does not exist; give a bench folder or a "
                                                    "log file."});
        } else if (named[i].type == fs::file_type::directory) {
            auto& files = group(path);
            for (std::string& file : named[i].files) files.push_back(std::move(file));
            for (ReportProblem& problem : named[i].problems) {
                report.problems.push_back(std::move(problem));
            }
        } else {
            const std::string parent = fs::path(path).parent_path().string();
            group(parent.empty() ? "." : parent).push_back(path);
        }
    }
    // Each file once, by the name it was first given.
    std::vector<std::pair<std::string*, std::optional<FileId>>> identities;
    for (Group& g : groups) {
        for (std::string& path : g.files) identities.push_back({&path, std::nullopt});
    }
    OnEveryCore(identities.size(), [&](size_t i) {
        FileId id;
        if (IdentityOf(*identities[i].first, id)) identities[i].second = id;
    });
    std::set<FileId> seen;
    size_t at = 0;
    for (Group& g : groups) {
        std::vector<std::string> once;
        for (std::string& path : g.files) {
            const std::optional<FileId>& id = identities[at++].second;
            if (!id || seen.insert(*id).second) once.push_back(std::move(path));
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
    OnEveryCore(reads.size(), [&](size_t i) {
        Read& r = reads[i];
        RunFile run(*r.folder, *r.path);
        r.ok = run.Refresh();
        if (!r.ok) {
            r.problem = run.problem;
            return;
        }
        r.figures = run.Figures();
        r.recordProblem = run.recordProblem;
        if (keepSeries) r.series = run.series();
    });

    at = 0;
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

std::string LotJsonText(const LotFigures& lot) { return JsonText(LotJson(lot)); }

std::string ReportJson(const Report& report) {
    // Entries are made and written a block at a time, each block on every
    // core, and let go: a report of 10,000 runs never holds them all as JSON
    // values, nor its text twice. One entry a line.
    std::string out = "{\"runs\": [";
    const auto entries = [&out](const auto& items, const auto& toJson) {
        constexpr size_t kBlock = 512;
        std::vector<std::string> texts;
        for (size_t first = 0; first < items.size(); first += kBlock) {
            texts.assign(std::min(kBlock, items.size() - first), std::string());
            OnEveryCore(texts.size(),
                        [&](size_t i) { texts[i] = JsonText(toJson(items[first + i])); });
            for (size_t i = 0; i < texts.size(); ++i) {
                out += first + i == 0 ? "\n  " : ",\n  ";
                out += texts[i];
            }
        }
    };
    entries(report.runs, RunJson);
    const auto totalJson = [](const TotalFigures& total) {
        return JsonObject({{"runs", total.runs},
                           {"cycles", total.cycles},
                           {"failures", total.failures},
                           {"shutter_failures", total.shutterFailures},
                           {"bench_faults", total.benchFaults},
                           {"mcbf", OrNull(total.mcbf)},
                           {"mcbf_lower_90", JsonFigure(total.mcbfLower90)}});
    };
    // "total" over every run stays for the readers that take it; "totals"
    // keeps each test kind apart.
    std::vector<const RunFigures*> all;
    for (const RunFigures& r : report.runs) all.push_back(&r);
    Json totals = Json::object();
    for (const auto& [kind, total] : TotalsByKind(all))
        totals[NamesOf(kind).json] = totalJson(total);
    out += "],\n \"total\": " + JsonText(totalJson(Total(report.runs))) +
           ",\n \"totals\": " + JsonText(totals) + ",\n \"units\": [";
    entries(report.unitsAndLots.units, UnitJson);
    out += "],\n \"lots\": [";
    entries(report.unitsAndLots.lots, LotJson);
    out += "],\n \"problems\": [";
    entries(report.problems, [](const ReportProblem& p) {
        return JsonObject({{"file", p.file}, {"problem", p.problem}});
    });
    out += "]}\n";
    return out;
}

std::string EndedText(const RunFigures& r, int64_t now) {
    if (!r.hasRecord) {
        return r.endedByFailure ? "failure" : r.cycles == 0 ? "no rows" : "stop";
    }
    if (r.ended) return *r.ended;
    // A run that goes on writes a row every few seconds; a log quiet for an
    // hour under a record that says it runs lost its program.
    constexpr int64_t kQuiet = 3600;
    return now - r.logModifiedUnix > kQuiet ? "killed?" : "running or killed";
}

std::string EndedLifeOf(const std::string& folder, const std::string& unit) {
    if (unit.empty()) return {};
    std::vector<std::string> logs;
    for (const RunRecord& record : RunRecordsIn(folder)) {
        if (record.unit == unit) logs.push_back(Joined(folder, record.log));
    }
    if (logs.empty()) return {};
    const Report report = BuildReport(logs);
    std::vector<std::string> ended;
    size_t lives = 0;
    for (const UnitFigures& u : report.unitsAndLots.units) {
        if (!u.named || u.unit != unit) continue;
        ++lives;
        if (u.failed) {
            ended.push_back("failed at " + Thousands(*u.cyclesToFailure) + " cycles" +
                            std::string(" in the ") + NamesOf(u.kind).json + " test");
        }
    }
    if (ended.empty()) return {};
    std::string text = PrintableName(unit, 64) + " ";
    for (size_t i = 0; i < ended.size(); ++i) {
        std::string part = ended[i];
        // One kind tested: the kind goes without saying.
        if (lives == 1) part = part.substr(0, part.find(" in the "));
        text += (i == 0 ? "" : " and ") + part;
    }
    return text;
}

std::string ReportTable(const Report& report, const Symbols& symbols) {
    const int64_t now = static_cast<int64_t>(std::time(nullptr));
    std::string out;
    const UnitsAndLots& ul = report.unitsAndLots;
    // The lots first: their life is what the morning's reader came for.
    for (const LotFigures& lot : ul.lots) {
        if (lot.namedUnits == 0) continue;
        out += "Lot " + (lot.lot.empty() ? std::string("(none)") : Printable(lot.lot)) + ", " +
               NamesOf(lot.kind).description + "\n";
        std::string summary = LotSummary(lot, symbols);
        for (size_t at = 0; at != std::string::npos;) {
            const size_t end = summary.find('\n', at);
            out += "  " + summary.substr(at, end == std::string::npos ? end : end - at) + "\n";
            at = end == std::string::npos ? end : end + 1;
        }
        out += "\n";
    }
    // 100 columns: numbers are right-aligned, so one space parts them.
    const std::vector<int> widths = {-18, -10, -16, 11, 4, 5, 9, 9, -12};
    const auto row = [&](const std::vector<std::string>& cells) {
        std::string line;
        for (size_t i = 0; i < cells.size(); ++i) {
            std::string cell = cells[i];
            const size_t width = static_cast<size_t>(std::abs(widths[i]));
            // Names past their column are cut, so the figures stay in theirs.
            if (widths[i] < 0 && i + 1 < cells.size() && Utf8Length(cell) > width) {
                cell = Utf8Prefix(cell, width - 1) + "~";
            }
            const size_t length = Utf8Length(cell);
            const std::string pad(length < width ? width - length : 0, ' ');
            cell = widths[i] < 0 ? cell + pad : pad + cell;
            line += (i == 0 ? "" : i == cells.size() - 1 ? "  " : " ") + cell;
        }
        while (!line.empty() && line.back() == ' ') line.pop_back();
        return line + "\n";
    };
    for (const std::string& folder : report.folders) {
        std::vector<const RunFigures*> runs;
        for (const RunFigures& run : report.runs) {
            if (run.folder == folder) runs.push_back(&run);
        }
        out += "Folder " + ValidUtf8(folder) + "\n";
        out += row({"Log", "Unit", "Started", "Cycles", "Shut", "Bench", "MCBF",
                    std::string("MCBF") + symbols.atLeast, "Ended"});
        out += std::string(
                   "  (Shut: shutter failures; Bench: bench faults, not the shutter's; "
                   "MCBF: mean cycles\n   between shutter failures; MCBF") +
               symbols.atLeast + ": its 90 % lower bound)\n";
        for (const RunFigures* r : runs) {
            std::string ended = EndedText(*r, now);
            // A live run and one killed within the hour look alike.
            if (ended == "running or killed") ended = "running?";
            out +=
                row({r->file, r->unit.empty() ? "-" : Printable(r->unit), DateText(r->started),
                     Thousands(r->cycles), Thousands(r->shutterFailures), Thousands(r->benchFaults),
                     r->mcbf ? CyclesText(*r->mcbf) : "-", CyclesText(r->mcbfLower90), ended});
            for (size_t i = 0; i < r->failureModes.size() && i < 3; ++i) {
                const FailureMode& m = r->failureModes[i];
                out += "    " + Thousands(m.count) + " x " + FailureClassName(m.kind) + ": " +
                       Clipped(ValidUtf8(m.error), 50) + " (cycles " + Thousands(m.firstCycle) +
                       " to " + Thousands(m.lastCycle) + ")\n";
            }
            if (r->failureModes.size() > 3) {
                out += "    ... " +
                       Counted(static_cast<int64_t>(r->failureModes.size() - 3), "more kind",
                               "more kinds") +
                       "\n";
            }
        }
        for (const auto& [kind, total] : TotalsByKind(runs)) {
            out += TotalLine((std::string("Total, ") + NamesOf(kind).description).c_str(), total);
        }
        out += "\n";
    }
    if (report.folders.size() > 1) {
        std::vector<const RunFigures*> all;
        for (const RunFigures& r : report.runs) all.push_back(&r);
        for (const auto& [kind, total] : TotalsByKind(all)) {
            out += TotalLine((std::string("All folders, ") + NamesOf(kind).description).c_str(),
                             total);
        }
    }
    const bool anyNamed =
        std::any_of(ul.units.begin(), ul.units.end(), [](const UnitFigures& u) { return u.named; });
    if (anyNamed) {
        const std::vector<int> unitWidths = {-20, -12, -8, 4, 11, -22, 5};
        out += "Units\n" +
               Row({"Unit", "Lot", "Kind", "Runs", "Cycles", "State", "Bench"}, unitWidths);
        for (const UnitFigures& u : ul.units) {
            out += Row({Utf8Prefix(Printable(u.unit), 20), Utf8Prefix(Printable(u.lot), 12),
                        NamesOf(u.kind).json, Thousands(static_cast<int64_t>(u.runs.size())),
                        Thousands(u.cycles), UnitStateText(u), Thousands(u.benchFaults)},
                       unitWidths);
        }
        out += "\n";
    }
    if (report.runs.empty()) out += "No logs were found.\n";
    for (const ReportProblem& p : report.problems) out += "Problem: " + ValidUtf8(p.problem) + "\n";
    if (!report.runs.empty()) {
        out += std::string(
            "(Laplace trend, cycle and move times: varnholt-report --json or "
            "--pdf FILE.)\n");
    }
    return out;
}

}  // namespace varnholt
