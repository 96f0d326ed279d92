#pragma once

#include <cstdint>
#include <string>

#include "runlog/log_format.h"

namespace varnholt {

// What a run tells whoever listens (the window, the Runs window, the
// monitoring): its start, each row as it is on disk, its end, and a line
// that drops or comes back. Times are local seconds (LocalSeconds), a row's
// dated by the log's own rule.
struct RunStarted {
    TestLogKind kind = TestLogKind::CycleTest;
    std::string log;  // cycle_log3.txt
    int64_t started = 0;
    std::string unit, lot;  // the shutter tested, as the operator gave them; may be empty
};

struct RowWritten {
    TestLogKind kind = TestLogKind::CycleTest;
    std::string log;
    int64_t count = 0;
    bool failure = false;  // a FAILURE row
    int64_t when = 0;
    std::string error;  // the Error column as logged, without the device's final line end
    int32_t openMs = -1, closeMs = -1;  // the cycle's moves; -1: none
    std::string unit;
};

struct RunEnded {
    TestLogKind kind = TestLogKind::CycleTest;
    std::string log;
    bool byFailure =
        false;         // a failure ended it (a FAILURE row, or a row that could not be written)
    std::string text;  // what the status line said, device bytes as the log shows them
    int64_t lastCount = 0;  // the last row's Count, 0 without rows
    std::string unit;
    std::string ended;  // the run record's word: "failure", "stopped", "line_dropped", ...
};

struct LineChanged {
    bool back = false;  // false: the line went away
    std::string device;
    std::string text;  // a sentence for the operator
};

// Observers are called on the thread that runs the test, inside its waits:
// they must return at once and never run the event loop or send.
class RunObserver {
public:
    virtual ~RunObserver() = default;
    virtual void OnRunStarted(const RunStarted&) {}
    virtual void OnRowWritten(const RowWritten&) {}
    virtual void OnRunEnded(const RunEnded&) {}
    virtual void OnLineChanged(const LineChanged&) {}
};

void AddRunObserver(RunObserver* observer);
void RemoveRunObserver(RunObserver* observer);

// The run going on now, for an observer that starts listening mid-run.
bool RunInProgress(RunStarted& run);

void TellRunStarted(const RunStarted& event);
void TellRowWritten(const RowWritten& event);
void TellRunEnded(const RunEnded& event);
void TellLineChanged(const LineChanged& event);

}  // namespace varnholt
