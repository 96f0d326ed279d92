#include "sequencing/endurance_tests.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#ifndef _WIN32
#include <unistd.h>
#endif

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <regex>

#include "instruments/power_supply.h"
#include "instruments/shutter.h"
#include "runlog/run_record.h"
#include "sequencing/configuration.h"
#include "sequencing/run_events.h"
#include "sequencing/run_flags.h"
#include "sequencing/status_line.h"
#include "sequencing/unit_under_test.h"
#include "tests/support/fake_bench.h"
#include "tests/support/log_pattern.h"
#include "tests/support/temp_dir.h"
#include "timing/clock.h"

namespace varnholt {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using testing::FakePort;
using testing::FakeShutter;
using testing::FakeSupply;
using ::testing::IsEmpty;
using testing::RecordingStatus;
using testing::SimulatedPump;
using testing::WorkingFolder;

using Sent = std::vector<std::pair<int64_t, std::string>>;

Sent Timeline(const FakePort& port, int64_t from) {
    Sent out;
    for (const auto& s : port.sent) out.emplace_back(s.tick - from, s.text);
    return out;
}

const std::string kOn = "OUTP ON;SYST:ERR?\r\n";
const std::string kOff = "OUTP OFF;SYST:ERR?\r\n";
const std::string kError = "-222,\"Data out of range\"\r\n";

std::string Header(const std::string& title) { return testing::LogHeader(title); }
std::string Row(int64_t count, const std::string& state, const std::string& error) {
    return testing::LogRow(count, state, error);
}

// A supply answering in 2 ticks (3 per exchange) and a shutter that moves in
// 3 ticks (4 per command) only while the supply's output is on.
class EnduranceTest : public ::testing::Test {
protected:
    EnduranceTest() : folder(std::filesystem::exists("/dev/shm") ? "/dev/shm" : "/tmp") {
        pump.Attach(supplyPort);
        pump.Attach(shutterPort);
        BindPowerSupplyPort(&supplyPort);
        BindShutterPort(&shutterPort);
        BindStatusLine(&status);
        shutter.powered = [this] { return supply.outputOn; };
    }
    ~EnduranceTest() override {
        BindPowerSupplyPort(nullptr);
        BindShutterPort(nullptr);
        BindStatusLine(nullptr);
    }

    void StartBench(int supplyPortNumber = 2, int shutterPortNumber = 1, int sample = 1,
                    int powerOff = 2) {
        folder.Write("kestrane.ini",
                     "[TestPeriods]\nSampleTimePeriod=" + std::to_string(sample) +
                         "\nPowerOffPeriod=" + std::to_string(powerOff) +
                         "\n[Communications]\nPowerSupplyPort=" + std::to_string(supplyPortNumber) +
                         "\nShutterPort=" + std::to_string(shutterPortNumber) + "\n");
        std::string errorText;
        ASSERT_TRUE(LoadConfiguration(errorText)) << errorText;
        supplyPort.sent.clear();
        shutterPort.sent.clear();
        start = AppTicks();
    }

    // Clears the run flag once the status line shows the given text.
    void StopWhenStatusIs(bool& flag, const std::string& text) {
        status.onText = [&flag, text](const std::string& shown) {
            if (shown == text) flag = false;
        };
    }
    void StopAt(bool& flag, int64_t offset) {
        pump.At(start + offset, [&flag] { flag = false; });
    }

    void RunCycleTest() {
        CycleTestRunning() = true;
        CycleTest();
    }
    void RunPowerCutTest() {
        PowerCutTestRunning() = true;
        PowerCutTest();
    }

    std::string Log(const std::string& name) { return folder.Read(name); }
    void ExpectLog(const std::string& name, const std::string& pattern) {
        const std::string content = Log(name);
        EXPECT_TRUE(std::regex_match(content, std::regex(pattern))) << content;
    }

    WorkingFolder folder;
    SimulatedPump pump;
    FakePort supplyPort, shutterPort;
    FakeSupply supply{supplyPort};
    FakeShutter shutter{shutterPort};
    RecordingStatus status;
    int64_t start = 0;
};

TEST_F(EnduranceTest, CycleTestRunsPreparationAndCyclesTickByTick) {
    StartBench();
    StopWhenStatusIs(CycleTestRunning(), "Cycle Test:  3");
    RunCycleTest();

    // Preparation: on, 5 ticks, close, off. Each cycle: 20 ticks off, on,
    // 5 ticks, open, 10 ticks held open, close, off: 49 ticks with the devices.
    EXPECT_THAT(Timeline(supplyPort, start),
                ElementsAre(std::pair{0, kOn}, std::pair{12, kOff},       // preparation
                            std::pair{35, kOn}, std::pair{61, kOff},      // cycle 1
                            std::pair{84, kOn}, std::pair{110, kOff},     // cycle 2
                            std::pair{133, kOn}, std::pair{159, kOff}));  // cycle 3
    EXPECT_THAT(
        Timeline(shutterPort, start),
        ElementsAre(std::pair{8, "CLOSE\r"}, std::pair{43, "OPEN\r"}, std::pair{57, "CLOSE\r"},
                    std::pair{92, "OPEN\r"}, std::pair{106, "CLOSE\r"}, std::pair{141, "OPEN\r"},
                    std::pair{155, "CLOSE\r"}));
    EXPECT_THAT(status.texts, ElementsAre("Cycle Test:  1", "Cycle Test:  2", "Cycle Test:  3",
                                          "Test stopped by user"));
    ExpectLog("cycle_log1.txt", Header("Shutter Cycle Test") + Row(1, "SUCCESS", "NONE") +
                                    Row(2, "SUCCESS", "NONE") + Row(3, "SUCCESS", "NONE"));
}

TEST_F(EnduranceTest, CycleTestWithoutDevicesRunsOnThePeriodsAlone) {
    StartBench(0, 0, 3, 4);
    std::vector<int64_t> rowTicks;
    status.onText = [&](const std::string&) {
        rowTicks.push_back(AppTicks() - start);
        if (rowTicks.size() == 4) CycleTestRunning() = false;
    };
    RunCycleTest();
    // 5 ticks of preparation, then PowerOffTicks + 5 + SampleTimeTicks a row.
    EXPECT_THAT(rowTicks, ElementsAre(80, 155, 230, 305, 305));
    EXPECT_TRUE(supplyPort.sent.empty());
    EXPECT_TRUE(shutterPort.sent.empty());
}

TEST_F(EnduranceTest, StopWhileTheShutterOpensEndsAtTheHoldWithNoRow) {
    StartBench();
    StopAt(CycleTestRunning(), 45);  // inside the OPEN exchange of cycle 1 (43..47)
    RunCycleTest();
    EXPECT_EQ(AppTicks() - start, 47);  // no hold at all
    EXPECT_EQ(shutterPort.sent.back().text, "OPEN\r");
    EXPECT_EQ(supplyPort.sent.back().text, kOn);  // left powered and open
    EXPECT_THAT(status.texts, ElementsAre("Test stopped by user"));
    ExpectLog("cycle_log1.txt", Header("Shutter Cycle Test"));
}

TEST_F(EnduranceTest, StopDuringTheCloseStillFinishesThatCycle) {
    StartBench();
    StopAt(CycleTestRunning(), 58);  // inside the CLOSE of cycle 1
    RunCycleTest();
    EXPECT_EQ(supplyPort.sent.back().text, kOff);
    EXPECT_THAT(status.texts, ElementsAre("Cycle Test:  1", "Test stopped by user"));
    ExpectLog("cycle_log1.txt", Header("Shutter Cycle Test") + Row(1, "SUCCESS", "NONE"));
}

TEST_F(EnduranceTest, StopDuringThePowerOffWaitEndsAtOnce) {
    StartBench();
    StopAt(CycleTestRunning(), 70);
    RunCycleTest();
    EXPECT_EQ(AppTicks() - start, 70);
    EXPECT_EQ(supplyPort.sent.size(), 4u);
    EXPECT_EQ(status.Last(), "Test stopped by user");
}

struct FailureCase {
    const char* name;
    int supplyCommand;   // counted from the start-up's reset
    int shutterCommand;  // counted from the first command
    std::string expectedLogRows;
    bool powerCut = false;
};

void PrintTo(const FailureCase& c, std::ostream* os) { *os << c.name; }

class StepFailureTest : public EnduranceTest, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(StepFailureTest, OneFailureRowWithThePrefixedText) {
    const FailureCase& c = GetParam();
    supply.failCommand = c.supplyCommand;
    shutter.failCommand = c.shutterCommand;
    StartBench();
    if (c.powerCut) {
        RunPowerCutTest();
        ExpectLog("powercut_log1.txt", Header("Shutter Power Cut Test") + c.expectedLogRows);
    } else {
        RunCycleTest();
        ExpectLog("cycle_log1.txt", Header("Shutter Cycle Test") + c.expectedLogRows);
    }
    EXPECT_NE(status.Last().find("Error: "), std::string::npos);
    // Nothing is sent after the failing step: the failing command is the last
    // one its device received, and the last thing sent on either port.
    const bool supplyFailed = c.supplyCommand != 0;
    const auto& failing = supplyFailed ? supplyPort : shutterPort;
    const auto& other = supplyFailed ? shutterPort : supplyPort;
    ASSERT_FALSE(failing.sent.empty());
    if (supplyFailed) {
        EXPECT_EQ(supply.commands, c.supplyCommand);
        EXPECT_NE(failing.sent.back().text.find(";SYST:ERR?"), std::string::npos);
    } else {
        EXPECT_EQ(shutter.commands, c.shutterCommand);
    }
    if (!other.sent.empty()) {
        EXPECT_LT(other.sent.back().tick, failing.sent.back().tick);
    }
}

INSTANTIATE_TEST_SUITE_P(
    CycleTest, StepFailureTest,
    ::testing::Values(
        FailureCase{"PreparationPowerOn", 3, 0, Row(1, "FAILURE", "PowerOn Error: " + kError)},
        FailureCase{"PreparationClose", 0, 1,
                    Row(1, "FAILURE", "CloseShutter Error: ERR JAM RDY\r")},
        FailureCase{"PreparationPowerOff", 4, 0, Row(1, "FAILURE", "PowerOff Error: " + kError)},
        FailureCase{"CyclePowerOn", 5, 0, Row(1, "FAILURE", "PowerOn Error: " + kError)},
        FailureCase{"CycleOpen", 0, 2, Row(1, "FAILURE", "OpenShutter Error: ERR JAM RDY\r")},
        FailureCase{"CycleClose", 0, 3, Row(1, "FAILURE", "CloseShutter Error: ERR JAM RDY\r")},
        FailureCase{"SecondCyclePowerOff", 8, 0,
                    Row(1, "SUCCESS", "NONE") + Row(2, "FAILURE", "PowerOff Error: " + kError)}),
    [](const auto& testInfo) { return std::string(testInfo.param.name); });

TEST_F(EnduranceTest, ShutterTimeoutInTheCycleIsAFailure) {
    shutter.silentCommand = 2;
    StartBench();
    RunCycleTest();
    EXPECT_EQ(status.Last(), "OpenShutter Error: -1 Timed out waiting for shutter response");
    ExpectLog(
        "cycle_log1.txt",
        Header("Shutter Cycle Test") +
            Row(1, "FAILURE", "OpenShutter Error: -1 Timed out waiting for shutter response"));
}

TEST_F(EnduranceTest, PowerCutTestCutsThePowerDuringTheOpening) {
    shutter.failCommand = 2;  // what answers the unawaited OPEN is never looked at
    StartBench();
    StopWhenStatusIs(PowerCutTestRunning(), "Power Cut Test:  2");
    RunPowerCutTest();
    EXPECT_THAT(
        Timeline(supplyPort, start),
        ElementsAre(std::pair{0, kOn}, std::pair{17, kOff}, std::pair{40, kOn},  // power-off period
                    std::pair{58, kOff}, std::pair{81, kOn},   // the cut, 10 after OPEN
                    std::pair{97, kOff}, std::pair{120, kOn},  // cycle 2
                    std::pair{138, kOff}, std::pair{161, kOn}));
    EXPECT_THAT(Timeline(shutterPort, start),
                ElementsAre(std::pair{13, "CLOSE\r"}, std::pair{48, "OPEN\r"},
                            std::pair{89, "OPEN\r"}, std::pair{89 + 4, "CLOSE\r"},
                            std::pair{128, "OPEN\r"}, std::pair{169, "OPEN\r"}));
    EXPECT_THAT(status.texts,
                ElementsAre("Power Cut Test:  1", "Power Cut Test:  2", "Test stopped by user"));
    ExpectLog("powercut_log1.txt",
              Header("Shutter Power Cut Test") + Row(1, "SUCCESS", "") + Row(2, "SUCCESS", ""));
}

TEST_F(EnduranceTest, PowerCutFinalOpenTimeoutIsLoggedAndTheRunGoesOn) {
    shutter.silentCommand = 3;  // the final open of cycle 1
    StartBench();
    StopWhenStatusIs(PowerCutTestRunning(), "Power Cut Test:  2");
    RunPowerCutTest();
    const std::string timeout = "OpenShutter Error: -1 Timed out waiting for shutter response";
    EXPECT_THAT(status.texts, ElementsAre(timeout, "Power Cut Test:  1", "Power Cut Test:  2",
                                          "Test stopped by user"));
    ExpectLog("powercut_log1.txt", Header("Shutter Power Cut Test") + Row(1, "SUCCESS", timeout) +
                                       Row(2, "SUCCESS", ""));
}

// What observers hear of a run, and the companion of move times beside its
// log: a failed final opening has no open time, a stop or a failure ends it.
class RecordingObserver : public RunObserver {
public:
    RecordingObserver() { AddRunObserver(this); }
    ~RecordingObserver() override { RemoveRunObserver(this); }
    void OnRunStarted(const RunStarted& e) override { events.push_back("started " + e.log); }
    void OnRowWritten(const RowWritten& e) override {
        events.push_back("row " + std::to_string(e.count) +
                         (e.failure ? " FAILURE '" : " SUCCESS '") + e.error + "' open " +
                         (e.openMs >= 0 ? "yes" : "no") + " close " +
                         (e.closeMs >= 0 ? "yes" : "no"));
    }
    void OnRunEnded(const RunEnded& e) override {
        events.push_back(std::string("ended ") + (e.byFailure ? "by failure " : "") + e.text +
                         " after " + std::to_string(e.lastCount));
    }
    std::vector<std::string> events;
};

TEST_F(EnduranceTest, RunsTellTheirObserversAndWriteTheirMoveTimes) {
    const std::string timeout = "OpenShutter Error: -1 Timed out waiting for shutter response";
    {
        RecordingObserver observer;
        shutter.silentCommand = 3;  // the final open of cycle 1
        StartBench();
        StopWhenStatusIs(PowerCutTestRunning(), "Power Cut Test:  2");
        RunPowerCutTest();
        EXPECT_THAT(observer.events,
                    ElementsAre("started powercut_log1.txt",
                                "row 1 SUCCESS '" + timeout + "' open no close yes",
                                "row 2 SUCCESS '' open yes close yes",
                                "ended Test stopped by user after 2"));
        EXPECT_TRUE(std::regex_match(Log("powercut_log1-moves.tsv"),
                                     std::regex("Count\tOpen ms\tClose ms\r\n1\t\t[0-9]+\r\n"
                                                "2\t[0-9]+\t[0-9]+\r\n")))
            << Log("powercut_log1-moves.tsv");
    }
    RecordingObserver observer;
    shutter.commands = 0;
    shutter.silentCommand = 0;
    shutter.failCommand = 3;  // the first cycle's close
    StartBench();
    RunCycleTest();
    ASSERT_EQ(observer.events.size(), 3u);
    EXPECT_EQ(observer.events[0], "started cycle_log1.txt");
    EXPECT_EQ(observer.events[1].rfind("row 1 FAILURE 'CloseShutter Error: ", 0), 0u);
    EXPECT_NE(observer.events[1].find("' open yes close no"), std::string::npos);
    EXPECT_EQ(observer.events[2].rfind("ended by failure CloseShutter Error: ", 0), 0u);
    EXPECT_EQ(Log("cycle_log1.txt").find("moves"), std::string::npos);
}

TEST_F(EnduranceTest, PowerCutWithoutDevicesRowsEveryPowerOffPlusFortyTicks) {
    StartBench(0, 0, 1, 3);
    std::vector<int64_t> rowTicks;
    status.onText = [&](const std::string&) {
        rowTicks.push_back(AppTicks() - start);
        if (rowTicks.size() == 3) PowerCutTestRunning() = false;
    };
    RunPowerCutTest();
    EXPECT_THAT(rowTicks, ElementsAre(80, 150, 220, 220));
}

TEST_F(EnduranceTest, PowerCutStopDuringTheSecondAfterOpenLeavesPowerOnAndNoRow) {
    StartBench();
    StopAt(PowerCutTestRunning(), 52);  // OPEN went out at 48, the cut is due at 58
    RunPowerCutTest();
    EXPECT_EQ(AppTicks() - start, 52);
    EXPECT_EQ(supplyPort.sent.back().text, kOn);
    EXPECT_EQ(shutterPort.sent.back().text, "OPEN\r");
    EXPECT_THAT(status.texts, ElementsAre("Test stopped by user"));
    ExpectLog("powercut_log1.txt", Header("Shutter Power Cut Test"));
}

TEST_F(EnduranceTest, PowerCutStopsAtThePowerOffAndCutWaits) {
    for (int64_t stopAt : {30, 70}) {  // step d, step j
        supplyPort.sent.clear();
        shutterPort.sent.clear();
        status.texts.clear();
        StartBench();
        StopAt(PowerCutTestRunning(), stopAt);
        RunPowerCutTest();
        EXPECT_EQ(AppTicks() - start, stopAt);
        EXPECT_EQ(status.Last(), "Test stopped by user");
    }
}

INSTANTIATE_TEST_SUITE_P(
    PowerCutTest, StepFailureTest,
    ::testing::Values(
        FailureCase{"FirstPowerOn", 3, 0, Row(1, "FAILURE", "PowerOn Error: " + kError), true},
        FailureCase{"Close", 0, 1, Row(1, "FAILURE", "CloseShutter Error: ERR JAM RDY\r"), true},
        FailureCase{"PowerOff", 4, 0, Row(1, "FAILURE", "PowerOff Error: " + kError), true},
        FailureCase{"PowerOnAfterOff", 5, 0, Row(1, "FAILURE", "PowerOn Error: " + kError), true},
        FailureCase{"TheCut", 6, 0, Row(1, "FAILURE", "PowerSupply Error: " + kError), true},
        FailureCase{"PowerBack", 7, 0, Row(1, "FAILURE", "PowerOn Error: " + kError), true}),
    [](const auto& testInfo) { return std::string(testInfo.param.name); });

TEST_F(EnduranceTest, LogThatCannotBeCreatedStopsTheTestBeforeAnythingIsSent) {
#ifdef _WIN32
    GTEST_SKIP() << "a folder that refuses new files needs POSIX permissions or /proc; Windows "
                    "under Wine as root has neither";
#else
    StartBench();
    const std::string place = geteuid() == 0 ? "/proc" : folder.path();
    if (geteuid() != 0) {
        std::filesystem::permissions(
            place, std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
    }
    std::filesystem::current_path(place);
    RunCycleTest();
    RunPowerCutTest();
    std::filesystem::current_path(folder.path());
    EXPECT_TRUE(supplyPort.sent.empty());
    EXPECT_TRUE(shutterPort.sent.empty());
    ASSERT_EQ(status.texts.size(), 2u);
    EXPECT_EQ(status.texts[0].rfind("Cannot create the cycle test log cycle_log1.txt in", 0), 0u);
    EXPECT_EQ(status.texts[1].rfind("Cannot create the power cut test log powercut_log1.txt", 0),
              0u);
#endif
}

TEST_F(EnduranceTest, WindowClosingMidCycleEndsLikeAStopAndSendsNothingMore) {
    StartBench();
    int64_t closedAt = 0;
    pump.At(start + 90, [&] {  // cycle 2, during the power-on exchange
        closedAt = AppTicks();
        CycleTestRunning() = false;
        RequestShutdown();
    });
    RunCycleTest();
    EXPECT_LE(AppTicks() - closedAt, 1);
    for (const auto* port : {&supplyPort, &shutterPort}) {
        EXPECT_LE(port->sent.back().tick, closedAt);
    }
    ExpectLog("cycle_log1.txt", Header("Shutter Cycle Test") + Row(1, "SUCCESS", "NONE"));
    ResetTicksAndShutdown();
}

TEST_F(EnduranceTest, CountGoesOnPast32767WithoutWrapping) {
    StartBench(0, 0, 0, 0);
    StopWhenStatusIs(CycleTestRunning(), "Cycle Test:  32769");
    const auto began = std::chrono::steady_clock::now();
    RunCycleTest();
    const auto seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
    std::cout << "32769 cycles (" << AppTicks() - start << " simulated ticks) took " << seconds
              << " s\n";
    const std::string content = Log("cycle_log1.txt");
    for (const char* count :
         {"\r\n32767\tSUCCESS\t", "\r\n32768\tSUCCESS\t", "\r\n32769\tSUCCESS\t"}) {
        EXPECT_NE(content.find(count), std::string::npos) << count;
    }
    EXPECT_EQ(content.find("\r\n-32768\t"), std::string::npos);
    EXPECT_EQ(status.texts[status.texts.size() - 2], "Cycle Test:  32769");
}

TEST_F(EnduranceTest, EachRunWritesTheNextLog) {
    StartBench(0, 0, 0, 0);
    StopWhenStatusIs(CycleTestRunning(), "Cycle Test:  1");
    RunCycleTest();
    StopWhenStatusIs(PowerCutTestRunning(), "Power Cut Test:  1");
    RunPowerCutTest();
    StopWhenStatusIs(CycleTestRunning(), "Cycle Test:  1");
    RunCycleTest();
    EXPECT_TRUE(std::filesystem::exists("cycle_log2.txt"));
    EXPECT_TRUE(std::filesystem::exists("powercut_log1.txt"));
    EXPECT_FALSE(std::filesystem::exists("powercut_log2.txt"));
}

}  // namespace
}  // namespace varnholt

namespace varnholt {
namespace {

TEST_F(EnduranceTest, AShutterLinePulledDuringTheHoldIsOneFailureRowNamingTheLine) {
    StartBench();
    pump.At(start + 50, [this] { shutterPort.Unplug("/dev/serial/by-id/usb-shutter"); });  // hold
    RunCycleTest();
    const std::string text =
        "CloseShutter Error: -1 Serial port 1 (/dev/serial/by-id/usb-shutter) was disconnected";
    EXPECT_EQ(status.Last(), text);
    ExpectLog("cycle_log1.txt",
              Header("Shutter Cycle Test") +
                  Row(1, "FAILURE", std::regex_replace(text, std::regex(R"([()])"), R"(\$&)")));
    EXPECT_EQ(AppTicks() - start, 57);  // at once, where the close would have gone out
}

}  // namespace
}  // namespace varnholt

namespace varnholt {
namespace {

// The run record beside each log: made at the start with the unit and lot,
// ended null while the run goes on, and written again at its end with how it
// ended and the last Count. One left from elsewhere is never written over.
TEST_F(EnduranceTest, ARunRecordFollowsEachRunFromStartToEnd) {
    struct Seen : RunObserver {
        Seen() { AddRunObserver(this); }
        ~Seen() override { RemoveRunObserver(this); }
        void OnRowWritten(const RowWritten& e) override {
            if (e.count == 1) whileRunning = ReadWhole(RunRecordName(e.log));
        }
        static std::string ReadWhole(const std::string& name) {
            std::ifstream in(name, std::ios::binary);
            return std::string(std::istreambuf_iterator<char>(in), {});
        }
        std::string whileRunning;
    };
    SetUnitUnderTest({"SN-0012", "L7"});
    {
        Seen seen;
        StartBench();
        StopWhenStatusIs(CycleTestRunning(), "Cycle Test:  2");
        RunCycleTest();
        std::string problem;
        const auto during = ParseRunRecord(seen.whileRunning, problem);
        ASSERT_TRUE(during) << problem;
        EXPECT_FALSE(during->ended || during->endedUtc);
        EXPECT_EQ(during->unit, "SN-0012");
        const auto after = ParseRunRecord(Log("cycle_log1-run.json"), problem);
        ASSERT_TRUE(after) << problem;
        EXPECT_EQ(after->log, "cycle_log1.txt");
        EXPECT_EQ(after->kind, "cycle");
        EXPECT_EQ(after->lot, "L7");
        EXPECT_EQ(after->ended, "stopped");
        EXPECT_EQ(after->lastCount, 2);
        ASSERT_TRUE(after->endedUtc);
        EXPECT_GE(*after->endedUtc, after->startedUtc);
        EXPECT_LE(std::abs(after->utcOffsetMinutes), 14 * 60);
    }
    const struct {
        int failCommand;
        const char* ended;
    } endings[] = {{3, "failure"}};
    for (const auto& ending : endings) {
        shutter.commands = 0;
        shutter.failCommand = ending.failCommand;
        SetUnitUnderTest({});
        StartBench();
        RunCycleTest();
        std::string problem;
        const auto record = ParseRunRecord(Log("cycle_log2-run.json"), problem);
        ASSERT_TRUE(record) << problem;
        EXPECT_EQ(record->ended, ending.ended);
        EXPECT_EQ(record->unit, "");
        EXPECT_EQ(record->lastCount, 1);
    }
    // A record already there for the next log's name is left alone.
    folder.Write("cycle_log3-run.json", "not ours");
    shutter.commands = 0;
    StartBench();
    RunCycleTest();
    EXPECT_EQ(Log("cycle_log3-run.json"), "not ours");
    EXPECT_NE(Log("cycle_log3.txt").find("FAILURE"), std::string::npos);
    SetUnitUnderTest({});
}

}  // namespace
}  // namespace varnholt
