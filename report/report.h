#pragma once

#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "report/run_figures.h"
#include "report/units.h"
#include "report/words.h"
#include "runlog/plain_file.h"
#include "runlog/run_record.h"

namespace varnholt {

// What a log, its companion and its run record look like, a stat each:
// while they look the same, nothing was written to any of them.
struct RunStamps {
    FileStamp log, moves;
    bool record = false;
    int64_t recordWhen = 0;
    uint64_t recordSize = 0;
    bool operator==(const RunStamps& o) const {
        return log == o.log && moves == o.moves && record == o.record &&
               recordWhen == o.recordWhen && recordSize == o.recordSize;
    }
    bool operator!=(const RunStamps& o) const { return !(*this == o); }
};

// One log followed as it grows: its reader, its companion's, its figures.
class RunFile {
public:
    RunFile(std::string folder, std::string path, Spreads spreads = Spreads::Worked);
    // Reads what was appended since the last call; false with problem when
    // the file is not (or no longer) a readable log.
    bool Refresh();
    // Worked out again only when the log has grown since.
    RunFigures Figures() const;
    // The same, shared: unchanged, it is the very same object as last time.
    std::shared_ptr<const RunFigures> SharedFigures() const;
    uint64_t BytesRead() const { return bytesRead_; }
    // Goes up whenever what was read of the log, its companion or its record
    // changed: figures built from it need working out again.
    uint64_t Version() const { return version_; }

    // Lets go of the reader and the series, keeping the figures and what the
    // files looked like: a folder of 20,000 finished logs is watched for the
    // price of their figures. The next Refresh that finds a change, or one
    // after Warm, reads the log again from its start.
    void Compact();
    void Warm();
    bool Compacted() const { return !reading_; }
    // A later look found more than the first: a log being written.
    bool Grew() const { return grew_; }
    // The log's, its companion's and its record's stamps when last read, and
    // as they are now: a watcher that let go of a finished log keeps the
    // first and reads the log again only when the second differs.
    RunStamps Stamps() const;
    static RunStamps StampsNow(const std::string& path);

    const std::string& path() const { return path_; }
    // The end of its path: 20,000 logs watched hold their names once.
    std::string_view name() const { return std::string_view(path_).substr(nameAt_); }
    // Empty while compacted.
    const RunAccumulator& series() const;
    std::string problem;
    // Why the run record beside the log was not read, or empty.
    std::string recordProblem;

private:
    struct RecordStamp {
        bool present = false;
        int64_t when = 0;
        uint64_t size = 0;
        bool operator==(const RecordStamp& o) const {
            return present == o.present && when == o.when && size == o.size;
        }
    };
    RecordStamp RecordStampNow() const;
    void ReadRecord();

    std::string folder_, path_;
    uint32_t nameAt_;
    Spreads spreads_;
    // What reading the log holds; gone while compacted.
    struct Reading {
        LogReader reader;
        MovesReader moves;
        RunAccumulator run;
        bool started = false;
        std::optional<RunRecord> record;
    };
    std::unique_ptr<Reading> reading_ = std::make_unique<Reading>();
    mutable std::shared_ptr<const RunFigures> shared_;
    mutable uint64_t sharedVersion_ = 0;
    uint64_t bytesRead_ = 0;
    // The log and its companion as they looked when last read: unchanged,
    // nothing is opened again.
    FileStamp logStamp_, movesStamp_;
    bool lastOk_ = false, grew_ = false;
    uint64_t version_ = 0;
    // The record's size and time when last read: it is read again only when
    // they change.
    bool recordSeen_ = false;
    RecordStamp recordStamp_;
};

// What the run record says, taken into the run's figures, and where it
// disagrees with the log (the log is believed).
void TakeRecord(const RunRecord& record, RunFigures& figures);

struct ReportProblem {
    std::string file, problem;  // the path as formed from the arguments; a sentence
};

struct Report {
    std::vector<std::string> folders;  // in the order given, each once
    std::vector<RunFigures> runs;      // by folder, cycle logs before power-cut logs, by number
    std::vector<ReportProblem> problems;
    std::vector<RunAccumulator> series;  // beside runs, when asked for (for charts)
    UnitsAndLots unitsAndLots;
    double assumedBeta = 2.0;  // for the Weibayes bound
};

// The entries of a folder with a log's name, in report order: cycle logs
// before power-cut logs, each by number. Other names are passed over; an
// entry that is not a plain file (a FIFO, a folder) is left for the reader to
// name as a problem.
std::vector<std::string> LogFilesIn(const std::string& folder,
                                    std::vector<ReportProblem>& problems);

// What a run's reader found wrong, in sentences for the operator: lines that
// are no rows, rows out of their place, a clock set back, move times that are
// not the log's.
std::vector<std::string> RunNotes(const std::string& path, const RunFigures& figures);

// The logs of one folder seen so far, by test and number.
using LogNumbers = std::map<std::pair<TestLogKind, int64_t>, std::string>;
// Every sentence about one run, added to problems: its notes, a run record
// that could not be read, and a log that carries the number of one seen
// before in its folder (numbered: the folder's logs so far, in report order).
// The sentence for a log carrying the number of one before it, first.
std::string SameNumberProblem(const std::string& path, const std::string& first);
void AddRunProblems(const std::string& path, const RunFigures& figures,
                    const std::string& recordProblem, LogNumbers& numbered,
                    std::vector<ReportProblem>& problems);

// Each path a folder (its logs) or a file (that log). A log named more than
// once (a folder and a file in it, two spellings of one folder) is read once.
// assumedBeta: the Weibull shape the Weibayes bound assumes.
Report BuildReport(const std::vector<std::string>& paths, bool keepSeries = false,
                   double assumedBeta = 2.0);

std::string ReportJson(const Report& report);
// One lot as an entry of ReportJson's "lots".
std::string LotJsonText(const LotFigures& lot);
// Whether the unit's life has ended, from the logs of folder whose records
// name it: "SN-0003 failed at 31,000 cycles" (and the test kind when it ran
// both), or empty while it lives or was never tested. For the window, when
// it proposes or is given a unit: a re-test adds nothing to that life.
std::string EndedLifeOf(const std::string& folder, const std::string& unit);
// "failed at 790001", "running", "suspended".
std::string UnitStateText(const UnitFigures& unit);
// How a run ended, in the table's words: the record's word, "running or
// killed" while its record has none, "killed?" when its log has not grown
// for an hour since; for a log without a record, what its rows show.
std::string EndedText(const RunFigures& run, int64_t nowUnix);
// A lot's figures in a few lines of words a manager reads: "B10 life 15,585
// cycles; with 90 % confidence at least 5,960".
std::string LotSummary(const LotFigures& lot, const Symbols& symbols = kUnicode);

// A zero-failure demonstration over one lot: each unit must pass cyclesEach
// without a shutter failure.
struct LotPlan {
    double cyclesEach = 0;
    int64_t passed = 0, onTheWay = 0, failed = 0;
    int64_t least = -1;  // the fewest cycles of a unit on the way, -1 for none
    bool Met() const { return failed == 0 && onTheWay == 0 && passed > 0; }
    bool Broken() const { return failed > 0; }
};
LotPlan PlanFor(const LotFigures& lot, const std::vector<UnitFigures>& units, double target,
                double reliability, double confidence, double beta);
// "Plan: each of its 8 units must pass ... : still open."
std::string PlanText(const LotPlan& plan, int64_t units);

// Totals of each test kind apart: a power-cut cycle is no cycle-test cycle.
std::vector<std::pair<TestLogKind, TotalFigures>> TotalsByKind(
    const std::vector<const RunFigures*>& runs);

// The readable table: the lots first, a short block each, then the runs
// grouped by folder with their totals per test kind, within 100 columns.
std::string ReportTable(const Report& report, const Symbols& symbols = kUnicode);

}  // namespace varnholt
