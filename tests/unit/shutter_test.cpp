#include "instruments/shutter.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/support/fake_bench.h"
#include "timing/clock.h"

namespace varnholt {
namespace {

using ::testing::ElementsAre;
using testing::FakePort;
using testing::SimulatedPump;

class ShutterTest : public ::testing::Test {
protected:
    ShutterTest() {
        pump.Attach(port);
        BindShutterPort(&port);
    }
    ~ShutterTest() override { BindShutterPort(nullptr); }

    void Start() {
        std::string errorText = "x";
        ASSERT_TRUE(ShutterInit(7, errorText));
        ASSERT_EQ(errorText, "");
    }

    SimulatedPump pump;
    FakePort port;
};

TEST_F(ShutterTest, InitOpensThePortAndSendsNothing) {
    Start();
    EXPECT_THAT(port.setup,
                ElementsAre("CommPort 7", "Settings 9600,N,8,1", "InputLen 0", "PortOpen true"));
    EXPECT_TRUE(port.sent.empty());
}

TEST_F(ShutterTest, ReadyReplySucceedsWithEmptyText) {
    Start();
    port.ArriveAt(3, "RDY\r");
    std::string errorText = "x";
    EXPECT_TRUE(OpenShutter(errorText));
    EXPECT_EQ(errorText, "");
    port.ArriveAt(AppTicks() + 3, "RDY\r");
    EXPECT_TRUE(CloseShutter(errorText));
    EXPECT_EQ(port.Wire(), "OPEN\rCLOSE\r");
}

TEST_F(ShutterTest, TextBeforeReadyFailsWithTheWholeReply) {
    Start();
    port.ArriveAt(2, "E2 MOTOR STALL\rRDY\r");
    std::string errorText;
    EXPECT_FALSE(OpenShutter(errorText));
    EXPECT_EQ(errorText, "E2 MOTOR STALL\rRDY\r");
}

TEST_F(ShutterTest, ReadyIsCaseSensitive) {
    Start();
    port.ArriveAt(2, "rdy\r");
    std::string errorText;
    EXPECT_FALSE(OpenShutter(errorText));
    EXPECT_EQ(errorText, "-1 Timed out waiting for shutter response");
}

TEST_F(ShutterTest, ReplyInPiecesIsCollected) {
    Start();
    port.ArriveAt(1, "R");
    port.ArriveAt(4, "DY");
    port.ArriveAt(9, "\r");
    std::string errorText;
    EXPECT_TRUE(CloseShutter(errorText));
    EXPECT_EQ(AppTicks(), 10);  // seen in the pass after the last piece
}

TEST_F(ShutterTest, CharactersAfterReadyInTheSameReadKeepTheCommandGoing) {
    Start();
    port.ArriveAt(1, "RDY\rX");
    port.ArriveAt(5, "RDY\r");
    std::string errorText;
    EXPECT_TRUE(OpenShutter(errorText));  // starts with RDY, so a success
    EXPECT_EQ(AppTicks(), 6);
}

TEST_F(ShutterTest, TimeoutBoundaryAtOneHundredTicks) {
    Start();
    port.ArriveAt(99, "RDY\r");
    std::string errorText;
    EXPECT_TRUE(OpenShutter(errorText)) << errorText;
    EXPECT_EQ(AppTicks(), 100);

    const int64_t start = AppTicks();
    port.ArriveAt(start + 100, "RDY\r");
    EXPECT_FALSE(CloseShutter(errorText));
    EXPECT_EQ(errorText, "-1 Timed out waiting for shutter response");
    EXPECT_EQ(AppTicks(), start + 101);
}

TEST_F(ShutterTest, StaleInputIsDiscardedBeforeTheCommand) {
    Start();
    ShutterSend("OPEN");
    port.Arrive("RDY\r");  // the answer to the send without waiting
    port.ArriveAt(6, "JAM\rRDY\r");
    std::string errorText;
    EXPECT_FALSE(OpenShutter(errorText));
    EXPECT_EQ(errorText, "JAM\rRDY\r");
}

TEST_F(ShutterTest, SendDoesNotReadOrWait) {
    Start();
    port.Arrive("left over");
    ShutterSend("OPEN");
    EXPECT_EQ(port.Wire(), "OPEN\r");
    EXPECT_EQ(port.inputReads, 0);
    EXPECT_EQ(pump.pumps, 0);
}

TEST_F(ShutterTest, PortZeroSwitchesTheShutterOff) {
    std::string errorText = "x";
    ASSERT_TRUE(ShutterInit(0, errorText));
    EXPECT_EQ(errorText, "");
    EXPECT_TRUE(OpenShutter(errorText));
    EXPECT_TRUE(CloseShutter(errorText));
    ShutterSend("OPEN");
    EXPECT_TRUE(port.setup.empty());
    EXPECT_TRUE(port.sent.empty());
    EXPECT_EQ(pump.pumps, 0);
}

TEST_F(ShutterTest, PortThatCannotBeOpenedFailsTheInit) {
    port.openFailure = {OpenFailure::Cause::NoPermission, "/dev/ttyS6", "Permission denied"};
    std::string errorText;
    EXPECT_FALSE(ShutterInit(7, errorText));
    EXPECT_EQ(errorText,
              "Cannot open serial port 7 (/dev/ttyS6) for the shutter: Permission denied.");
}

}  // namespace
}  // namespace varnholt

namespace varnholt {
namespace {

TEST_F(ShutterTest, FloodWithoutReplyEndStaysBounded) {
    Start();
    const std::string chunk(100'000, 'x');
    for (int tick = 1; tick <= 100; ++tick) port.ArriveAt(tick, chunk);
    std::string errorText;
    EXPECT_FALSE(OpenShutter(errorText));
    EXPECT_EQ(errorText, "-1 Timed out waiting for shutter response");

    // A flood that does end with RDY CR is returned, cut down to its head and
    // tail. (After the time-out the close first waits a quiet tick.)
    port.ArriveAt(AppTicks() + 2, chunk + "RDY\r");
    EXPECT_FALSE(CloseShutter(errorText));
    EXPECT_EQ(errorText.size(), 4096u);
    EXPECT_EQ(errorText.substr(errorText.size() - 4), "RDY\r");
}

}  // namespace
}  // namespace varnholt

namespace varnholt {
namespace {

// After a time-out the tail of the late reply may still be coming in; the
// next command waits until the line has been quiet for a tick.
TEST_F(ShutterTest, AfterATimeOutTheNextCommandWaitsForAQuietTick) {
    Start();
    std::string errorText;
    EXPECT_FALSE(OpenShutter(errorText));  // nobody answers: gives up at tick 101
    const int64_t timedOutAt = AppTicks();
    EXPECT_EQ(timedOutAt, 101);
    // The late reply trickles in over the next ticks.
    port.ArriveAt(timedOutAt + 1, "RD");
    port.ArriveAt(timedOutAt + 2, "Y");
    port.ArriveAt(timedOutAt + 3, "\r");
    port.ArriveAt(timedOutAt + 6, "JAM\rRDY\r");  // the answer to the CLOSE
    EXPECT_FALSE(CloseShutter(errorText));
    EXPECT_EQ(errorText, "JAM\rRDY\r");
    // Sent at the first tick with nothing arriving, not into the tail.
    ASSERT_EQ(port.sent.size(), 2u);
    EXPECT_EQ(port.sent[1].tick, timedOutAt + 4);
    // A command that was answered needs no quiet tick before the next.
    port.ArriveAt(AppTicks() + 1, "RDY\r");
    const int64_t before = AppTicks();
    EXPECT_TRUE(OpenShutter(errorText));
    EXPECT_EQ(port.sent.back().tick, before);
}

TEST_F(ShutterTest, ALineThatNeverGoesQuietTimesOutWithoutSending) {
    Start();
    std::string errorText;
    EXPECT_FALSE(OpenShutter(errorText));
    const int64_t start = AppTicks();
    for (int tick = 1; tick <= 120; ++tick) port.ArriveAt(start + tick, "x");
    EXPECT_FALSE(CloseShutter(errorText));
    EXPECT_EQ(errorText, "-1 Timed out waiting for shutter response");
    EXPECT_EQ(AppTicks(), start + 101);
    EXPECT_EQ(port.sent.size(), 1u);
}

}  // namespace
}  // namespace varnholt

namespace varnholt {
namespace {

TEST_F(ShutterTest, ALineThatGoesAwayIsNamedAndReopenedByTheNextOperation) {
    Start();
    std::string errorText;
    pump.At(5, [this] { port.Unplug("/dev/ttyUSB1"); });
    EXPECT_FALSE(OpenShutter(errorText));
    EXPECT_EQ(errorText, "-1 Serial port 7 (/dev/ttyUSB1) was disconnected");
    EXPECT_EQ(AppTicks(), 5);

    ShutterSend("OPEN");  // the power-cut test's unawaited open: nowhere to go
    EXPECT_EQ(port.sent.size(), 1u);

    port.deviceBack = true;
    ShutterSend("OPEN");  // reopens and sends, still without waiting
    EXPECT_EQ(port.Wire(), "OPEN\rOPEN\r");
    EXPECT_EQ(pump.pumps, 5);
    port.ArriveAt(AppTicks() + 2, "RDY\r");
    EXPECT_TRUE(CloseShutter(errorText)) << errorText;
}

TEST_F(ShutterTest, ALineThatComesBackHeldByAnotherProgramIsReportedInUse) {
    Start();
    std::string errorText;
    pump.At(5, [this] { port.Unplug("/dev/ttyUSB1"); });
    EXPECT_FALSE(OpenShutter(errorText));
    port.openFailure = {OpenFailure::Cause::InUse, "/dev/ttyUSB1",
                        "it is in use by another program"};
    EXPECT_FALSE(CloseShutter(errorText));
    EXPECT_EQ(errorText, "-1 Serial port 7 (/dev/ttyUSB1) is in use by another program");
    EXPECT_EQ(port.sent.size(), 1u);
}

}  // namespace
}  // namespace varnholt
