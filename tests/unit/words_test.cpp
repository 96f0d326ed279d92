// One way of writing figures, the text report's shape, per-kind totals and
// a lot plan's verdict.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <sstream>

#include "report/report.h"
#include "runlog/run_record.h"
#include "tests/support/temp_dir.h"

namespace varnholt {
namespace {

using testing::WorkingFolder;

TEST(Words, CountsCyclesShapesAndDatesAreWrittenOneWay) {
    const std::pair<std::string, std::string> cases[] = {
        {Counted(0, "unit", "units"), "0 units"},
        {Counted(1, "unit", "units"), "1 unit"},
        {Counted(2, "unit", "units"), "2 units"},
        {Counted(12000, "cycle", "cycles"), "12,000 cycles"},
        {Counted(1, "shutter failure", "shutter failures"), "1 shutter failure"},
        {Thousands(999), "999"},
        {Thousands(-1234567), "-1,234,567"},
        {Thousands(std::numeric_limits<int64_t>::min()), "-9,223,372,036,854,775,808"},
        {CyclesText(15584.9), "15,585"},
        {CyclesText(std::numeric_limits<double>::infinity()), "not finite"},
        {CyclesText(std::nan("")), "not finite"},
        {CyclesText(9.3e18), "9.3e+18"},  // never a wrapped integer
        {ShapeText(1.67742), "1.68"},
        {ShapeText(16.181), "16.18"},
        {ShapeText(0.001234), "0.00123"},
        {ShapeText(2500), "2.5e+03"},
        {DateText(LocalSeconds(2026, 12, 8, 15 * 3600 + 7 * 60 + 9)), "2026-12-08 15:07"},
        {Utf8Prefix("\u03b2\u03b7ab", 3), "\u03b2\u03b7a"},
        {std::to_string(Utf8Length("MCBF\u2265")), "5"},
    };
    for (const auto& [got, want] : cases) EXPECT_EQ(got, want);
}

// A cycle log of rows rows (its last a failure when failing) with a record
// naming its unit in lot L, or a power-cut log without one.
void WriteLog(const WorkingFolder& folder, TestLogKind kind, int number, int rows, bool failing,
              const std::string& unit) {
    const std::string name = NamesOf(kind).prefix + std::to_string(number) + ".txt";
    std::string log = std::string(NamesOf(kind).title) +
                      "\r\nStarted on 12/1/2026 at 8:00:00 AM\r\n\r\n" + kLogColumns + "\r\n";
    for (int i = 1; i <= rows; ++i) {
        log += std::to_string(i) +
               (failing && i == rows             ? "\tFAILURE\t9:00:00 AM\tOpenShutter Error: JAM"
                : kind == TestLogKind::CycleTest ? "\tSUCCESS\t9:00:00 AM\tNONE"
                                                 : "\tSUCCESS\t9:00:00 AM\t") +
               "\r\n";
    }
    folder.Write(name, log);
    if (unit.empty()) return;
    RunRecord record;
    record.log = name;
    record.kind = NamesOf(kind).json;
    record.unit = unit;
    record.lot = "L";
    record.startedUtc = LocalSeconds(2026, 12, 1, 7 * 3600);
    record.ended = failing ? "failure" : "stopped";
    record.lastCount = rows;
    folder.Write(RunRecordName(name), RunRecordJson(record));
}

TEST(ReportTable, LotsFirstWithinAHundredColumnsAndTotalsPerKind) {
    WorkingFolder folder;
    const int cycles[] = {1200, 1800, 2500, 900, 3000};
    for (int i = 0; i < 5; ++i) {
        WriteLog(folder, TestLogKind::CycleTest, i + 1, cycles[i], i < 3,
                 "SN-" + std::to_string(i + 1));
    }
    WriteLog(folder, TestLogKind::PowerCutTest, 1, 500, false, "");
    const Report report = BuildReport({"."});
    ASSERT_EQ(report.runs.size(), 6u);

    const std::string table = ReportTable(report);
    EXPECT_EQ(table.rfind("Lot L, cycle test\n", 0), 0u) << table;
    std::istringstream lines(table);
    for (std::string line; std::getline(lines, line);) {
        EXPECT_LE(Utf8Length(line), 100u) << line;
    }
    EXPECT_NE(table.find("\u03b2 "), std::string::npos);
    EXPECT_NE(table.find("cycle_log1.txt     SN-1 "), std::string::npos) << table;
    // Each kind apart: 9,400 cycle-test cycles, 500 power-cut ones, never 9,900.
    EXPECT_NE(table.find("Total, cycle test: 5 runs, 9,400 cycles, 3 shutter failures, 0 bench "
                         "faults;"),
              std::string::npos)
        << table;
    EXPECT_NE(table.find("Total, power cut test: 1 run, 500 cycles, 0 shutter failures"),
              std::string::npos)
        << table;
    EXPECT_EQ(table.find("9,900"), std::string::npos);

    const std::string ascii = ReportTable(report, kAscii);
    EXPECT_NE(ascii.find("Weibull beta "), std::string::npos) << ascii;
    EXPECT_NE(ascii.find(", eta "), std::string::npos);
    EXPECT_EQ(ascii.find('\xce'), std::string::npos) << "a Greek letter in the ASCII table";
}

TEST(LotPlan, VerdictsOfAZeroFailureDemonstration) {
    // Each of 3 units must pass 1000 (ln 0.1 / (3 ln 0.9))^(1/2) = 2,700 cycles
    // (2,699.03 rounded up) to show 90 % at 1,000 cycles with 90 % confidence.
    const struct {
        const char* what;
        std::vector<std::pair<int64_t, bool>> units;  // cycles, failed
        const char* verdict;
    } cases[] = {
        {"all passed", {{3000, false}, {2700, false}, {5000, false}}, "0 failed: met."},
        {"one on the way", {{3000, false}, {2699, false}, {5000, false}}, "still open."},
        {"one failed", {{3000, false}, {900, true}, {5000, false}}, "broken"},
    };
    for (const auto& c : cases) {
        LotFigures lot;
        lot.lot = "L";
        lot.units = 3;
        std::vector<UnitFigures> units;
        for (const auto& [n, failed] : c.units) {
            UnitFigures u;
            u.lot = "L";
            u.cycles = n;
            u.failed = failed;
            units.push_back(u);
        }
        const LotPlan plan = PlanFor(lot, units, 1000, 0.90, 0.90, 2.0);
        EXPECT_EQ(plan.cyclesEach, 2700) << c.what;
        const std::string text = PlanText(plan, 3);
        EXPECT_NE(text.find("each of its 3 units must pass 2,700 cycles"), std::string::npos)
            << text;
        EXPECT_NE(text.find(c.verdict), std::string::npos) << c.what << ": " << text;
    }
}

}  // namespace
}  // namespace varnholt
