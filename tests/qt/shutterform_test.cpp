#include "window/shutterform.h"

#include <gtest/gtest.h>
#include <spdlog/spdlog.h>

#include <QElapsedTimer>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSet>
#include <QSplitter>
#include <QTabWidget>
#include <QTableView>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <functional>

#include "runlog/log_format.h"
#include "runlog/run_record.h"
#include "sequencing/configuration.h"
#include "sequencing/run_flags.h"
#include "tests/support/fake_bench.h"
#include "tests/support/temp_dir.h"
#include "timing/clock.h"
#include "window/event_pump.h"
#include "window/runs_model.h"
#include "window/wire_trace.h"

namespace varnholt {
namespace {

using testing::FakePort;
using testing::FakeShutter;
using testing::FakeSupply;
using testing::WorkingFolder;

const char* const kButtons[] = {"OpenCmd",     "CloseCmd",     "PowerOnCmd",
                                "PowerOffCmd", "CycleTestCmd", "PowerCutTestCmd"};

// Runs `action` from the event loop after `ms`, while a handler is waiting.
void Later(int ms, std::function<void()> action) { QTimer::singleShot(ms, action); }

class WindowTest : public ::testing::Test {
protected:
    WindowTest() {
        InstallQtEventPump();
        supply.replyTicks = 1;
        shutter.moveTicks = 2;
    }

    void Start(const std::string& ini) {
        folder.Write("kestrane.ini", ini);
        form = std::make_unique<ShutterForm>(&shutterPort, &supplyPort);
        form->Form_Load();
    }
    void StartWithDevices() {
        Start(
            "[TestPeriods]\nSampleTimePeriod=1\nPowerOffPeriod=1\n"
            "[Communications]\nPowerSupplyPort=2\nShutterPort=1\n");
    }
    void StartWithoutDevices() {
        Start(
            "[TestPeriods]\nSampleTimePeriod=1\nPowerOffPeriod=1\n"
            "[Communications]\nPowerSupplyPort=0\nShutterPort=0\n");
    }

    QPushButton* Button(const char* name) { return form->findChild<QPushButton*>(name); }
    QString Status() { return form->findChild<QPlainTextEdit*>("StatusText")->toPlainText(); }
    std::vector<std::string> Enabled() {
        std::vector<std::string> names;
        for (const char* name : kButtons) {
            if (Button(name)->isEnabled()) names.push_back(name);
        }
        return names;
    }
    void Click(const char* name) { QTest::mouseClick(Button(name), Qt::LeftButton); }

    WorkingFolder folder;
    FakePort supplyPort, shutterPort;
    FakeSupply supply{supplyPort};
    FakeShutter shutter{shutterPort};
    std::unique_ptr<ShutterForm> form;
};

using Names = std::vector<std::string>;
const Names kAll(std::begin(kButtons), std::end(kButtons));

TEST_F(WindowTest, StartUpWithDevicesEnablesEverythingAndShowsOk) {
    StartWithDevices();
    EXPECT_EQ(Status(), "OK");
    EXPECT_EQ(Enabled(), kAll);
    EXPECT_TRUE(form->isVisible());
    EXPECT_TRUE(form->findChild<QPlainTextEdit*>("StatusText")->isReadOnly());
    EXPECT_EQ(supplyPort.Wire().rfind("SYST:REM\r\n", 0), 0u);
}

TEST_F(WindowTest, FailedStartUpShowsTheReasonAndLeavesEveryButtonDisabled) {
    supply.silent = true;
    StartWithDevices();
    EXPECT_EQ(Status(), "Configuration Error: -1 Timed out waiting for power supply");
    EXPECT_EQ(Enabled(), Names{});
    EXPECT_TRUE(shutterPort.setup.empty());
}

TEST_F(WindowTest, BadValueInTheIniFileIsShownAsASentence) {
    Start("[Communications]\nPowerSupplyPort=COM4\n");
    EXPECT_EQ(Status(),
              "Configuration Error: kestrane.ini: [Communications] PowerSupplyPort = 'COM4' is not "
              "a whole number; give the serial port number, 0 for no power supply.");
    EXPECT_EQ(Enabled(), Names{});
}

// The Runs window opened during a cycle test: the test goes on, and its
// log is listed as running and kept up to date as rows arrive.
TEST_F(WindowTest, TheRunsWindowFollowsARunningTestWithoutStoppingIt) {
    StartWithoutDevices();
    folder.Write("powercut_log4.txt",
                 "Shutter Power Cut Test\r\nStarted on 12/8/2026 at 3:07:09 PM"
                 "\r\n\r\nCount\tStatus\tTime\tError\r\n1\tSUCCESS\t3:07:14 PM"
                 "\t\r\n");
    QTableView* list = nullptr;
    QStringList seen;
    Later(200, [&] { Click("RunsCmd"); });
    for (int ms = 400; ms <= 4400; ms += 400) {
        Later(ms, [&] {
            list = form->findChild<QTableView*>("RunsList");
            if (list != nullptr && list->model()->rowCount() > 0) {
                seen << list->model()->index(0, 0).data().toString() + " " +
                            list->model()->index(0, 3).data().toString();
            }
        });
    }
    Later(4600, [&] { Click("CycleTestCmd"); });  // stop
    Click("CycleTestCmd");
    ASSERT_NE(list, nullptr);
    ASSERT_FALSE(seen.isEmpty());
    EXPECT_TRUE(seen.first().startsWith("cycle_log1.txt  (running) "))
        << seen.join("|").toStdString();
    // Counted up while the test ran (a cycle without devices takes 2 s).
    EXPECT_NE(seen.first(), seen.last()) << seen.join("|").toStdString();
    EXPECT_EQ(Status(), "Test stopped by user");
    EXPECT_GE(folder.Read("cycle_log1.txt").size(), 100u);
    EXPECT_EQ(list->model()->rowCount(), 2);
    const auto* total = form->findChild<QLabel*>("RunsTotal");
    ASSERT_NE(total, nullptr);
    // Each kind apart: the power-cut log's cycle is not a cycle-test cycle.
    EXPECT_TRUE(total->text().startsWith("Folder total, cycle test: 1 run, ") &&
                total->text().contains("\nFolder total, power cut test: 1 run, 1 cycle, "))
        << total->text().toStdString();
}

TEST_F(WindowTest, ManualCommandsWithoutDevicesAnswerOkAtOnce) {
    StartWithoutDevices();
    for (const char* name : {"OpenCmd", "CloseCmd", "PowerOnCmd", "PowerOffCmd"}) {
        form->findChild<QPlainTextEdit*>("StatusText")->setPlainText("");
        // Any wait would pass through the event pump; these never do.
        int pumped = 0;
        InstallEventPump([&pumped] { ++pumped; });
        Click(name);
        InstallQtEventPump();
        EXPECT_EQ(Status(), "OK") << name;
        EXPECT_EQ(pumped, 0) << name;
        EXPECT_EQ(Enabled(), kAll);
    }
}

TEST_F(WindowTest, ShutterCommandLocksShutterAndTestButtonsOnly) {
    StartWithDevices();
    Names during;
    Later(50, [&] { during = Enabled(); });
    Click("OpenCmd");
    EXPECT_EQ(during, (Names{"PowerOnCmd", "PowerOffCmd"}));
    EXPECT_EQ(Status(), "OK");
    EXPECT_EQ(Enabled(), kAll);
    EXPECT_EQ(shutterPort.Wire(), "OPEN\r");
}

TEST_F(WindowTest, PowerCommandLocksOnlyThePowerButtons) {
    StartWithDevices();
    Names during;
    Later(50, [&] { during = Enabled(); });
    Click("PowerOnCmd");
    EXPECT_EQ(during, (Names{"OpenCmd", "CloseCmd", "CycleTestCmd", "PowerCutTestCmd"}));
    EXPECT_EQ(Status(), "OK");
}

TEST_F(WindowTest, DeviceErrorsAreShownWithTheirPrefix) {
    StartWithDevices();
    shutter.failCommand = 1;
    Click("CloseCmd");
    EXPECT_EQ(Status(), "Shutter Error: ERR JAM RDY\n");
    supply.failCommand = supply.commands + 1;
    Click("PowerOffCmd");
    EXPECT_EQ(Status(), "Power Supply Error: -222,\"Data out of range\"\n");
    EXPECT_EQ(Enabled(), kAll);
}

TEST_F(WindowTest, TestStartedAndStoppedByClicks) {
    StartWithoutDevices();
    Names running, stopping;
    QString runningCaption, stoppingCaption;
    Later(300, [&] {
        running = Enabled();
        runningCaption = Button("CycleTestCmd")->text();
        Click("CycleTestCmd");  // the stop click, inside the test's wait
        stopping = Enabled();
        stoppingCaption = Button("CycleTestCmd")->text();
    });
    Click("CycleTestCmd");
    EXPECT_EQ(running, Names{"CycleTestCmd"});
    EXPECT_EQ(runningCaption, "Stop Cycle Test");
    EXPECT_EQ(stopping, Names{});
    EXPECT_EQ(stoppingCaption, "Stop Cycle Test");
    EXPECT_EQ(Button("CycleTestCmd")->text(), "Start Cycle Test");
    EXPECT_EQ(Status(), "Test stopped by user");
    EXPECT_EQ(Enabled(), kAll);

    Later(300, [&] {
        runningCaption = Button("PowerCutTestCmd")->text();
        running = Enabled();
        Click("PowerCutTestCmd");
    });
    Click("PowerCutTestCmd");
    EXPECT_EQ(runningCaption, "Stop Power Test");
    EXPECT_EQ(running, Names{"PowerCutTestCmd"});
    EXPECT_EQ(Button("PowerCutTestCmd")->text(), "Start Power Test");
    EXPECT_TRUE(QFile::exists("cycle_log1.txt"));
    EXPECT_TRUE(QFile::exists("powercut_log1.txt"));
}

TEST_F(WindowTest, FailureEndsATestWithoutAClick) {
    StartWithDevices();
    supply.failCommand = supply.commands + 1;  // the test's first power-on
    Click("CycleTestCmd");
    EXPECT_EQ(Status(), "PowerOn Error: -222,\"Data out of range\"\n");
    EXPECT_EQ(Button("CycleTestCmd")->text(), "Start Cycle Test");
    EXPECT_EQ(Enabled(), kAll);
}

TEST_F(WindowTest, TestStartedWhileAPowerCommandWaitsRunsNestedInsideIt) {
    StartWithDevices();
    supply.silent = true;
    Names afterTest;
    int handlersAfterTest = 0;
    Later(150, [&] {
        Click("CycleTestCmd");  // enabled: a power command locks only its own group
        afterTest = Enabled();
        handlersAfterTest = form->HandlersRunning();
    });
    Click("PowerOnCmd");
    // The nested test failed on the silent supply and enabled everything,
    // the power buttons of the still-waiting command included.
    EXPECT_EQ(afterTest, kAll);
    EXPECT_EQ(handlersAfterTest, 1);
    EXPECT_EQ(Status(), "Power Supply Error: -1 Timed out waiting for power supply");
}

TEST_F(WindowTest, ClosingDuringATestEndsItLikeAStopAndSendsNothingMore) {
    StartWithDevices();
    int64_t closedAtTick = 0;
    QElapsedTimer sinceClose;
    Later(3500, [&] {  // well into the first cycles
        closedAtTick = AppTicks();
        sinceClose.start();
        form->close();
    });
    Click("CycleTestCmd");
    EXPECT_LT(sinceClose.elapsed(), 1000);
    EXPECT_TRUE(ShutdownRequested());
    EXPECT_EQ(form->HandlersRunning(), 0);
    for (const auto* port : {&supplyPort, &shutterPort}) {
        EXPECT_LE(port->sent.back().tick, closedAtTick);
    }
    const std::string log = folder.Read("cycle_log1.txt");
    EXPECT_EQ(log.substr(log.size() - 2), "\r\n");
    EXPECT_EQ(log.find("FAILURE"), std::string::npos) << log;
}

TEST_F(WindowTest, ControlsHaveTheirNamesCaptionsGeometryAndTabOrder) {
    StartWithoutDevices();
    EXPECT_EQ(form->windowTitle(), "Varnholt");
    EXPECT_EQ(form->size(), QSize(519, 391));
    EXPECT_FALSE(form->windowIcon().isNull());
    EXPECT_EQ(form->windowIcon().pixmap(32, 32).size(), QSize(32, 32));
    struct Expected {
        const char* name;
        const char* container;
        const char* caption;
        QRect twips;
    };
    const Expected table[] = {
        {"StatusLabel", "ShutterForm", "System Staus", {120, 360, 1335, 255}},
        {"StatusText", "ShutterForm", nullptr, {120, 600, 4455, 1575}},
        {"ControlFrame", "ShutterForm", "Manual Control", {240, 2760, 4095, 2775}},
        {"ShutterLabel", "ControlFrame", "Shutter", {240, 360, 1095, 255}},
        {"OpenCmd", "ControlFrame", "Open", {240, 720, 1335, 735}},
        {"CloseCmd", "ControlFrame", "Close", {240, 1680, 1335, 735}},
        {"PowerSupplyLabel", "ControlFrame", "Power Supply", {2520, 360, 1215, 255}},
        {"PowerOnCmd", "ControlFrame", "Power On", {2520, 720, 1335, 735}},
        {"PowerOffCmd", "ControlFrame", "Power Off", {2520, 1680, 1335, 735}},
        {"TestsFrame", "ShutterForm", "Tests", {5160, 2760, 2295, 2775}},
        {"CycleTestCmd", "TestsFrame", "Start Cycle Test", {240, 720, 1815, 735}},
        {"PowerCutTestCmd", "TestsFrame", "Start Power Test", {240, 1680, 1815, 735}},
    };
    for (const auto& e : table) {
        auto* w = form->findChild<QWidget*>(e.name);
        ASSERT_NE(w, nullptr) << e.name;
        EXPECT_EQ(w->parentWidget()->objectName(), e.container) << e.name;
        const QRect& t = e.twips;
        EXPECT_EQ(w->geometry(), QRect(t.x() / 15, t.y() / 15, t.width() / 15, t.height() / 15))
            << e.name;
        if (e.caption == nullptr) continue;
        if (auto* b = qobject_cast<QPushButton*>(w)) {
            EXPECT_EQ(b->text(), e.caption);
        }
        if (auto* l = qobject_cast<QLabel*>(w)) {
            EXPECT_EQ(l->text(), e.caption);
        }
        if (auto* g = qobject_cast<QGroupBox*>(w)) {
            EXPECT_EQ(g->title(), e.caption);
        }
    }
    QStringList order;
    QWidget* w = form->findChild<QWidget*>("StatusText");
    for (int i = 0; i < 7; ++i, w = w->nextInFocusChain()) {
        while (w->focusPolicy() == Qt::NoFocus) w = w->nextInFocusChain();
        order << w->objectName();
    }
    EXPECT_EQ(order, (QStringList{"StatusText", "CycleTestCmd", "PowerCutTestCmd", "PowerOffCmd",
                                  "PowerOnCmd", "CloseCmd", "OpenCmd"}));

    const QPixmap shot = form->grab();
    EXPECT_EQ(shot.size(), QSize(519, 391));
    // Rendered: every button's area shows a drawn button, and the empty top
    // right of the window is plain background.
    const QImage image = shot.toImage();
    auto colours = [&image](const QRect& area) {
        QSet<QRgb> seen;
        for (int y = area.top(); y <= area.bottom(); ++y) {
            for (int x = area.left(); x <= area.right(); ++x) seen.insert(image.pixel(x, y));
        }
        return seen.size();
    };
    for (const char* name : kButtons) {
        auto* b = Button(name);
        EXPECT_GT(colours(QRect(b->mapTo(form.get(), QPoint(0, 0)), b->size())), 3) << name;
    }
    // Above the Unit field the window's top right stays empty.
    EXPECT_EQ(colours(QRect(320, 4, 190, 28)), 1);
}

// The Runs window's Units view: the folder's shutters over their runs, the
// lot's Weibull figures and how far its units are along the plan.
TEST_F(WindowTest, TheUnitsViewShowsUnitsTheirLotAndThePlan) {
    const int failAt[] = {150, 230, 310, 420, 480, 560, 700, 910};
    for (int i = 0; i < 8; ++i) {
        const std::string name = "cycle_log" + std::to_string(i + 1) + ".txt";
        std::string log =
            "Shutter Cycle Test\r\nStarted on 12/1/2026 at 8:00:00 AM\r\n\r\n"
            "Count\tStatus\tTime\tError\r\n";
        for (int row = 1; row <= failAt[i]; ++row) {
            log += std::to_string(row) + (row == failAt[i]
                                              ? "\tFAILURE\t9:00:00 AM\tOpenShutter Error: JAM\r\n"
                                              : "\tSUCCESS\t9:00:00 AM\tNONE\r\n");
        }
        folder.Write(name, log);
        RunRecord record;
        record.log = name;
        record.kind = "cycle";
        record.unit = "SN-" + std::to_string(i + 1);
        record.lot = "L7";
        record.ended = "failure";
        folder.Write(RunRecordName(name), RunRecordJson(record));
    }
    StartWithoutDevices();
    Click("RunsCmd");
    QTreeWidget* units = nullptr;
    for (int i = 0; i < 100 && (units == nullptr || units->topLevelItemCount() < 8); ++i) {
        QTest::qWait(50);
        units = form->findChild<QTreeWidget*>("UnitsList");
        // Worked out for the list only once the operator turns to it.
        if (auto* tabs = form->findChild<QTabWidget*>("RunsTabs")) tabs->setCurrentIndex(1);
    }
    ASSERT_NE(units, nullptr);
    ASSERT_EQ(units->topLevelItemCount(), 8);
    EXPECT_EQ(units->topLevelItem(1)->text(5), "failed at 230");
    // Every column of the runs in view at the window's size, none behind a
    // scroll bar.
    auto* runs = form->findChild<QTableView*>("RunsList");
    ASSERT_NE(runs, nullptr);
    EXPECT_LE(runs->horizontalHeader()->length(), runs->viewport()->width());
    // The title names the log shown, and follows the selection.
    runs->setCurrentIndex(runs->model()->index(1, 0));
    EXPECT_EQ(runs->window()->windowTitle(),
              QString::fromUtf8("Varnholt: Runs \u2014 ") +
                  runs->model()->index(1, 0).data(RunsModel::kLogRole).toString());
    // Nor when the other columns leave the last one just its contents.
    int ended = 0;
    for (int r = 0; r < runs->model()->rowCount(); ++r) {
        ended = std::max(ended,
                         runs->sizeHintForIndex(runs->model()->index(r, RunsModel::Ended)).width());
    }
    int others = 0;
    for (int c = 0; c < RunsModel::Ended; ++c) others += runs->columnWidth(c);
    runs->setColumnWidth(0, runs->columnWidth(0) + runs->viewport()->width() - others - ended - 4);
    QTest::qWait(50);
    EXPECT_LE(runs->horizontalHeader()->length(), runs->viewport()->width());
    units->setCurrentItem(units->topLevelItem(0));
    const QString lot = form->findChild<QLabel*>("LotFigures")->text();
    // The fit as R's survreg gives it for these eight failures.
    EXPECT_TRUE(
        lot.contains(QString::fromUtf8("Weibull \u03b2 2.14 (90 %: 1.28 to 3.24), \u03b7 533")))
        << lot.toStdString();
    // (ln 0.1 / (8 ln 0.9))^(1/2) = 1.6528137 times the target, rounded up.
    EXPECT_TRUE(lot.contains("each of its 8 units must pass 1,652,814 cycles"))
        << lot.toStdString();
    EXPECT_TRUE(lot.contains("8 failed: broken, a failure breaks a zero-failure plan"))
        << lot.toStdString();
}

// The Unit and Lot fields: proposed from the newest run record of the
// folder, locked while a test runs, and written into the run's record.
TEST_F(WindowTest, TheUnitFieldsLeadToTheRunRecord) {
    RunRecord older, newer;
    older.log = "cycle_log1.txt";
    older.kind = "cycle";
    older.unit = "SN-0001";
    older.startedUtc = 1000;
    newer = older;
    newer.log = "cycle_log2.txt";
    newer.unit = "SN-0012";
    newer.lot = "L7";
    newer.startedUtc = 2000;
    folder.Write("cycle_log1-run.json", RunRecordJson(older));
    folder.Write("cycle_log2-run.json", RunRecordJson(newer));
    folder.Write("cycle_log2.txt", "");  // a record counts only beside its log's name
    StartWithoutDevices();
    auto* unit = form->findChild<QLineEdit*>("UnitText");
    auto* lot = form->findChild<QLineEdit*>("LotText");
    ASSERT_TRUE(unit && lot);
    EXPECT_EQ(unit->text(), "SN-0012");
    EXPECT_EQ(lot->text(), "L7");
    EXPECT_FALSE(unit->isReadOnly());

    unit->setText("SN-00\t13");
    Click("CycleTestCmd");
    EXPECT_EQ(Status(), "The unit holds a control character (a tab or line end); type it again.");
    EXPECT_FALSE(QFile::exists("cycle_log3.txt"));

    unit->setText("  SN-0013 ");
    bool lockedWhileRunning = false;
    Later(300, [&] {
        // Held, and looking held: the window's grey, not an editable white.
        const QColor grey = QApplication::palette().color(QPalette::Window);
        lockedWhileRunning = unit->isReadOnly() && lot->isReadOnly() &&
                             unit->palette().color(QPalette::Base) == grey &&
                             lot->palette().color(QPalette::Base) == grey;
        Click("CycleTestCmd");
    });
    Click("CycleTestCmd");
    EXPECT_TRUE(lockedWhileRunning);
    EXPECT_FALSE(unit->isReadOnly());
    EXPECT_EQ(unit->palette().color(QPalette::Base), QApplication::palette().color(QPalette::Base));
    std::string problem;
    const auto record = ReadRunRecordOf("cycle_log3.txt", problem);
    ASSERT_TRUE(record) << problem;
    EXPECT_EQ(record->unit, "SN-0013");
    EXPECT_EQ(record->lot, "L7");
    EXPECT_EQ(record->ended, "stopped");
}

// The monitoring line never runs past its label: cut with an ellipsis, the
// whole sentence in its tooltip.
TEST_F(WindowTest, TheMonitoringLineIsElidedWithTheWholeTextAsTooltip) {
    StartWithoutDevices();
    const std::string line =
        "Monitoring: not connected (refused by broker.example.lab:1883), retrying in a while";
    form->SetMonitoringText(line);
    QCoreApplication::processEvents();
    auto* label = form->findChild<QLabel*>("MonitoringText");
    ASSERT_NE(label, nullptr);
    EXPECT_EQ(label->toolTip().toStdString(), line);
    EXPECT_LE(label->fontMetrics().horizontalAdvance(label->text()), label->width());
    EXPECT_TRUE(label->text().endsWith(QChar(0x2026))) << label->text().toStdString();
    form->SetMonitoringText("Monitoring: connected to b:1883");
    QCoreApplication::processEvents();
    EXPECT_EQ(label->text(), "Monitoring: connected to b:1883");
}

// A shutter whose life ended in a failure is not proposed again, and typing
// it is said under the field without refusing the test.
TEST_F(WindowTest, AFailedShutterIsNotProposedAndIsSaidWhenTyped) {
    std::string log =
        std::string("Shutter Cycle Test\r\nStarted on 12/1/2026 at 8:00:00 AM\r\n\r\n") +
        kLogColumns + "\r\n";
    for (int row = 1; row <= 31000; ++row) {
        log += std::to_string(row) + (row == 31000
                                          ? "\tFAILURE\t9:00:00 AM\tOpenShutter Error: JAM\r\n"
                                          : "\tSUCCESS\t9:00:00 AM\tNONE\r\n");
    }
    folder.Write("cycle_log1.txt", log);
    RunRecord record;
    record.log = "cycle_log1.txt";
    record.kind = "cycle";
    record.unit = "SN-0003";
    record.lot = "L7";
    record.ended = "failure";
    folder.Write("cycle_log1-run.json", RunRecordJson(record));
    StartWithoutDevices();
    auto* unit = form->findChild<QLineEdit*>("UnitText");
    auto* note = form->findChild<QLabel*>("UnitNote");
    ASSERT_TRUE(unit && note);
    EXPECT_EQ(unit->text(), "");
    EXPECT_EQ(form->findChild<QLineEdit*>("LotText")->text(), "L7");
    EXPECT_EQ(note->text(), "SN-0003 failed at 31,000 cycles; enter the next shutter");
    unit->setText("SN-0003");
    emit unit->editingFinished();
    EXPECT_EQ(note->text(),
              "SN-0003 failed at 31,000 cycles; its runs from now add nothing to its life");
    unit->setText("SN-0004");
    emit unit->editingFinished();
    EXPECT_EQ(note->text(), "");
}

// Device bytes in the log's visible form, the final line end a line break,
// folder names as the file system names them (UTF-8), stray bytes as Latin-1.
TEST(StatusDisplayText, DeviceBytesShowAsInTheLogAndPathsAsNamed) {
    const std::pair<std::string, QString> cases[] = {
        {"OK", "OK"},
        {"PowerOn Error: -222,\"x\"\r\n", "PowerOn Error: -222,\"x\"\n"},
        {"JAM\rRDY\r", "JAM<CR>RDY\n"},
        {std::string("Shutter Error: E2\0JAM\r", 22), "Shutter Error: E2<00>JAM\n"},
        {"E2\tJAM\x1b", "E2<TAB>JAM<1B>"},
        {"in /home/lab/Pr\xc3\xbc"
         "fstand: full",
         QString::fromUtf8("in /home/lab/Pr\u00fcfstand: full")},
        {std::string("\xff", 1), QString(QChar(0xff))},
        {"\xe2\x82", QString::fromUtf8("\u00e2\u0082")},
    };
    for (const auto& [text, shown] : cases) {
        EXPECT_EQ(StatusDisplayText(text), shown) << text;
        EXPECT_EQ(StatusDisplayText(text).indexOf(QChar(0)), -1);
    }
}

// A trace that can no longer be written is said once, as a sentence naming
// the file and the cause, not as spdlog's own error lines.
TEST(WireTrace, AWriteFailureIsToldOnceWithTheFileAndTheCause) {
    std::string errorText;
    ASSERT_TRUE(StartWireTrace("/dev/full", errorText)) << errorText;
    ::testing::internal::CaptureStderr();
    const auto trace = spdlog::get("wire");
    for (int i = 0; i < 3; ++i) {
        trace->info("/dev/ttyS0 > {}", std::string(8192, 'x'));
        trace->flush();
    }
    const std::string told = ::testing::internal::GetCapturedStderr();
    spdlog::drop("wire");
    EXPECT_EQ(told.find("LOG ERROR"), std::string::npos) << told;
    EXPECT_EQ(told.rfind("varnholt: Cannot write the trace file /dev/full in ", 0), 0u) << told;
    EXPECT_NE(told.find("(No space left on device); the test goes on"), std::string::npos) << told;
    EXPECT_EQ(std::count(told.begin(), told.end(), '\n'), 1) << told;
}

}  // namespace
}  // namespace varnholt
