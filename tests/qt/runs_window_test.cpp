#include "window/runs_window.h"

#include <gtest/gtest.h>

#include <QFont>
#include <QSignalSpy>
#include <QSize>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <limits>
#include <string>

#include "charts/weibull_plot.h"
#include "runlog/run_record.h"
#include "tests/support/temp_dir.h"
#include "window/runs_model.h"

namespace varnholt {
namespace {

namespace fs = std::filesystem;

std::string Log(int rows) {
    std::string text =
        "Shutter Cycle Test\r\nStarted on 12/8/2026 at 3:07:09 PM\r\n\r\n"
        "Count\tStatus\tTime\tError\r\n";
    for (int i = 1; i <= rows; ++i)
        text += std::to_string(i) + "\tSUCCESS\t3:07:1" + std::to_string(i % 10) + " PM\tNONE\r\n";
    return text;
}

// The folder as if nothing had been made in it for a while.
void AgeFolder(std::chrono::minutes ago) {
    fs::last_write_time(".", fs::file_time_type::clock::now() - ago);
}

const RunRow* RunOf(const std::shared_ptr<const RunsSnapshot>& snapshot, const std::string& file) {
    for (const auto& [row, run] : snapshot->changed) {
        if (run->file() == file) return run.get();
    }
    for (const auto& run : snapshot->runs) {
        if (run->file() == file) return run.get();
    }
    return nullptr;
}

// The fitted and the Weibayes lines are the lives they stand for, whatever
// the frame cuts off: slope beta, and B1, B10, B50 where the fit puts them.
TEST(WeibullPlot, TheDrawnLineIsTheFit) {
    const struct {
        double beta, eta, logLow, logHigh;
    } cases[] = {
        {2.1021, 15585 / 0.3425, 3, 6},  // a lot's fit, on a frame a little wider than the data
        {2.0, 5000, 3.5, 3.9},           // a narrow spread: both ends cut by the cycles axis
        {0.05, 1e6, -10, 20},            // beta near 0: cut by the unreliability axis
        {40, 800000, 5.8, 6.0},
    };
    const double yLow = std::log(-std::log1p(-0.001)), yHigh = std::log(-std::log1p(-0.999));
    for (const auto& c : cases) {
        LifeLine l;
        ASSERT_TRUE(LifeLineInFrame(c.beta, c.eta, c.logLow, c.logHigh, yLow, yHigh, l)) << c.beta;
        const double slope = (l.toY - l.fromY) / (l.toLog - l.fromLog);
        EXPECT_NEAR(slope / (c.beta * std::log(10.0)), 1.0, 0.005) << c.beta;
        for (const double percent : {1.0, 10.0, 50.0}) {
            const double y = std::log(-std::log1p(-percent / 100));
            const double drawn = std::pow(10.0, l.fromLog + (y - l.fromY) / slope);
            EXPECT_NEAR(drawn / BLife(c.beta, c.eta, percent), 1.0, 0.005)
                << c.beta << " " << percent;
        }
        for (const double logT : {l.fromLog, l.toLog}) {
            EXPECT_GE(logT, c.logLow - 1e-9);
            EXPECT_LE(logT, c.logHigh + 1e-9);
        }
        for (const double y : {l.fromY, l.toY}) {
            EXPECT_GE(y, yLow - 1e-9);
            EXPECT_LE(y, yHigh + 1e-9);
        }
    }
    LifeLine l;
    EXPECT_FALSE(LifeLineInFrame(2.0, 1e9, 3, 4, yLow, yHigh, l));  // wholly right of the frame
    EXPECT_FALSE(LifeLineInFrame(0, 1000, 3, 4, yLow, yHigh, l));
}

// The cycles axis hugs what it shows, in 1-2-5 steps: lot M1's narrow
// spread, the README's lot L7, and a fit with beta near 0 whose ends the
// plot holds to two decades beyond the data.
TEST(WeibullPlot, TheCyclesAxisSpansTheDataIn125Steps) {
    const struct {
        double low, high, axisLow, axisHigh;
    } cases[] = {
        {5102, 6998, 5000, 10000},     // M1's failures and suspensions
        {3874, 151000, 2000, 200000},  // L7: its fit's B1 and B99 beyond its points
        {1, 1e6, 1, 1e6},              // beta near 0, held to two decades either side
        {5000, 5000, 5000, 10000},     // one count alone still makes an axis
        {0.3, 0.7, 0.2, 1},
    };
    for (const auto& c : cases) {
        double low = 0, high = 0;
        CyclesAxis(c.low, c.high, low, high);
        EXPECT_NEAR(std::pow(10.0, low), c.axisLow, c.axisLow * 1e-9) << c.low;
        EXPECT_NEAR(std::pow(10.0, high), c.axisHigh, c.axisHigh * 1e-9) << c.high;
    }
}

// 30 finished logs and a running one: a row of the running test looks at
// Counts as the plots, the PDF and the window print them: separators, and
// never a wrapped integer for a bound that is open or beyond any count.
TEST(CountText, SeparatorsAndNoWrappedIntegers) {
    const std::pair<double, const char*> cases[] = {
        {0, "0"},
        {15584.9, "15,585"},
        {-1234567, "-1,234,567"},
        {std::numeric_limits<double>::infinity(), "not finite"},
        {std::nan(""), "not finite"},
        {1e300, "1e+300"},
        {9.3e18, "9.3e+18"},
    };
    for (const auto& [value, shown] : cases) EXPECT_EQ(CountText(value), shown) << value;
}
// its log alone; a file renamed into the folder makes the next look a full one.
TEST(RunsReader, BetweenFolderChangesOnlyTheLogsBeingWrittenAreLookedAt) {
    testing::WorkingFolder folder;
    for (int i = 1; i <= 30; ++i) folder.Write("cycle_log" + std::to_string(i) + ".txt", Log(3));
    AgeFolder(std::chrono::minutes(60));
    RunsReader reader;
    std::shared_ptr<const RunsSnapshot> last;
    QObject::connect(&reader, &RunsReader::Ready, [&](auto snapshot) { last = snapshot; });

    reader.Refresh({}, {}, QSize(), false);
    EXPECT_EQ(reader.LastLooked(), 30u);
    ASSERT_TRUE(last && last->reset);
    EXPECT_EQ(last->runs.size(), 30u);

    std::ofstream(folder.path() + "/cycle_log30.txt", std::ios::app | std::ios::binary)
        << "4\tSUCCESS\t3:07:14 PM\tNONE\r\n";
    reader.Refresh({}, QStringLiteral("cycle_log30.txt"), QSize(), false);
    EXPECT_EQ(reader.LastLooked(), 1u);
    ASSERT_FALSE(last->reset);
    ASSERT_EQ(last->changed.size(), 1u);
    EXPECT_EQ(last->changed[0].second->cycles, 4);
    // The total moves by that log's one row: 29 logs of 3 and one of 4.
    ASSERT_EQ(last->totals.size(), 1u);
    EXPECT_EQ(last->totals[0].second.runs, 30);
    EXPECT_EQ(last->totals[0].second.cycles, 91);
    std::ofstream(folder.path() + "/cycle_log30.txt", std::ios::app | std::ios::binary)
        << "5\tSUCCESS\t3:07:15 PM\tNONE\r\n";
    reader.Refresh({}, QStringLiteral("cycle_log30.txt"), QSize(), false);
    EXPECT_EQ(last->totals[0].second.cycles, 92);

    // Another program replaces a finished log by a rename: seen at once.
    folder.Write("replacement.tmp", Log(7));
    fs::rename(folder.path() + "/replacement.tmp", folder.path() + "/cycle_log5.txt");
    AgeFolder(std::chrono::minutes(30));  // its time changed, and is not recent
    reader.Refresh({}, QStringLiteral("cycle_log30.txt"), QSize(), false);
    EXPECT_EQ(reader.LastLooked(), 30u);
    const RunRow* replaced = RunOf(last, "cycle_log5.txt");
    ASSERT_NE(replaced, nullptr);
    EXPECT_EQ(replaced->cycles, 7);
}

}  // namespace
}  // namespace varnholt

namespace varnholt {
namespace {

// The window says what the report says of a folder: a record that cannot be
// read, and a copy of a log under another spelling of its number.
TEST(RunsReader, TellsWhatTheReportTells) {
    testing::WorkingFolder folder;
    folder.Write("cycle_log1.txt", Log(3));
    folder.Write("cycle_log01.txt", Log(3));
    folder.Write(RunRecordName("cycle_log1.txt"), "not a record");
    RunsReader reader;
    std::shared_ptr<const RunsSnapshot> last;
    QObject::connect(&reader, &RunsReader::Ready, [&](auto snapshot) { last = snapshot; });
    AgeFolder(std::chrono::minutes(60));
    const auto said = [&] {
        std::string text;
        for (const ReportProblem& p : last->problems) text += p.problem + "\n";
        return text;
    };
    reader.Refresh({}, {}, QSize(), false);
    ASSERT_TRUE(last);
    const std::string first = said();
    EXPECT_NE(first.find("carries the same number as"), std::string::npos) << first;
    EXPECT_NE(first.find("The run record " + RunRecordName("cycle_log1.txt")), std::string::npos)
        << first;
    // Between full passes the same is said, whether the log it is said of
    // is looked at again (the copy, being written) or kept as it was.
    for (const char* running : {"", "cycle_log01.txt", "cycle_log1.txt"}) {
        reader.Refresh({}, QString::fromUtf8(running), QSize(), false);
        EXPECT_EQ(reader.LastLooked(), *running ? 1u : 0u) << running;
        EXPECT_EQ(said(), first) << running;
    }
}

}  // namespace
}  // namespace varnholt

namespace varnholt {
namespace {

std::shared_ptr<const RunRow> Figures(const std::string& file, int64_t cycles) {
    RunFigures run;
    run.file = file;
    run.cycles = cycles;
    return std::make_shared<const RunRow>(run);
}

// The list's rows: a change repaints its row alone, a test starting or
// ending repaints the rows it moves between, and the cells read as the
// figures say.
TEST(RunsModel, RepaintsOnlyWhatChanged) {
    RunsModel model;
    model.Reset(
        {Figures("cycle_log3.txt", 0), Figures("cycle_log2.txt", 40), Figures("cycle_log1.txt", 7)},
        "cycle_log3.txt");
    ASSERT_EQ(model.rowCount(), 3);
    EXPECT_EQ(model.index(0, RunsModel::Log).data().toString(), "cycle_log3.txt  (running)");
    EXPECT_TRUE(model.index(0, RunsModel::Cycles).data(Qt::FontRole).value<QFont>().bold());
    EXPECT_EQ(model.index(1, RunsModel::Cycles).data().toString(), "40");
    EXPECT_EQ(model.index(2, RunsModel::Ended).data().toString(), "stop");
    EXPECT_EQ(model.RowOf("cycle_log1.txt"), 2);
    EXPECT_EQ(model.RowOf("cycle_log9.txt"), -1);

    QSignalSpy repainted(&model, &QAbstractItemModel::dataChanged);
    QSignalSpy reset(&model, &QAbstractItemModel::modelReset);
    model.Change({{0, Figures("cycle_log3.txt", 1)}}, "cycle_log3.txt");
    ASSERT_EQ(repainted.count(), 1);
    EXPECT_EQ(repainted[0][0].value<QModelIndex>().row(), 0);
    EXPECT_EQ(model.index(0, RunsModel::Cycles).data().toString(), "1");

    repainted.clear();
    model.Change({}, "");  // the test ended
    ASSERT_EQ(repainted.count(), 1);
    EXPECT_EQ(repainted[0][0].value<QModelIndex>().row(), 0);
    EXPECT_EQ(model.index(0, RunsModel::Log).data().toString(), "cycle_log3.txt");
    EXPECT_EQ(reset.count(), 0);
}

}  // namespace
}  // namespace varnholt

namespace varnholt {
namespace {

RunFigures ARun(const std::string& file, const std::string& unit, int64_t started, int64_t cycles,
                std::optional<int64_t> firstFailure) {
    RunFigures f;
    f.file = file;
    f.folder = ".";
    f.unit = unit;
    f.lot = unit.empty() ? "" : "L7";
    f.hasRecord = !unit.empty();
    f.started = started;
    f.startedUtc = started - 3600;
    f.lastRow = started + 5 * cycles;
    f.cycles = cycles;
    f.firstFailureCycle = firstFailure;
    f.shutterFailures = f.failures = firstFailure ? 1 : 0;
    f.benchFaults = 3;
    f.benchFaultsBeforeFirstFailure = 2;
    f.logModifiedUnix = started + 5 * cycles;
    return f;
}

// A row keeps every figure the list, the totals and the units are made of:
// a unit's runs across logs, the first failure ending its life, a record
// that still runs, a log without a record, a power-cut run, a long name.
TEST(RunRow, KeepsWhatTheListTotalsAndUnitsAreMadeOf) {
    std::vector<RunFigures> runs = {
        ARun("cycle_log1.txt", "SN-1", 1000, 400, std::nullopt),
        ARun("cycle_log2.txt", "SN-1", 9000, 900, 700),
        ARun("cycle_log3.txt", "SN-2", 20000, 5000, std::nullopt),
        ARun("cycle_log4.txt", "", 30000, 12, std::nullopt),
        ARun("powercut_log1.txt", "SN-1", 40000, 50, 10),
        ARun("cycle_log12345678901234567890.txt", "a unit named at some length", 50000, 1, 1),
    };
    runs[1].ended = "failure";
    runs[1].recordEnded = runs[1].endedByFailure = true;
    runs[2].mcbf = 2500.5;
    runs[2].mcbfLower90 = 1200.25;
    runs[3].lastRow.reset();
    runs[4].kind = TestLogKind::PowerCutTest;
    runs[5].ended = "";  // a record's empty word is a word
    runs[5].recordEnded = true;
    std::vector<RunFigures> back;
    for (const RunFigures& f : runs) {
        back.push_back(RunRow(f).Figures("."));
        const RunFigures& b = back.back();
        EXPECT_EQ(b.file, f.file);
        EXPECT_EQ(b.unit, f.unit) << f.file;
        EXPECT_EQ(b.lot, f.lot) << f.file;
        EXPECT_EQ(b.ended, f.ended) << f.file;
        EXPECT_EQ(EndedText(b, 60000), EndedText(f, 60000)) << f.file;
        EXPECT_EQ(b.kind, f.kind) << f.file;
        EXPECT_EQ(b.lastRow, f.lastRow) << f.file;
        EXPECT_EQ(b.mcbf, f.mcbf) << f.file;
        EXPECT_EQ(b.mcbfLower90, f.mcbfLower90) << f.file;
        EXPECT_EQ(b.shutterFailures, f.shutterFailures) << f.file;
    }
    const UnitsAndLots want = BuildUnitsAndLots(runs, 2.0), got = BuildUnitsAndLots(back, 2.0);
    ASSERT_EQ(got.units.size(), want.units.size());
    for (size_t i = 0; i < want.units.size(); ++i) {
        const UnitFigures &w = want.units[i], &g = got.units[i];
        EXPECT_EQ(g.unit, w.unit);
        EXPECT_EQ(g.lot, w.lot) << w.unit;
        EXPECT_EQ(g.runs.size(), w.runs.size()) << w.unit;
        EXPECT_EQ(g.cycles, w.cycles) << w.unit;
        EXPECT_EQ(g.cyclesToFailure, w.cyclesToFailure) << w.unit;
        EXPECT_EQ(g.benchFaults, w.benchFaults) << w.unit;
        EXPECT_EQ(g.running, w.running) << w.unit;
    }
    ASSERT_EQ(got.lots.size(), want.lots.size());
    for (size_t i = 0; i < want.lots.size(); ++i) {
        EXPECT_EQ(LotJsonText(got.lots[i]), LotJsonText(want.lots[i]));
    }
    EXPECT_EQ(got.problems, want.problems);
}

}  // namespace
}  // namespace varnholt
