#include "instruments/power_supply.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/support/fake_bench.h"
#include "timing/clock.h"

namespace varnholt {
namespace {

using ::testing::ElementsAre;
using testing::FakePort;
using testing::FakeSupply;
using testing::SimulatedPump;

class PowerSupplyTest : public ::testing::Test {
protected:
    PowerSupplyTest() {
        pump.Attach(port);
        BindPowerSupplyPort(&port);
    }
    ~PowerSupplyTest() override { BindPowerSupplyPort(nullptr); }

    // Brings the supply up, then takes the scripted supply off the line so
    // that each test scripts its own replies.
    void StartAndDetach() {
        std::string errorText;
        ASSERT_TRUE(PowerSupplyInit(5, errorText)) << errorText;
        port.onOutput = nullptr;
        port.sent.clear();
    }

    SimulatedPump pump;
    FakePort port;
    FakeSupply supply{port};
};

TEST_F(PowerSupplyTest, StartUpOpensThePortAndSendsTheWholeSequence) {
    std::string errorText = "stale";
    ASSERT_TRUE(PowerSupplyInit(3, errorText));
    EXPECT_EQ(errorText, "");
    EXPECT_THAT(port.setup,
                ElementsAre("CommPort 3", "Settings 9600,N,8,2", "InputLen 0", "PortOpen true"));
    EXPECT_EQ(port.Wire(),
              "SYST:REM\r\n"
              "*RST;*CLS;SYST:ERR?\r\n"
              "*IDN?\r\n"
              "APPL P25V, 12.0, 1.0;SYST:ERR?\r\n");
    // The 200 ms pause blocks: no tick passes between remote and reset.
    EXPECT_THAT(pump.sleeps, ElementsAre(200));
    EXPECT_EQ(port.sent[0].tick, port.sent[1].tick);
    // Each exchange is answered 2 ticks later and seen in the next pass.
    EXPECT_EQ(port.sent[2].tick, port.sent[1].tick + 3);
}

TEST_F(PowerSupplyTest, OutputSwitchesSendTheirCommandWithTheErrorQuery) {
    StartAndDetach();
    port.ArriveAt(AppTicks() + 1, "+0,\"No error\"\r\n");
    std::string errorText;
    EXPECT_TRUE(PowerOn(errorText));
    EXPECT_EQ(errorText, "+0,\"No error\"\r\n");  // success leaves the reply
    port.ArriveAt(AppTicks() + 1, "+0,\"No error\"\r\n");
    EXPECT_TRUE(PowerOff(errorText));
    EXPECT_EQ(port.Wire(), "OUTP ON;SYST:ERR?\r\nOUTP OFF;SYST:ERR?\r\n");
}

TEST_F(PowerSupplyTest, ReplyJudgedByItsLeadingNumber) {
    StartAndDetach();
    std::string errorText;
    port.ArriveAt(AppTicks() + 1, "\r\n");  // no number at all: counts as success
    EXPECT_TRUE(PowerOn(errorText));
    port.ArriveAt(AppTicks() + 1, "0.5\r\n");
    EXPECT_FALSE(PowerOn(errorText));
    port.ArriveAt(AppTicks() + 1, "-222,\"Data out of range\"\r\n");
    EXPECT_FALSE(PowerOff(errorText));
    EXPECT_EQ(errorText, "-222,\"Data out of range\"\r\n");
}

TEST_F(PowerSupplyTest, ReplyCompletedOnePassBeforeTheLimitIsReturned) {
    StartAndDetach();
    const int64_t start = AppTicks();
    port.ArriveAt(start + 19, "+0\r\n");
    std::string errorText;
    EXPECT_TRUE(PowerOn(errorText)) << errorText;
    EXPECT_EQ(AppTicks(), start + 20);
}

TEST_F(PowerSupplyTest, ReplyCompletedInThePassWhereTheLimitRunsOutIsNotReturned) {
    StartAndDetach();
    const int64_t start = AppTicks();
    port.ArriveAt(start + 20, "+0\r\n");
    std::string errorText;
    EXPECT_FALSE(PowerOn(errorText));
    EXPECT_EQ(errorText, "-1 Timed out waiting for power supply");
    EXPECT_EQ(AppTicks(), start + 21);
}

TEST_F(PowerSupplyTest, ReplyInPiecesIsCollectedUntilItEndsWithCrLf) {
    StartAndDetach();
    const int64_t start = AppTicks();
    port.ArriveAt(start + 1, "+0,\"No");
    port.ArriveAt(start + 3, " error\"\r");
    port.ArriveAt(start + 6, "\n");
    std::string errorText;
    EXPECT_TRUE(PowerOn(errorText));
    EXPECT_EQ(errorText, "+0,\"No error\"\r\n");
    EXPECT_EQ(AppTicks(), start + 7);  // seen in the pass after the last piece
}

TEST_F(PowerSupplyTest, TextAfterTheLineEndInTheSameReadKeepsTheExchangeGoing) {
    StartAndDetach();
    const int64_t start = AppTicks();
    port.ArriveAt(start + 1, "-100,\"Command error\"\r\n+0");
    port.ArriveAt(start + 4, "\r\n");
    std::string errorText;
    EXPECT_FALSE(PowerOn(errorText));
    EXPECT_EQ(errorText, "-100,\"Command error\"\r\n+0\r\n");
    EXPECT_EQ(AppTicks(), start + 5);
}

TEST_F(PowerSupplyTest, LateReplyOfATimedOutExchangeIsNotTakenAsTheNextAnswer) {
    StartAndDetach();
    std::string errorText;
    EXPECT_FALSE(PowerOn(errorText));  // nobody answers
    // The supply's answer to the timed-out command turns up afterwards...
    port.Arrive("+0,\"No error\"\r\n");
    // ...and the next command is rejected.
    port.ArriveAt(AppTicks() + 2, "-221,\"Settings conflict\"\r\n");
    EXPECT_FALSE(PowerOff(errorText));
    EXPECT_EQ(errorText, "-221,\"Settings conflict\"\r\n");
}

TEST_F(PowerSupplyTest, IdentityMustStartWithTheMakerInCapitals) {
    supply.identity = "HEWLETT-PACKARD,E3631A,0,1.4-5.0-1.0";
    std::string errorText;
    EXPECT_TRUE(PowerSupplyInit(1, errorText)) << errorText;

    port.sent.clear();
    supply.identity = "Hewlett-Packard,E3631A,0,1.4-5.0-1.0";
    EXPECT_FALSE(PowerSupplyInit(1, errorText));
    EXPECT_EQ(errorText, "Bad ID: Hewlett-Packard,E3631A,0,1.4-5.0-1.0\r\n");
    EXPECT_EQ(port.Wire().find("APPL"), std::string::npos);

    supply.identity = "HEWLETT";
    EXPECT_FALSE(PowerSupplyInit(1, errorText));
    EXPECT_EQ(errorText, "Bad ID: HEWLETT\r\n");
}

TEST_F(PowerSupplyTest, SilentSupplyFailsTheResetWithTheTimeoutText) {
    supply.silent = true;
    std::string errorText;
    EXPECT_FALSE(PowerSupplyInit(2, errorText));
    EXPECT_EQ(errorText, "-1 Timed out waiting for power supply");
    EXPECT_EQ(port.Wire(), "SYST:REM\r\n*RST;*CLS;SYST:ERR?\r\n");
    EXPECT_EQ(AppTicks(), 21);
}

TEST_F(PowerSupplyTest, UnansweredIdentityFailsWithBadIdAndTheQueryTimeout) {
    port.onOutput = [this](const std::string& text) {
        if (text.rfind("*RST", 0) == 0) port.ArriveAt(AppTicks() + 1, "+0\r\n");
    };
    std::string errorText;
    EXPECT_FALSE(PowerSupplyInit(2, errorText));
    EXPECT_EQ(errorText, "Bad ID: -1 Timed out waiting for response");
}

TEST_F(PowerSupplyTest, FailingResetStopsBeforeTheIdentityQuery) {
    supply.failCommand = 1;
    std::string errorText;
    EXPECT_FALSE(PowerSupplyInit(2, errorText));
    EXPECT_EQ(errorText, "-222,\"Data out of range\"\r\n");
    EXPECT_EQ(port.Wire().find("*IDN?"), std::string::npos);
}

TEST_F(PowerSupplyTest, FailingApplyIsReported) {
    supply.failCommand = 2;
    std::string errorText;
    EXPECT_FALSE(PowerSupplyInit(2, errorText));
    EXPECT_EQ(errorText, "-222,\"Data out of range\"\r\n");
}

TEST_F(PowerSupplyTest, PortThatCannotBeOpenedFailsWithItsSentenceAndSendsNothing) {
    port.openFailure = {OpenFailure::Cause::Missing, "/dev/ttyS3", "No such file"};
    std::string errorText;
    OpenFailure failure;
    EXPECT_FALSE(PowerSupplyInit(4, errorText, &failure));
    EXPECT_EQ(errorText,
              "Cannot open serial port 4 (/dev/ttyS3) for the power supply: No such file.");
    EXPECT_EQ(failure.cause, OpenFailure::Cause::Missing);
    EXPECT_EQ(failure.device, "/dev/ttyS3");
    EXPECT_TRUE(port.sent.empty());
}

TEST_F(PowerSupplyTest, NoiseBeforeAnErrorCodeDoesNotMakeItASuccess) {
    StartAndDetach();
    std::string errorText;
    port.ArriveAt(AppTicks() + 1, (std::string(1, '\0') + "-222,\"Data out of range\"\r\n"));
    EXPECT_FALSE(PowerOn(errorText));
    EXPECT_EQ(errorText, (std::string(1, '\0') + "-222,\"Data out of range\"\r\n"));
    port.ArriveAt(AppTicks() + 1, "\xff\r\n+0,\"No error\"\r\n");
    EXPECT_TRUE(PowerOff(errorText)) << errorText;
    // A reply with no number at all still counts as success.
    port.ArriveAt(AppTicks() + 1, "\r\n");
    EXPECT_TRUE(PowerOn(errorText));
}

TEST_F(PowerSupplyTest, PortZeroSwitchesTheSupplyOff) {
    std::string errorText = "x";
    ASSERT_TRUE(PowerSupplyInit(0, errorText));
    EXPECT_EQ(errorText, "");
    errorText = "x";
    EXPECT_TRUE(PowerOn(errorText));
    EXPECT_EQ(errorText, "");
    EXPECT_TRUE(PowerOff(errorText));
    EXPECT_TRUE(port.setup.empty());
    EXPECT_TRUE(port.sent.empty());
    EXPECT_EQ(pump.pumps, 0);
}

TEST_F(PowerSupplyTest, NothingIsSentOnceShutdownIsRequested) {
    StartAndDetach();
    RequestShutdown();
    std::string errorText;
    EXPECT_FALSE(PowerOn(errorText));
    EXPECT_TRUE(port.sent.empty());
    EXPECT_LE(pump.pumps, 100);
}

}  // namespace
}  // namespace varnholt

namespace varnholt {
namespace {

constexpr char kGone[] = "-1 Serial port 5 (/dev/serial/by-id/usb-psu) was disconnected";

TEST_F(PowerSupplyTest, ALineThatGoesAwayEndsTheExchangeAtOnceAndComesBackInRemoteMode) {
    StartAndDetach();
    pump.At(AppTicks() + 3, [this] { port.Unplug("/dev/serial/by-id/usb-psu"); });
    std::string errorText;
    const int64_t start = AppTicks();
    EXPECT_FALSE(PowerOn(errorText));
    EXPECT_EQ(errorText, kGone);
    EXPECT_EQ(AppTicks(), start + 3);  // the pass that saw it, not the 2 s time-out

    // Still missing: the next operation fails at once, without a wait.
    const int64_t pumpsBefore = pump.pumps;
    EXPECT_FALSE(PowerOff(errorText));
    EXPECT_EQ(errorText, kGone);
    EXPECT_EQ(pump.pumps, pumpsBefore);

    // Plugged back: the same device is opened again, the supply put back in
    // remote mode, and the command goes out. No reset, no programming.
    port.deviceBack = true;
    port.sent.clear();
    port.setup.clear();
    port.ArriveAt(AppTicks() + 1, "+0,\"No error\"\r\n");
    EXPECT_TRUE(PowerOff(errorText)) << errorText;
    EXPECT_THAT(port.setup, ElementsAre("PortOpen true"));
    ASSERT_EQ(port.sent.size(), 2u);
    EXPECT_EQ(port.sent[0].text, "SYST:REM\r\n");
    EXPECT_EQ(port.sent[1].text, "OUTP OFF;SYST:ERR?\r\n");
    EXPECT_THAT(pump.sleeps, ElementsAre(200, 200));  // start-up's pause, the reopen's pause
}

// A termination signal lands in the blocking pause after SYST:REM, at
// start-up and after a reopen mid-test: nothing more goes out.
TEST_F(PowerSupplyTest, ATerminationSignalDuringTheRemotePauseStopsEveryFurtherCommand) {
    InstallSleep([](int) { RequestShutdownFromSignal(); });
    std::string errorText;
    EXPECT_FALSE(PowerSupplyInit(5, errorText));
    EXPECT_EQ(port.Wire(), "SYST:REM\r\n");

    ResetTicksAndShutdown();
    InstallSleep([](int) {});
    port.sent.clear();
    StartAndDetach();
    port.Unplug("/dev/ttyUSB4");
    port.deviceBack = true;
    InstallSleep([](int) { RequestShutdownFromSignal(); });
    EXPECT_FALSE(PowerOff(errorText));
    EXPECT_EQ(port.Wire(), "SYST:REM\r\n");
    ResetTicksAndShutdown();
}

}  // namespace
}  // namespace varnholt
