// Units over their runs and lots over their units, from logs and run records
// on disk, against figures worked outside this program: the fits by R's
// survival::survreg and its profile likelihood (as in reliability_test), the
// Weibayes bounds by hand with chi-squared quantiles from tables.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
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

// sub: a folder within, "target/".
void WriteRun(const WorkingFolder& folder, int number, const LogRun& run,
              const std::string& sub = "") {
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
    folder.Write(sub + name, log);
    if (run.unit == nullptr) return;
    RunRecord record;
    record.log = name;
    record.kind = "cycle";
    record.unit = run.unit;
    record.lot = run.lot;
    record.startedUtc = LocalSeconds(2026, 12, run.day, 7 * 3600);
    record.ended = "stopped";
    record.lastCount = run.rows;
    folder.Write(sub + RunRecordName(name), RunRecordJson(record));
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

// A careless script's and a busy lab's records: each case is a folder of
// logs and records, and what the report must make of it. The log is
// believed over its record; what cannot be summed or told apart is said.
TEST(UnitsAndLots, HostileRecordsAreSaidAndTheLogBelieved) {
    const auto record = [](const char* log, const std::string& fields) {
        return std::string("{\"format\": 1, \"log\": \"") + log + "\", " + fields + "}";
    };
    // The usual fields of a record of cycle_log<N>, started on day `day`.
    const auto usual = [](const std::string& unit, int day, const char* ended = "\"stopped\"") {
        return "\"kind\": \"cycle\", \"unit\": " + unit +
               ", \"lot\": \"L\", \"started_utc\": "
               "\"2026-12-" +
               (day < 10 ? "0" : "") + std::to_string(day) +
               "T07:00:00Z\", \"utc_offset_minutes\": 60, \"ended_utc\": null, \"ended\": " +
               ended + ", \"last_count\": 1";
    };
    struct Case {
        const char* what;
        std::vector<LogRun> logs;                       // cycle_log1, 2, ...
        std::vector<std::pair<int, std::string>> json;  // records written over WriteRun's
        std::vector<const char*> said;                  // in the problems, in any order
        std::string unitState;                          // of the first unit: UnitStateText
        int namedUnits;
    };
    const std::vector<Case> cases = {
        {"a record that says running",
         {{"SN-1", "L", 10, "", 1}},
         {{1, record("cycle_log1.txt", usual("\"SN-1\"", 1, "null"))}},
         {},
         "running",
         1},
        {"one unit on two benches at once",
         {{"SN-2", "L", 10, "", 1}, {"SN-2", "L", 20, "", 1}},
         {},
         {"Unit SN-2 ran in cycle_log1.txt and in cycle_log2.txt at the same time"},
         "suspended",
         1},
        {"a record a day before its log: the run after the failure stays after it",
         {{"SN-3", "L", 1000, kJam, 1}, {"SN-3", "L", 5000, "", 2}},
         {{2, record("cycle_log2.txt",
                     "\"kind\": \"cycle\", \"unit\": \"SN-3\", \"lot\": \"L\", "
                     "\"started_utc\": \"2026-11-29T07:00:00Z\", "
                     "\"utc_offset_minutes\": 60, \"ended_utc\": null, "
                     "\"ended\": \"stopped\", \"last_count\": 5000")}},
         {"\"started_utc\" 2026-11-29T07:00:00Z is 72 hours from the log's start"},
         "failed at 1,000",
         1},
        {"a record that counts past its log, of the other kind, ended before it began",
         {{"SN-4", "L", 10, "", 1}},
         {{1, record("cycle_log1.txt",
                     "\"kind\": \"powercut\", \"unit\": \"SN-4\", \"lot\": \"L\", \"started_utc\": "
                     "\"2026-12-01T07:00:00Z\", \"utc_offset_minutes\": 60, \"ended_utc\": "
                     "\"2026-11-01T07:00:00Z\", \"ended\": \"stopped\", \"last_count\": 99")}},
         {"\"last_count\" 99 is beyond the log's 10 rows",
          "\"kind\" \"powercut\" is not the log's (\"cycle\")",
          "\"ended_utc\" 2026-11-01T07:00:00Z is before its \"started_utc\""},
         "suspended",
         1},
        {"an impossible date, a format in halves, a format past any integer",
         {{nullptr, "", 1, "", 1}, {nullptr, "", 1, "", 2}, {nullptr, "", 1, "", 3}},
         {{1, record("cycle_log1.txt",
                     "\"kind\": \"cycle\", \"unit\": \"A\", \"lot\": \"L\", "
                     "\"started_utc\": \"2026-02-31T07:00:00Z\", "
                     "\"utc_offset_minutes\": 0, \"ended_utc\": null, "
                     "\"ended\": null, \"last_count\": 1")},
          {2, "{\"format\": 1.5}"},
          {3, "{\"format\": 1e308}"}},
         {"\"started_utc\" is not a UTC time", "format 1.5 is not a whole number",
          "format 1e308 is not a whole number"},
         "suspended",
         0},
        {"names the window refuses: the runs are unnamed",
         {{"x", "", 1, "", 1},
          {"x", "", 1, "", 2},
          {"x", "", 1, "", 3},
          {"x", "", 1, "", 4},
          {"x", "", 1, "", 5},
          {"x", "", 1, "", 6}},
         {{1, record("cycle_log1.txt", usual("\"SN\\u0007\"", 1))},
          {2, record("cycle_log2.txt", usual("\"SN\\n5\"", 2))},
          {3, record("cycle_log3.txt", usual("\"SN\\u00005\"", 3))},
          {4, record("cycle_log4.txt", usual("\"\\u001b[31mSN\"", 4))},
          {5, record("cycle_log5.txt", usual("\"" + std::string(60000, 'S') + "\"", 5))},
          {6, record("cycle_log6.txt", usual("\"SN-\\u202e1000\"", 6))}},
         {"control character", "control character", "control character", "control character",
          "longer than 64", "text-direction control"},
         "suspended",
         0},
        {"names alike but for case and spaces stay apart, said",
         {{"SN-0012", "L", 5, "", 1}, {"SN-0012 ", "L", 5, "", 2}, {"sn-0012", "L", 5, "", 3}},
         {},
         {"Units \"SN-0012\", \"SN-0012 \" and \"sn-0012\" look like one shutter"},
         "suspended",
         3},
    };
    for (const Case& c : cases) {
        WorkingFolder folder;
        for (size_t i = 0; i < c.logs.size(); ++i)
            WriteRun(folder, static_cast<int>(i + 1), c.logs[i]);
        for (const auto& [number, json] : c.json) {
            folder.Write("cycle_log" + std::to_string(number) + "-run.json", json);
        }
        const Report report = BuildReport({"."});
        std::string problems;
        for (const ReportProblem& p : report.problems) problems += p.problem + "\n";
        for (const char* said : c.said) {
            EXPECT_NE(problems.find(said), std::string::npos) << c.what << ": " << said << " in\n"
                                                              << problems;
        }
        if (c.said.empty()) {
            EXPECT_EQ(problems, "") << c.what;
        }
        const auto& units = report.unitsAndLots.units;
        ASSERT_FALSE(units.empty()) << c.what;
        EXPECT_EQ(UnitStateText(units[0]), c.unitState) << c.what;
        EXPECT_EQ(
            std::count_if(units.begin(), units.end(), [](const UnitFigures& u) { return u.named; }),
            c.namedUnits)
            << c.what;
    }
}

// How a run ended, as the table and the JSON tell it: a killed program's
// record is never a stop.
TEST(UnitsAndLots, ARunsEndIsToldAsItsRecordSaysIt) {
    WorkingFolder folder;
    WriteRun(folder, 1, {"SN-1", "L", 10, "", 1});
    WriteRun(folder, 2, {nullptr, "", 10, "", 2});
    folder.Write("cycle_log1-run.json",
                 "{\"format\": 1, \"log\": \"cycle_log1.txt\", \"kind\": \"cycle\", \"unit\": "
                 "\"SN-1\", \"lot\": \"L\", \"started_utc\": \"2026-12-01T07:00:00Z\", "
                 "\"utc_offset_minutes\": 60, \"ended_utc\": null, \"ended\": null, "
                 "\"last_count\": 0}");
    const Report report = BuildReport({"."});
    ASSERT_EQ(report.runs.size(), 2u);
    const RunFigures& killed = report.runs[0];
    EXPECT_FALSE(killed.ended.has_value());
    const int64_t written = killed.logModifiedUnix;
    EXPECT_EQ(EndedText(killed, written + 60), "running or killed");
    EXPECT_EQ(EndedText(killed, written + 3601), "killed?");
    EXPECT_EQ(EndedText(report.runs[1], written), "stop");  // no record: what its rows show
    const std::string json = ReportJson(report);
    EXPECT_NE(json.find("\"partial_last_line\": false, \"ended\": null}"), std::string::npos);
    EXPECT_NE(json.find("\"partial_last_line\": false, \"ended\": \"unknown\"}"),
              std::string::npos);
    EXPECT_EQ(ReportTable(report).find(" stop\n"), ReportTable(report).rfind(" stop\n"));
}

// One log through a link and directly is one run with one record: the
// record beside the file the link stands for, whichever name came first.
TEST(UnitsAndLots, ALogThroughALinkHasTheRecordOfItsFile) {
#ifdef _WIN32
    GTEST_SKIP() << "symbolic links need privileges on Windows";
#else
    WorkingFolder folder;
    std::filesystem::create_directories("target");
    std::filesystem::create_directories("links");
    WriteRun(folder, 1, {"SN-REAL", "L", 10, "", 1}, "target/");
    std::filesystem::create_symlink("../target/cycle_log1.txt", "links/cycle_log1.txt");
    std::string wrong = folder.Read("target/cycle_log1-run.json");
    wrong.replace(wrong.find("SN-REAL"), 7, "SN-LINK");
    folder.Write("links/cycle_log1-run.json", wrong);
    for (const auto& order : {std::vector<std::string>{"links", "target"},
                              std::vector<std::string>{"target", "links"}}) {
        const Report report = BuildReport(order);
        ASSERT_EQ(report.runs.size(), 1u);
        EXPECT_EQ(report.runs[0].unit, "SN-REAL") << order[0] << " first";
    }
#endif
}

}  // namespace
}  // namespace varnholt
