// Units over their runs and lots over their units, from logs and run records
// on disk, against figures worked outside this program: the fits by R's
// survival::survreg and its profile likelihood (as in reliability_test), the
// Weibayes bounds by hand with chi-squared quantiles from tables.
#include <gtest/gtest.h>

#include <cmath>
#include <map>

#include "report/report.h"
#include "runlog/run_record.h"
#include "tests/support/temp_dir.h"

namespace varnholt {
namespace {

using testing::WorkingFolder;

// A cycle log of `rows` rows, ending with `last` as its Error (empty: all
// succeed), and its record naming unit and lot, started `day` days on.
struct LogRun {
    const char* unit;
    const char* lot;
    int rows;
    const char* last;
    int day;
};

void WriteRun(const WorkingFolder& folder, int number, const LogRun& run) {
    const std::string name = "cycle_log" + std::to_string(number) + ".txt";
    std::string log = "Shutter Cycle Test\r\nStarted on 12/" + std::to_string(run.day) +
                      "/2026 at 8:00:00 AM\r\n\r\n" + kLogColumns + "\r\n";
    for (int i = 1; i <= run.rows; ++i) {
        const bool failing = i == run.rows && run.last[0] != '\0';
        log += std::to_string(i) +
               (failing ? "\tFAILURE\t9:00:00 AM\t" + std::string(run.last)
                        : std::string("\tSUCCESS\t9:00:00 AM\tNONE")) +
               "\r\n";
    }
    folder.Write(name, log);
    if (run.unit == nullptr) return;
    RunRecord record;
    record.log = name;
    record.kind = "cycle";
    record.unit = run.unit;
    record.lot = run.lot;
    record.startedUtc = LocalSeconds(2026, 12, run.day, 7 * 3600);
    record.ended = "stopped";
    record.lastCount = run.rows;
    folder.Write(RunRecordName(name), RunRecordJson(record));
}

const char* const kJam = "OpenShutter Error: JAM";
const char* const kSupply = "PowerOn Error: -222,\"x\"";

TEST(UnitsAndLots, FiguresOfATableOfLots) {
    WorkingFolder folder;
    const LogRun runs[] = {
        // Lot A, complete failures at 150 230 310 420 480 560 700 910: A1 over
        // two runs; A2's first run ends by a supply fault (a bench fault, not
        // its failure); A3 runs on after its failure, which adds nothing.
        {"A1", "A", 100, "", 1},
        {"A1", "A", 50, kJam, 2},
        {"A2", "A", 30, kSupply, 1},
        {"A2", "A", 200, kJam, 3},
        {"A3", "A", 310, kJam, 1},
        {"A3", "A", 40, "", 4},
        {"A4", "A", 420, kJam, 1},
        {"A5", "A", 480, kJam, 1},
        {"A6", "A", 560, kJam, 1},
        {"A7", "A", 700, kJam, 1},
        {"A8", "A", 910, kJam, 1},
        // Lot B: failures at 3000 and 8000, four suspended at 10000 (one of
        // them in two runs, the first naming another lot).
        {"B1", "B", 3000, kJam, 1},
        {"B2", "B", 8000, kJam, 1},
        {"B3", "B", 10000, "", 1},
        {"B4", "B", 10000, "", 1},
        {"B5", "B", 10000, "", 1},
        {"B6", "X", 4000, "", 1},
        {"B6", "B", 6000, "", 2},
        // Lot C: one failure; lot D: none; lot E: two failures at one count.
        {"C1", "C", 100, kJam, 1},
        {"C2", "C", 200, "", 1},
        {"D1", "D", 300, "", 1},
        {"D2", "D", 300, "", 1},
        {"E1", "E", 100, kJam, 1},
        {"E2", "E", 100, kJam, 1},
        // A log without a record: a unit of its own in the lot "".
        {nullptr, "", 5, "", 1},
    };
    int number = 0;
    for (const LogRun& run : runs) WriteRun(folder, ++number, run);

    const Report report = BuildReport({"."});
    ASSERT_EQ(report.runs.size(), std::size(runs));
    std::map<std::string, const UnitFigures*> units;
    for (const UnitFigures& u : report.unitsAndLots.units) units[u.unit] = &u;
    std::map<std::string, const LotFigures*> lots;
    for (const LotFigures& lot : report.unitsAndLots.lots) lots[lot.lot] = &lot;

    ASSERT_EQ(units.size(), 21u);
    EXPECT_EQ(units["A1"]->cyclesToFailure, 150);
    EXPECT_EQ(units["A1"]->runs.size(), 2u);
    EXPECT_EQ(units["A2"]->cyclesToFailure, 230);
    EXPECT_EQ(units["A2"]->benchFaults, 1);
    EXPECT_EQ(units["A3"]->cycles, 310);
    EXPECT_EQ(units["A3"]->runs.size(), 2u);
    EXPECT_FALSE(units["B3"]->failed);
    EXPECT_EQ(units["B6"]->cycles, 10000);
    EXPECT_EQ(units["B6"]->lot, "B");
    ASSERT_TRUE(units.count("cycle_log25.txt"));
    EXPECT_FALSE(units["cycle_log25.txt"]->named);
    bool lotsNamed = false;
    for (const ReportProblem& p : report.problems) {
        lotsNamed |= p.problem.find("unit B6 name different lots (X and B)") != std::string::npos;
    }
    EXPECT_TRUE(lotsNamed);

    const struct {
        const char* lot;
        int64_t units, failures;
        double beta, eta, b10Lower;  // 0: no fit
        double weibayesEta;          // beta 2 assumed
    } expected[] = {
        // Weibayes: (2 sum t^2 / chi2(0.90, 2r + 2))^(1/2); chi2(0.90, 18) =
        // 25.989423, chi2(0.90, 6) = 10.644641, (4) 7.779440, (2) 4.605170.
        {"A", 8, 8, 2.13861, 532.626, 98.8988,
         std::sqrt(2 *
                   (150. * 150 + 230 * 230 + 310 * 310 + 420 * 420 + 480 * 480 + 560 * 560 +
                    700 * 700 + 910 * 910) /
                   25.989423)},
        {"B", 6, 2, 1.55515, 17700.5, 752.692,
         std::sqrt(2 * (3000. * 3000 + 8000 * 8000 + 4 * 1e8) / 10.644641)},
        {"C", 2, 1, 0, 0, 0, std::sqrt(2 * (100. * 100 + 200 * 200) / 7.779440)},
        {"D", 2, 0, 0, 0, 0, std::sqrt(2 * (2 * 300. * 300) / 4.605170)},
        {"E", 2, 2, 0, 0, 0, std::sqrt(2 * (2 * 100. * 100) / 10.644641)},
    };
    for (const auto& e : expected) {
        ASSERT_TRUE(lots.count(e.lot)) << e.lot;
        const LotFigures& lot = *lots[e.lot];
        EXPECT_EQ(lot.units, e.units) << e.lot;
        EXPECT_EQ(lot.failures, e.failures) << e.lot;
        ASSERT_TRUE(lot.weibayes) << e.lot;
        EXPECT_NEAR(lot.weibayes->etaLower90, e.weibayesEta, e.weibayesEta * 1e-6) << e.lot;
        if (e.beta == 0) {
            EXPECT_FALSE(lot.weibull) << e.lot;
            EXPECT_FALSE(lot.weibullNote.empty()) << e.lot;
            continue;
        }
        ASSERT_TRUE(lot.weibull) << e.lot << ": " << lot.weibullNote;
        EXPECT_NEAR(lot.weibull->beta, e.beta, e.beta * 2e-4) << e.lot;
        EXPECT_NEAR(lot.weibull->eta, e.eta, e.eta * 2e-4) << e.lot;
        EXPECT_NEAR(lot.weibull->b10Lower90, e.b10Lower, e.b10Lower * 2e-4) << e.lot;
    }
    const std::string json = ReportJson(report);
    EXPECT_NE(json.find("\"unit\": \"A2\", \"named\": true, \"lot\": \"A\", \"kind\": \"cycle\""),
              std::string::npos);
    EXPECT_NE(json.find("\"cycles_to_failure\": 230, \"bench_faults\": 1"), std::string::npos);
}

// Records that are no records: a sentence each, and the log read as if it
// had none.
TEST(UnitsAndLots, RecordsThatAreNotRecordsAreNamedAndPassedOver) {
    WorkingFolder folder;
    const std::string good = RunRecordJson([] {
        RunRecord r;
        r.log = "cycle_log1.txt";
        r.kind = "cycle";
        r.unit = "SN-1";
        return r;
    }());
    const struct {
        const char* record;
        const char* said;
    } cases[] = {
        {"not json", "is not JSON"},
        {"{\"format\": 2}", "format 2"},
        {"{\"format\": 1, \"log\": 5}", "\"log\" is not a text"},
        {"[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[", "is not JSON"},
        {"{\"format\": 1, \"format\": 1}", "given twice"},
    };
    for (const auto& c : cases) {
        folder.Write("cycle_log1.txt",
                     "Shutter Cycle Test\r\nStarted on 12/1/2026 at 8:00:00 AM"
                     "\r\n\r\n" +
                         std::string(kLogColumns) + "\r\n");
        folder.Write("cycle_log1-run.json", c.record);
        const Report report = BuildReport({"."});
        ASSERT_EQ(report.runs.size(), 1u);
        EXPECT_FALSE(report.runs[0].hasRecord);
        ASSERT_EQ(report.problems.size(), 1u) << c.record;
        EXPECT_NE(report.problems[0].problem.find(c.said), std::string::npos)
            << report.problems[0].problem;
    }
    // A record naming another log, and one too large to be a record.
    std::string other = good;
    other.replace(other.find("cycle_log1.txt"), 14, "cycle_log9.txt");
    for (const std::string& record : {other, std::string(70000, ' ') + good}) {
        folder.Write("cycle_log1-run.json", record);
        const Report report = BuildReport({"."});
        EXPECT_FALSE(report.runs[0].hasRecord);
        EXPECT_EQ(report.problems.size(), 1u);
    }
    folder.Write("cycle_log1-run.json", good);
    EXPECT_EQ(BuildReport({"."}).runs[0].unit, "SN-1");
}

}  // namespace
}  // namespace varnholt
