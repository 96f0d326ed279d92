#include "timing/clock.h"

#include <gtest/gtest.h>

#include "tests/support/fake_bench.h"

namespace varnholt {
namespace {

using testing::SimulatedPump;

TEST(DelayTicks, WaitsForExactlyThatManyTicks) {
    SimulatedPump pump;
    DelayTicks(7);
    EXPECT_EQ(AppTicks(), 7);
    EXPECT_EQ(pump.pumps, 7);
}

TEST(DelayTicks, ZeroOrNegativeReturnsWithoutProcessingEvents) {
    SimulatedPump pump;
    DelayTicks(0);
    DelayTicks(-5);
    EXPECT_EQ(pump.pumps, 0);
}

TEST(DelayTicks, EndIsFixedOnEntryEvenIfTicksArriveInBursts) {
    SimulatedPump pump;
    // Ticks counted late after a blocking pause arrive several at once.
    pump.At(2, [] {
        AddAppTick();
        AddAppTick();
    });
    DelayTicks(5);
    EXPECT_EQ(AppTicks(), 5);
    EXPECT_EQ(pump.pumps, 3);
}

TEST(WaitWhileRunning, RunsOutWithTheFlagSet) {
    SimulatedPump pump;
    bool running = true;
    EXPECT_TRUE(WaitWhileRunning(10, running));
    EXPECT_EQ(AppTicks(), 10);
}

TEST(WaitWhileRunning, ClearedFlagReturnsFalseAtOnceEvenForLongPeriods) {
    SimulatedPump pump;
    bool running = false;
    EXPECT_FALSE(WaitWhileRunning(1'000'000, running));
    EXPECT_EQ(pump.pumps, 0);
}

TEST(WaitWhileRunning, ZeroOrNegativeWithFlagSetReturnsTrueAtOnce) {
    SimulatedPump pump;
    bool running = true;
    EXPECT_TRUE(WaitWhileRunning(0, running));
    EXPECT_TRUE(WaitWhileRunning(-3, running));
    EXPECT_EQ(pump.pumps, 0);
}

TEST(WaitWhileRunning, ClickDuringTheWaitEndsItAtTheNextPass) {
    SimulatedPump pump;
    bool running = true;
    pump.At(4, [&] { running = false; });
    EXPECT_FALSE(WaitWhileRunning(50, running));
    EXPECT_EQ(AppTicks(), 4);
}

TEST(WaitWhileRunning, FlagIsTestedBeforeTheTickCount) {
    SimulatedPump pump;
    bool running = true;
    // Cleared in the very pass in which the period runs out: the flag wins.
    pump.At(3, [&] { running = false; });
    EXPECT_FALSE(WaitWhileRunning(3, running));
}

TEST(Clock, ShutdownEndsDelaysAtOnce) {
    SimulatedPump pump;
    pump.At(2, [] { RequestShutdown(); });
    DelayTicks(100);
    EXPECT_EQ(AppTicks(), 2);
    ResetTicksAndShutdown();
    EXPECT_FALSE(ShutdownRequested());
    EXPECT_EQ(AppTicks(), 0);
}

}  // namespace
}  // namespace varnholt
