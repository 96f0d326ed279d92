// The real window and serial adapter against varnholt-sim over real
// pseudo-terminals, clicked with QTest.

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <fstream>
#include <regex>

#include "sequencing/clock.h"
#include "tests/e2e/sim_process.h"
#include "tests/support/log_pattern.h"
#include "tests/support/temp_dir.h"
#include "window/event_pump.h"
#include "window/shutterform.h"

namespace varnholt {
namespace {

using testing::SimProcess;
using testing::WorkingFolder;


std::string Header(const std::string& title) { return testing::LogHeader(title); }
std::string Row(int64_t count, const std::string& state, const std::string& error) {
    return testing::LogRow(count, state, error);
}

long PeakResidentKiB() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmHWM:", 0) == 0) return std::stol(line.substr(6));
    }
    return -1;
}

class BenchTest : public ::testing::Test {
protected:
    BenchTest() { InstallQtEventPump(); }

    void Start(std::vector<std::string> options) {
        sim = std::make_unique<SimProcess>(folder.path(), options);
        ASSERT_TRUE(sim->ready());
        form = std::make_unique<ShutterForm>();
        form->Form_Load();
    }

    QPushButton* Button(const char* name) { return form->findChild<QPushButton*>(name); }
    QString Status() { return form->findChild<QPlainTextEdit*>("StatusText")->toPlainText(); }

    // Clicks `button` to start a test, and again once the status line shows
    // `stopAt`; returns when the test has ended.
    void RunTest(const char* button, const QString& stopAt, int limitMs = 60000) {
        QTimer watch;
        QElapsedTimer elapsed;
        elapsed.start();
        bool clicked = false;
        QObject::connect(&watch, &QTimer::timeout, [&] {
            if (!clicked && (Status() == stopAt || elapsed.elapsed() > limitMs)) {
                clicked = true;
                QTest::mouseClick(Button(button), Qt::LeftButton);
            }
        });
        watch.start(20);
        QTest::mouseClick(Button(button), Qt::LeftButton);
    }

    void ExpectLog(const std::string& name, const std::string& pattern) {
        const std::string content = folder.Read(name);
        EXPECT_TRUE(std::regex_match(content, std::regex(pattern))) << content;
    }

    WorkingFolder folder;
    std::unique_ptr<SimProcess> sim;
    std::unique_ptr<ShutterForm> form;
};

TEST_F(BenchTest, StartUpSucceedsOnTheSimulatedBench) {
    Start({});
    EXPECT_EQ(Status(), "OK");
    EXPECT_TRUE(Button("CycleTestCmd")->isEnabled());
    QTest::mouseClick(Button("PowerOnCmd"), Qt::LeftButton);
    EXPECT_EQ(Status(), "OK");
    QTest::mouseClick(Button("OpenCmd"), Qt::LeftButton);
    EXPECT_EQ(Status(), "OK");
    EXPECT_TRUE(sim->Stop());  // ends cleanly on SIGTERM
}

TEST_F(BenchTest, WrongIdentityStopsTheStartUp) {
    Start({"--bad-id"});
    EXPECT_EQ(Status(),
              "Configuration Error: Bad ID: AGILENT TECHNOLOGIES,E3631A,0,2.1-5.0-1.0\n");
    EXPECT_FALSE(Button("OpenCmd")->isEnabled());
}

TEST_F(BenchTest, SilentSupplyStopsTheStartUp) {
    Start({"--supply-silent"});
    EXPECT_EQ(Status(), "Configuration Error: -1 Timed out waiting for power supply");
    EXPECT_FALSE(Button("CycleTestCmd")->isEnabled());
}

TEST_F(BenchTest, ShutterWithoutPowerDoesNotAnswer) {
    Start({"--move-ms", "100"});
    QTest::mouseClick(Button("PowerOffCmd"), Qt::LeftButton);
    QTest::mouseClick(Button("OpenCmd"), Qt::LeftButton);
    EXPECT_EQ(Status(), "Shutter Error: -1 Timed out waiting for shutter response");
    EXPECT_TRUE(Button("OpenCmd")->isEnabled());
}

TEST_F(BenchTest, CycleTestLogsEveryCycle) {
    Start({"--sample-time", "0", "--power-off", "0", "--move-ms", "100", "--split"});
    RunTest("CycleTestCmd", "Cycle Test:  3");
    EXPECT_EQ(Status(), "Test stopped by user");
    ExpectLog("cycle_log1.txt", Header("Shutter Cycle Test") + Row(1, "SUCCESS", "NONE") +
                                    Row(2, "SUCCESS", "NONE") + Row(3, "SUCCESS", "NONE"));
}

TEST_F(BenchTest, PowerCutTestCutsAMoveAndThenOpens) {
    Start({"--power-off", "0", "--move-ms", "1200"});
    RunTest("PowerCutTestCmd", "Power Cut Test:  2");
    ExpectLog("powercut_log1.txt",
              Header("Shutter Power Cut Test") + Row(1, "SUCCESS", "") + Row(2, "SUCCESS", ""));
    // The OPEN sent before each cut went unanswered: the move was aborted.
    std::ifstream transcript(sim->transcriptPath);
    const std::string all((std::istreambuf_iterator<char>(transcript)), {});
    size_t opens = 0, readies = 0;
    for (size_t at = 0; (at = all.find("shutter < OPEN", at)) != std::string::npos; ++at) ++opens;
    for (size_t at = 0; (at = all.find("shutter > RDY", at)) != std::string::npos; ++at) ++readies;
    // Cycle 3 has closed the shutter before the stop is seen at its wait.
    EXPECT_EQ(opens, 4u);
    EXPECT_EQ(readies, 5u);  // three closes, two final opens
}

TEST_F(BenchTest, SupplyErrorMidRunEndsWithOneFailureRow) {
    // Error queries: reset 1, apply 2, preparation 3 and 4, cycle 1: 5 and 6.
    Start({"--sample-time", "0", "--power-off", "0", "--move-ms", "100", "--supply-error-at",
           "7"});
    RunTest("CycleTestCmd", "never");
    EXPECT_EQ(Status(), "PowerOn Error: -222,\"Data out of range\"\n");
    ExpectLog("cycle_log1.txt",
              Header("Shutter Cycle Test") + Row(1, "SUCCESS", "NONE") +
                  Row(2, "FAILURE", "PowerOn Error: -222,\"Data out of range\"\r\n"));
    EXPECT_EQ(Button("CycleTestCmd")->text(), "Start Cycle Test");
}

TEST_F(BenchTest, ShutterLineGoingAwayMidRunIsAFailureNotAHang) {
    Start({"--sample-time", "0", "--power-off", "0", "--move-ms", "100", "--drop-shutter-at",
           "3"});
    QElapsedTimer elapsed;
    elapsed.start();
    RunTest("CycleTestCmd", "never");
    EXPECT_LT(elapsed.elapsed(), 15000);
    EXPECT_EQ(Status(), "CloseShutter Error: -1 Timed out waiting for shutter response");
    ExpectLog("cycle_log1.txt",
              Header("Shutter Cycle Test") +
                  Row(1, "FAILURE", "CloseShutter Error: -1 Timed out waiting for shutter response"));
    QTest::mouseClick(Button("OpenCmd"), Qt::LeftButton);  // the port stays usable, if dead
    EXPECT_EQ(Status(), "Shutter Error: -1 Timed out waiting for shutter response");
}

TEST_F(BenchTest, AReplyCarryingALogRowCannotForgeOne) {
    // Shutter commands: preparation close 1, cycle 1: open 2, close 3.
    Start({"--sample-time", "0", "--power-off", "0", "--move-ms", "100", "--shutter-forge-at",
           "3"});
    RunTest("CycleTestCmd", "never");
    const std::string log = folder.Read("cycle_log1.txt");
    ExpectLog("cycle_log1.txt",
              Header("Shutter Cycle Test") +
                  Row(1, "FAILURE",
                      "CloseShutter Error: E2<TAB>JAM<CR><LF>77<TAB>SUCCESS<TAB>1:00:00 "
                      "PM<TAB>NONE<CR><LF>RDY\r"));
    // Every row after the column header has its four fields on one line.
    const std::string rows = log.substr(log.find("Error\r\n") + 7);
    size_t lines = 0;
    for (size_t at = 0, end; (end = rows.find("\r\n", at)) != std::string::npos; at = end + 2) {
        const std::string row = rows.substr(at, end - at);
        EXPECT_EQ(std::count(row.begin(), row.end(), '\t'), 3) << row;
        ++lines;
    }
    EXPECT_EQ(lines, 1u);
}

TEST_F(BenchTest, FloodWithoutLineEndNeitherCrashesNorGrowsMemory) {
    Start({"--sample-time", "0", "--power-off", "0", "--move-ms", "100", "--flood-shutter-at",
           "2"});
    const long before = PeakResidentKiB();
    RunTest("CycleTestCmd", "never");
    EXPECT_EQ(Status(), "OpenShutter Error: -1 Timed out waiting for shutter response");
    const long growth = PeakResidentKiB() - before;
    std::cout << "peak memory growth during a 5 s flood: " << growth << " KiB\n";
    EXPECT_LT(growth, 32 * 1024);
}

TEST_F(BenchTest, ClosingTheWindowMidRunEndsTheTestAndSendsNothingMore) {
    Start({"--sample-time", "1", "--power-off", "0", "--move-ms", "300"});
    QElapsedTimer sinceClose;
    std::string transcriptAtClose;
    QTimer::singleShot(4000, [&] {
        sinceClose.start();
        form->close();
    });
    QTest::mouseClick(Button("CycleTestCmd"), Qt::LeftButton);
    EXPECT_LT(sinceClose.elapsed(), 1000);
    EXPECT_TRUE(ShutdownRequested());
    QTest::qWait(100);
    std::ifstream at(sim->transcriptPath);
    const std::string first((std::istreambuf_iterator<char>(at)), {});
    QTest::qWait(1500);
    std::ifstream later(sim->transcriptPath);
    const std::string second((std::istreambuf_iterator<char>(later)), {});
    EXPECT_EQ(second.substr(first.size()).find(" < "), std::string::npos)
        << second.substr(first.size());
    const std::string log = folder.Read("cycle_log1.txt");
    EXPECT_TRUE(std::regex_match(log, std::regex(Header("Shutter Cycle Test") + "(" +
                                                 Row(0, "SUCCESS", "NONE").replace(0, 1, "[0-9]+") +
                                                 ")*")))
        << log;
}

}  // namespace
}  // namespace varnholt
