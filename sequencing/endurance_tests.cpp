#include "sequencing/endurance_tests.h"

#include <cstdint>
#include <string>

#include "instruments/power_supply.h"
#include "instruments/shutter.h"
#include "runlog/failure_class.h"
#include "runlog/log_writer.h"
#include "sequencing/configuration.h"
#include "sequencing/run_events.h"
#include "sequencing/run_flags.h"
#include "sequencing/status_line.h"
#include "sequencing/unit_under_test.h"
#include "timing/clock.h"

namespace varnholt {
namespace {

// The fixed waits of the two tests, in ticks.
// The shutter controller needs half a second after power-up.
constexpr int32_t kPowerUpSettleTicks = 5;
// The power-cut test's first power-up settles for a second.
constexpr int32_t kFirstPowerUpTicks = 10;
// Cut the power about a second into the move.
constexpr int32_t kCutIntoMoveTicks = 10;
// How long the cut lasts.
constexpr int32_t kPowerCutTicks = 20;

// A count on the status line carries a leading space when it is not negative
// ("Cycle Test:  1"), the form operators know from the bench's status texts.
// Counted in 64 bits: an endurance run does not end or wrap at 32767 cycles.
std::string WithSignSpace(int64_t count) { return (count >= 0 ? " " : "") + std::to_string(count); }

// The Error column as logged, without the device's own final line end.
std::string LoggedError(const std::string& errorText) {
    std::string field = LogFieldText(errorText);
    while (!field.empty() && (field.back() == '\r' || field.back() == '\n')) field.pop_back();
    return field;
}

// One test run: its log and companion, its run flag, the ways it can end,
// and what it tells its observers.
class Run {
public:
    Run(TestLogKind kind, bool& running) : kind_(kind), running_(running) {}

    bool Begin() {
        std::string errorText;
        if (!TestLogCreate(kind_, log_, errorText)) {
            // Refuse to start: nothing has been sent to the devices yet.
            ShowStatus(errorText);
            return false;
        }
        dates_.Start(LocalSecondsOf(log_.started));
        unit_ = CurrentUnitUnderTest();
        RunRecord record;
        record.kind = NamesOf(kind_).json;
        record.unit = unit_.unit;
        record.lot = unit_.lot;
        record.sampleTimeTicks = SampleTimeTicks();
        record.powerOffTicks = PowerOffTicks();
        TestLogStartRecord(log_, record);
        TellRunStarted({kind_, log_.fileName, LocalSecondsOf(log_.started), unit_.unit, unit_.lot});
        return true;
    }

    bool Running() const { return running_ && !ShutdownRequested(); }

    // After a device step. False means the test has ended and must return.
    bool Check(bool succeeded, const char* prefix, const std::string& errorText) {
        if (succeeded) return true;
        // An exchange cut short by the window closing is a stop, not a fault.
        if (ShutdownRequested()) return Stop();
        const std::string text = prefix + errorText;
        if (WriteRow("FAILURE", text)) {
            End(true, text, IsLineFault(text) ? "line_dropped" : "failure");
        } else {
            End(true, text + " " + log_.problem, WriteFault());
        }
        return false;
    }

    bool Stop() {
        End(false, "Test stopped by user",
            !ShutdownRequested() ? "stopped"
            : ShutdownBySignal() ? "signal"
                                 : "closed");
        return false;
    }

    bool Success(const std::string& errorColumn, const char* statusPrefix) {
        if (!WriteRow("SUCCESS", errorColumn)) {
            End(true, log_.problem, WriteFault());
            return false;
        }
        ShowStatus(statusPrefix + WithSignSpace(count));
        ++count;
        openMs = closeMs = -1;
        return true;
    }

    bool Wait(int32_t ticks) { return WaitWhileRunning(ticks, running_) || Stop(); }

    int64_t count = 1;
    // This cycle's moves, in milliseconds; -1 until they complete.
    int32_t openMs = -1, closeMs = -1;

private:
    bool WriteRow(const char* status, const std::string& errorText) {
        if (!TestLogWriteRow(log_, count, status, errorText)) return false;
        TestLogWriteMoves(log_, count, openMs, closeMs);
        lastCount_ = count;
        RowWritten row;
        row.kind = kind_;
        row.log = log_.fileName;
        row.count = count;
        row.failure = std::string(status) == kLogFailure;
        row.when = dates_.Next(SecondOfDay(log_.lastRow));
        row.error = LoggedError(errorText);
        row.openMs = openMs;
        row.closeMs = closeMs;
        row.unit = unit_.unit;
        TellRowWritten(row);
        return true;
    }

    const char* WriteFault() const { return log_.diskFull ? "disk_full" : "write_failed"; }

    void End(bool byFailure, const std::string& text, const char* how) {
        ShowStatus(text);
        TestLogClose(log_);
        TestLogEndRecord(log_, how, lastCount_);
        TellRunEnded(
            {kind_, log_.fileName, byFailure, LoggedError(text), lastCount_, unit_.unit, how});
    }

    TestLogKind kind_;
    bool& running_;
    TestLog log_;
    RowDates dates_;
    int64_t lastCount_ = 0;
    UnitUnderTest unit_;
};

}  // namespace

void CycleTest() {
    Run run(TestLogKind::CycleTest, CycleTestRunning());
    if (!run.Begin()) return;
    std::string errorText;

    if (!run.Check(PowerOn(errorText), "PowerOn Error: ", errorText)) return;
    DelayTicks(kPowerUpSettleTicks);
    if (!run.Check(CloseShutter(errorText), "CloseShutter Error: ", errorText)) return;
    if (!run.Check(PowerOff(errorText), "PowerOff Error: ", errorText)) return;

    for (;;) {
        if (!run.Running()) return void(run.Stop());
        if (!run.Wait(PowerOffTicks())) return;
        if (!run.Check(PowerOn(errorText), "PowerOn Error: ", errorText)) return;
        DelayTicks(kPowerUpSettleTicks);
        if (!run.Check(OpenShutter(errorText), "OpenShutter Error: ", errorText)) return;
        run.openMs = LastMoveMilliseconds();
        if (!run.Wait(SampleTimeTicks())) return;
        if (!run.Check(CloseShutter(errorText), "CloseShutter Error: ", errorText)) return;
        run.closeMs = LastMoveMilliseconds();
        if (!run.Check(PowerOff(errorText), "PowerOff Error: ", errorText)) return;
        if (!run.Success("NONE", "Cycle Test: ")) return;
    }
}

void PowerCutTest() {
    Run run(TestLogKind::PowerCutTest, PowerCutTestRunning());
    if (!run.Begin()) return;
    std::string errorText;

    if (!run.Check(PowerOn(errorText), "PowerOn Error: ", errorText)) return;
    DelayTicks(kFirstPowerUpTicks);

    for (;;) {
        if (!run.Running()) return void(run.Stop());
        if (!run.Check(CloseShutter(errorText), "CloseShutter Error: ", errorText)) return;
        run.closeMs = LastMoveMilliseconds();
        if (!run.Check(PowerOff(errorText), "PowerOff Error: ", errorText)) return;
        if (!run.Wait(PowerOffTicks())) return;
        if (!run.Check(PowerOn(errorText), "PowerOn Error: ", errorText)) return;
        DelayTicks(kPowerUpSettleTicks);
        ShutterSend("OPEN");
        if (!run.Wait(kCutIntoMoveTicks)) return;
        if (!run.Check(PowerOff(errorText), "PowerSupply Error: ", errorText)) return;
        if (!run.Wait(kPowerCutTicks)) return;
        if (!run.Check(PowerOn(errorText), "PowerOn Error: ", errorText)) return;
        DelayTicks(kPowerUpSettleTicks);
        // The final open is judged per cycle: its failure is recorded in the
        // cycle's row and the test goes on.
        if (OpenShutter(errorText)) {
            run.openMs = LastMoveMilliseconds();
        } else {
            if (ShutdownRequested()) return void(run.Stop());
            errorText = "OpenShutter Error: " + errorText;
            ShowStatus(errorText);
        }
        if (!run.Success(errorText, "Power Cut Test: ")) return;
    }
}

}  // namespace varnholt
