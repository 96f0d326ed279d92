#include "sequencing/endurance_tests.h"

#include <cstdint>
#include <string>

#include "instruments/power_supply.h"
#include "instruments/shutter.h"
#include "timing/clock.h"
#include "sequencing/configuration.h"
#include "sequencing/run_flags.h"
#include "sequencing/status_line.h"
#include "sequencing/test_log.h"

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
std::string WithSignSpace(int64_t count) {
    return (count >= 0 ? " " : "") + std::to_string(count);
}

// One test run: its log, its run flag and the ways it can end.
class Run {
public:
    Run(TestLogKind kind, bool& running) : kind_(kind), running_(running) {}

    bool Begin() {
        std::string errorText;
        if (TestLogCreate(kind_, log_, errorText)) return true;
        // Refuse to start: nothing has been sent to the devices yet.
        ShowStatus(errorText);
        return false;
    }

    bool Running() const { return running_ && !ShutdownRequested(); }

    // After a device step. False means the test has ended and must return.
    bool Check(bool succeeded, const char* prefix, const std::string& errorText) {
        if (succeeded) return true;
        // An exchange cut short by the window closing is a stop, not a fault.
        if (ShutdownRequested()) return Stop();
        const std::string text = prefix + errorText;
        if (TestLogWriteRow(log_, count, "FAILURE", text)) {
            ShowStatus(text);
        } else {
            ShowStatus(text + " " + log_.problem);
        }
        TestLogClose(log_);
        return false;
    }

    bool Stop() {
        ShowStatus("Test stopped by user");
        TestLogClose(log_);
        return false;
    }

    bool Success(const std::string& errorColumn, const char* statusPrefix) {
        if (!TestLogWriteRow(log_, count, "SUCCESS", errorColumn)) {
            ShowStatus(log_.problem);
            TestLogClose(log_);
            return false;
        }
        ShowStatus(statusPrefix + WithSignSpace(count));
        ++count;
        return true;
    }

    bool Wait(int32_t ticks) { return WaitWhileRunning(ticks, running_) || Stop(); }

    int64_t count = 1;

private:
    TestLogKind kind_;
    bool& running_;
    TestLog log_;
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
        if (!run.Wait(SampleTimeTicks())) return;
        if (!run.Check(CloseShutter(errorText), "CloseShutter Error: ", errorText)) return;
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
        if (!OpenShutter(errorText)) {
            if (ShutdownRequested()) return void(run.Stop());
            errorText = "OpenShutter Error: " + errorText;
            ShowStatus(errorText);
        }
        if (!run.Success(errorText, "Power Cut Test: ")) return;
    }
}

}  // namespace varnholt
