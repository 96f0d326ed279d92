#pragma once

#include <climits>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "runlog/failure_class.h"
#include "runlog/log_reader.h"
#include "runlog/moves_reader.h"

namespace varnholt {

// Median and 99th percentile by nearest rank (the value at rank ceil(q n) of
// the n sorted values), and the largest.
struct Spread {
    int64_t median = 0, p99 = 0, max = 0;
};
// The values are seconds or milliseconds, kept in 32 bits.
std::optional<Spread> SpreadOf(const std::vector<int32_t>& values);

struct FailureMode {
    std::string error;  // as logged, escapes kept
    int64_t count = 0, firstCycle = 0, lastCycle = 0;
    FailureClass kind = FailureClass::Shutter;
};

// One run's figures, as the report's JSON defines them.
struct RunFigures {
    std::string file, folder;
    TestLogKind kind = TestLogKind::CycleTest;
    int64_t started = 0;               // LocalSeconds
    std::optional<int64_t> lastRow;    // LocalSeconds
    int64_t cycles = 0, failures = 0;  // failures of either class
    int64_t shutterFailures = 0, benchFaults = 0;
    bool endedByFailure = false;  // the last row is a FAILURE row
    bool partialLastLine = false;
    // From the run record beside the log, when it has a readable one.
    bool hasRecord = false, recordEnded = false;
    // The first shutter failure's Count; the MCBF, its bound and the Laplace
    // trend count shutter failures only.
    std::optional<int64_t> firstFailureCycle;
    int64_t benchFaultsBeforeFirstFailure = 0;
    std::optional<double> mcbf;
    double mcbfLower90 = 0;
    std::optional<Spread> cycleSeconds, openMs, closeMs;
    std::optional<double> laplace;
    std::vector<FailureMode> failureModes;
    int64_t badLines = 0;
    int64_t firstBadLine = 0, outOfSequence = 0;  // of the bad lines: rows out of their place
    int64_t movesLeftOut = 0;   // companion rows not of this log's rows, or not a time a move takes
    int64_t movesBadLines = 0;  // companion lines that are no rows
    int64_t timeWentBack = 0;   // rows read a day on after a small step back
    int64_t firstTimeWentBackLine = 0;
    std::string unit, lot;  // from the run record
    // The start in UTC: the header's local time placed with the record's
    // offset (the log is believed over a record that disagrees).
    std::optional<int64_t> startedUtc;
    // How the record says the run ended: null while it runs or after the
    // program was killed, else its word ("failure", "stopped", ...).
    std::optional<std::string> ended;
    // Where the record and its log disagree, or what of the record was not
    // taken, as reasons ("its \"kind\" ... is not the log's").
    std::vector<std::string> recordNotes;
    int64_t logModifiedUnix = 0;  // when the log was last written
};

// The cycles and failures of several runs taken together.
struct TotalFigures {
    int64_t runs = 0, cycles = 0, failures = 0, shutterFailures = 0, benchFaults = 0;
    std::optional<double> mcbf;
    double mcbfLower90 = 0;
};

// One-sided 90 % lower bound on the mean cycles between failures: T cycles,
// r failures; failure-terminated runs use 2r degrees of freedom, others 2r+2.
double McbfLower90(int64_t cycles, int64_t failures, bool failureTerminated);
// The Laplace trend statistic of failures at the given cycle counts in T
// cycles; none under 3 failures.
std::optional<double> Laplace(const std::vector<int64_t>& failureCycles, int64_t cycles);

TotalFigures Total(const std::vector<RunFigures>& runs);
TotalFigures Total(const std::vector<const RunFigures*>& runs);
// One run's counts (of its figures, or of anything that keeps them by the
// same names) added to a total (times 1) or taken from it (times -1), then
// the total's MCBF and bound worked out again from its counts: a window
// following one log among thousands changes its total by that log.
template <class Run>
void AddToTotal(TotalFigures& total, const Run& run, int64_t times) {
    total.runs += times;
    total.cycles += times * run.cycles;
    total.failures += times * run.failures;
    total.shutterFailures += times * run.shutterFailures;
    total.benchFaults += times * run.benchFaults;
}
void WorkOutTotal(TotalFigures& total);

// Whether a run's figures carry the spreads of its cycle and move times:
// sorting a million values for each row added to a long log is more than a
// window that never shows them should pay.
enum class Spreads { Worked, LeftOut };

// A run as it is read, row by row, and the series its charts draw. Reading
// more of a growing log adds to it; the figures are worked out on demand.
class RunAccumulator {
public:
    void Start(const LogReader& header);
    // Inline: called for each of 10^8 rows, and nearly every one is a
    // success with its time after the one before.
    void Add(const LogRow& row) {
        const int64_t interval = row.when - last_;
        // A run's cycles are seconds to hours long.
        intervals.push_back(static_cast<int32_t>(interval < INT32_MIN   ? INT32_MIN
                                                 : interval > INT32_MAX ? INT32_MAX
                                                                        : interval));
        last_ = row.when;
        any_ = true;
        if (row.failure || row.timeWentBack ||
            (kind_ == TestLogKind::PowerCutTest && !row.error.empty())) {
            AddUnusual(row);
        } else {
            lastFailed_ = lastShutterFailed_ = false;
        }
    }
    // Room for about this many rows, so a long log is not copied as it grows.
    void Reserve(size_t rows);
    void AddMoves(std::vector<MoveRow>&& rows);
    // The reader's counts of bad lines and the unfinished line.
    RunFigures Figures(const LogReader& reader, Spreads spreads = Spreads::Worked) const;
    // Rows read a day on after a small step back of the clock.
    int64_t TimeWentBack() const { return timeWentBack_; }

    // Per row: its cycle seconds. Row i has Count i + 1: a row out of that
    // sequence is a bad line, not a row.
    std::vector<int32_t> intervals;
    // The rows (from 0) that are failures of either class: few, so kept
    // apart rather than a flag a row.
    std::vector<int64_t> failedRows;
    std::vector<int64_t> failureCycles;  // shutter failures only
    std::vector<MoveRow> moves;

private:
    void AddUnusual(const LogRow& row);
    TestLogKind kind_ = TestLogKind::CycleTest;
    int64_t started_ = 0, last_ = 0;
    bool any_ = false, lastFailed_ = false, lastShutterFailed_ = false;
    int64_t failures_ = 0, benchFaults_ = 0, benchBeforeFirst_ = 0;
    int64_t timeWentBack_ = 0, firstBackLine_ = 0;
    std::map<std::string, FailureMode> modes_;
};

}  // namespace varnholt
