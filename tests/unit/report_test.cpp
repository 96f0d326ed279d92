#include "report/report.h"

#include <gtest/gtest.h>
#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <atomic>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <future>
#include <random>
#include <thread>

#include "report/decimate.h"
#include "tests/support/temp_dir.h"

namespace varnholt {
namespace {

using testing::WorkingFolder;

std::string Header(const char* title) {
    return std::string(title) + "\r\nStarted on 12/8/2026 at 11:59:50 PM\r\n\r\n" + kLogColumns +
           "\r\n";
}

// The figures as defined, worked out by hand: chi-squared 90th percentiles
// 4.605170 (2 degrees of freedom) and 13.361566 (8).
TEST(RunFigures, FiguresOfRunsAsDefined) {
    WorkingFolder folder;
    std::string cycle = Header("Shutter Cycle Test");
    const char* times[] = {"11:59:55 PM", "12:00:00 AM", "12:00:05 AM", "12:00:11 AM",
                           "12:00:42 AM"};
    for (int i = 0; i < 5; ++i) {
        cycle += std::to_string(i + 1) + (i == 4 ? "\tFAILURE\t" : "\tSUCCESS\t") + times[i] +
                 (i == 4 ? "\tPowerOn Error: -222,\"x\"\r\n\r\n" : "\tNONE\r\n");
    }
    folder.Write("cycle_log1.txt", cycle);
    std::string cut = Header("Shutter Power Cut Test");
    const char* errors[] = {"", "B", "", "", "A", "", "", "", "A", ""};
    for (int i = 0; i < 10; ++i) {
        cut += std::to_string(i + 1) + "\tSUCCESS\t12:00:00 AM\t" + errors[i] + "\r\n";
    }
    folder.Write("powercut_log1.txt", cut + "11\tSUCC");
    folder.Write("cycle_log2.txt", Header("Shutter Cycle Test"));

    const Report report = BuildReport({"."});
    ASSERT_EQ(report.runs.size(), 3u);
    const RunFigures& c = report.runs[0];
    EXPECT_EQ(c.file, "cycle_log1.txt");
    EXPECT_EQ(c.cycles, 5);
    // A supply fault ends the run but is the bench's: for the shutter the
    // run is time-terminated, 2T/chi2(0.90, 2r+2) with r = 0.
    EXPECT_EQ(c.failures, 1);
    EXPECT_EQ(c.shutterFailures, 0);
    EXPECT_EQ(c.benchFaults, 1);
    EXPECT_TRUE(c.endedByFailure);
    EXPECT_FALSE(c.firstFailureCycle || c.mcbf);
    EXPECT_NEAR(c.mcbfLower90, 10 / 4.605170, 1e-5);
    ASSERT_TRUE(c.cycleSeconds);  // 5 5 5 6 31
    EXPECT_EQ(c.cycleSeconds->median, 5);
    EXPECT_EQ(c.cycleSeconds->p99, 31);
    EXPECT_EQ(c.cycleSeconds->max, 31);
    EXPECT_EQ(IsoLocalText(*c.lastRow), "2026-12-09T00:00:42");
    EXPECT_FALSE(c.laplace);
    ASSERT_EQ(c.failureModes.size(), 1u);
    EXPECT_EQ(c.failureModes[0].error, "PowerOn Error: -222,\"x\"");

    const RunFigures& e = report.runs[1];
    EXPECT_EQ(e.file, "cycle_log2.txt");
    EXPECT_EQ(e.cycles, 0);
    EXPECT_FALSE(e.mcbf || e.cycleSeconds || e.lastRow || e.laplace);
    EXPECT_EQ(e.mcbfLower90, 0);

    const RunFigures& p = report.runs[2];
    EXPECT_EQ(p.kind, TestLogKind::PowerCutTest);
    EXPECT_EQ(p.cycles, 10);
    EXPECT_EQ(p.failures, 3);  // SUCCESS rows with an error
    EXPECT_FALSE(p.endedByFailure);
    EXPECT_TRUE(p.partialLastLine);
    EXPECT_NEAR(p.mcbfLower90, 20 / 13.361566, 1e-5);  // time-terminated: 2r+2
    EXPECT_NEAR(*p.laplace, (16.0 / 3 - 5) / (10 * std::sqrt(1.0 / 36)), 1e-12);
    ASSERT_EQ(p.failureModes.size(), 2u);  // most frequent first
    EXPECT_EQ(p.failureModes[0].error, "A");
    EXPECT_EQ(p.failureModes[0].firstCycle, 5);
    EXPECT_EQ(p.failureModes[0].lastCycle, 9);

    const TotalFigures total = Total(report.runs);
    EXPECT_EQ(total.cycles, 15);
    EXPECT_EQ(total.failures, 4);
    EXPECT_EQ(total.shutterFailures, 3);
    EXPECT_EQ(total.benchFaults, 1);
    EXPECT_NEAR(*total.mcbf, 5.0, 1e-12);
    EXPECT_NEAR(total.mcbfLower90, McbfLower90(15, 3, false), 1e-12);
    EXPECT_NEAR(McbfLower90(15, 0, false), 15 / std::log(10.0), 1e-9);  // zero-failure bound
    // Nearest rank: ceil(0.99 * 100) = 99th of 1..100; ceil(0.5 * 4) = 2nd of 1..4.
    std::vector<int32_t> hundred;
    for (int i = 100; i >= 1; --i) hundred.push_back(i);
    EXPECT_EQ(SpreadOf(hundred)->p99, 99);
    EXPECT_EQ(SpreadOf({4, 1, 3, 2})->median, 2);
}

// Which files are runs, which are problems, in which order; the JSON is
// valid UTF-8 whatever bytes an Error holds.
TEST(Report, FolderScanOrderProblemsAndJson) {
    WorkingFolder folder;
    const std::string log = Header("Shutter Cycle Test") + "1\tFAILURE\t1:00:00 AM\tE\xff\r\n";
    for (const char* name :
         {"cycle_log10.txt", "cycle_log2.txt", "powercut_log1.txt", "CYCLE_LOG3.TXT"}) {
        folder.Write(name, log);
    }
    folder.Write("notes.txt", "lab notes\n");
    folder.Write("cycle_log7.txt.bak", log);
    folder.Write("cycle_log8.txt", "not a log\r\n");
    std::filesystem::create_directory("cycle_log5.txt");
    std::filesystem::create_directory("sub");
#ifndef _WIN32
    ASSERT_EQ(::mkfifo("powercut_log9.txt", 0600), 0);
#endif
    const Report report = BuildReport({".", "missing"});
    std::vector<std::string> files;
    for (const RunFigures& run : report.runs) files.push_back(run.file);
    EXPECT_EQ(files, (std::vector<std::string>{"cycle_log2.txt", "CYCLE_LOG3.TXT",
                                               "cycle_log10.txt", "powercut_log1.txt"}));
    std::vector<std::string> problems;
    for (const ReportProblem& p : report.problems) problems.push_back(p.problem);
    std::vector<std::string> expected = {
        "cycle_log5.txt was not read: it is a folder, not a log.",
        "cycle_log8.txt was not read: it is not a Varnholt test log: its first line 'not a log' "
        "is neither 'Shutter Cycle Test' nor 'Shutter Power Cut Test'.",
        "missing does not exist; give a bench folder or a log file."};
#ifndef _WIN32
    expected.insert(expected.begin() + 1,
                    "powercut_log9.txt was not read: it is a named pipe (FIFO), not a log.");
#endif
    std::sort(problems.begin(), problems.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(problems, expected);
    const std::string json = ReportJson(report);
    EXPECT_NE(json.find("\"error\": \"E\xc3\xbf\""), std::string::npos) << json;
    EXPECT_NE(json.find("\"mcbf_lower_90\": "), std::string::npos);
}

TEST(Decimate, KeepsEachBinsExtremesAndShortSeriesWhole) {
    std::vector<ChartPoint> series;
    for (int i = 0; i < 120000; ++i) series.push_back({double(i), i == 77777 ? 500.0 : 5.0});
    const auto points = MinMaxDecimate(series);
    EXPECT_LE(points.size(), 2000u);
    EXPECT_EQ(
        std::count_if(points.begin(), points.end(), [](const ChartPoint& p) { return p.y == 500; }),
        1);
    for (size_t i = 1; i < points.size(); ++i) EXPECT_LT(points[i - 1].x, points[i].x);
    series.resize(1500);
    EXPECT_EQ(MinMaxDecimate(series).size(), 1500u);
}

// Median, p99 and largest by nearest rank, counted or selected, against a
// plain sort of the same values.
TEST(Spread, CountedAndSelectedRanksMatchASort) {
    std::mt19937 random(11);
    const auto uniform = [&](int n, int low, int high) {
        std::vector<int32_t> v;
        for (int i = 0; i < n; ++i)
            v.push_back(std::uniform_int_distribution<int32_t>(low, high)(random));
        return v;
    };
    std::vector<int32_t> weekend = uniform(100000, 4, 6);
    weekend[5000] = 172800;  // a weekend's pause among 5 s cycles: still counted
    // Long runs of one value, as most cycle times are, counted by runs; and
    // runs just short of and just past too many to pay.
    std::vector<int32_t> steady(100000, 5);
    for (size_t i = 0; i < steady.size(); i += 50) steady[i] = 6;
    steady[77777] = 172800;
    steady.back() = 2;
    const auto blocks = [](int every) {
        std::vector<int32_t> v;
        for (int i = 0; i < 64; ++i) v.push_back(i / every % 3 * 10);
        return v;
    };
    const std::vector<std::vector<int32_t>> cases = {
        {7},
        {3, 1},
        {4, 1, 3, 2},
        uniform(1001, -3, 3),
        weekend,
        steady,
        blocks(8),
        blocks(7),
        uniform(5000, 0, 1 << 18),  // just past the counted range
        uniform(20000, INT32_MIN, INT32_MAX),
        {INT32_MAX, INT32_MIN}};
    for (const auto& values : cases) {
        std::vector<int32_t> sorted = values;
        std::sort(sorted.begin(), sorted.end());
        const size_t n = sorted.size();
        const auto spread = SpreadOf(values);
        ASSERT_TRUE(spread.has_value());
        EXPECT_EQ(spread->median, sorted[(n + 1) / 2 - 1]) << n;
        EXPECT_EQ(spread->p99, sorted[(99 * n + 99) / 100 - 1]) << n;
        EXPECT_EQ(spread->max, sorted.back()) << n;
    }
    EXPECT_FALSE(SpreadOf({}).has_value());
}

// A million rows in bins: each bin's median, least and greatest, the bins
// covering every row once in order.
TEST(Decimate, BinnedSpreadCoversEveryRowWithItsMedian) {
    std::vector<int32_t> values;
    for (int i = 0; i < 1000000; ++i) values.push_back(i % 1000 == 999 ? 31 : 5 + i % 2);
    const auto bins = BinnedSpread(values, 600);
    ASSERT_EQ(bins.size(), 600u);
    EXPECT_EQ(bins.front().firstRow, 1);
    EXPECT_EQ(bins.back().lastRow, 1000000);
    for (size_t i = 1; i < bins.size(); ++i) EXPECT_EQ(bins[i].firstRow, bins[i - 1].lastRow + 1);
    for (const BinSpread& bin : bins) {
        EXPECT_EQ(bin.low, 5);
        EXPECT_EQ(bin.high, 31);  // every bin of 1,666 rows holds a slow cycle
        EXPECT_TRUE(bin.median == 5 || bin.median == 6);  // not the slow cycles' 31
    }
    const auto few = BinnedSpread({9, 3, 4}, 600);  // one row a bin
    ASSERT_EQ(few.size(), 3u);
    EXPECT_EQ(few[1].median, 3);
    EXPECT_EQ(few[1].firstRow, 2);
    EXPECT_EQ(few[1].lastRow, 2);
    const auto one = BinnedSpread({4, 1, 3, 2}, 1);  // the lower middle of an even count
    ASSERT_EQ(one.size(), 1u);
    EXPECT_EQ(one[0].median, 2);
    EXPECT_EQ(one[0].low, 1);
    EXPECT_EQ(one[0].high, 4);
}

}  // namespace
}  // namespace varnholt

namespace varnholt {
namespace {

// A companion of megabytes is read beside its log, on a thread of its own:
// its move times are all taken, in order, as from a small one.
TEST(Report, ALargeCompanionIsReadBesideItsLog) {
    WorkingFolder folder;
    std::string log = Header("Shutter Cycle Test");
    std::string moves = std::string(kMovesColumns) + "\r\n";
    constexpr int kRows = 90000;         // some 1.2 MB of move times
    std::vector<int32_t> opens, closes;  // the moves taken, as the long way takes them
    for (int i = 1; i <= kRows; ++i) {
        const int second = 8 * 3600 + i * 5 % 86400;
        char time[16];
        std::snprintf(time, sizeof time, "%d:%02d:%02d %s",
                      second / 3600 % 12 == 0 ? 12 : second / 3600 % 12, second / 60 % 60,
                      second % 60, second % 86400 < 43200 ? "AM" : "PM");
        log += std::to_string(i) + "\tSUCCESS\t" + time + "\tNONE\r\n";
        // Now and then no opening, or a close of more than ten minutes (a
        // row left out whole); the rest as a million-row run's would be.
        const int open = 100 + i % 201, close = i % 1777 == 0 ? 700000 : 50 + i * 7 % 101;
        moves += std::to_string(i) + "\t" + (i % 1000 == 0 ? "" : std::to_string(open)) + "\t" +
                 std::to_string(close) + "\r\n";
        if (close > 600000) continue;
        if (i % 1000 != 0) opens.push_back(open);
        closes.push_back(close);
    }
    ASSERT_GT(moves.size(), 1u << 20);
    folder.Write("cycle_log1.txt", log);
    folder.Write("cycle_log1-moves.tsv", moves);
    const Report report = BuildReport({"."}, true);
    ASSERT_EQ(report.runs.size(), 1u);
    const RunFigures& r = report.runs[0];
    EXPECT_EQ(r.cycles, kRows);
    EXPECT_EQ(report.series[0].moves.size(), static_cast<size_t>(kRows));
    EXPECT_EQ(r.movesLeftOut, kRows / 1777);
    ASSERT_TRUE(r.openMs && r.closeMs);
    // 100 + i mod 201 over 90,000 rows: each of 100..300 alike, the median 200.
    EXPECT_EQ(r.openMs->median, 200);
    for (const auto& [got, values] : {std::pair{r.openMs, opens}, std::pair{r.closeMs, closes}}) {
        const auto want = SpreadOf(values);
        EXPECT_EQ(got->median, want->median);
        EXPECT_EQ(got->p99, want->p99);
        EXPECT_EQ(got->max, want->max);
    }
}

// What the reader found wrong is said, and each log is counted once however
// often and however it is named.
TEST(Report, EachLogOnceAndEveryProblemSaid) {
    WorkingFolder folder;
    std::filesystem::create_directory("twice");
    const std::string head = "Shutter Cycle Test\r\nStarted on 12/8/2026 at 3:07:09 PM\r\n\r\n" +
                             std::string(kLogColumns) + "\r\n";
    const std::string rows = "1\tSUCCESS\t3:07:14 PM\tNONE\r\n2\tFAILURE\t3:07:20 PM\tJAM\r\n";
    folder.Write("twice/cycle_log1.txt", head + rows);
    folder.Write("twice/cycle_log01.txt", head + rows);
    folder.Write("twice/cycle_log2.txt", head + rows + "2\tSUCCESS\t3:07:30 PM\tNONE\r\nnoise\r\n");
    folder.Write("twice/cycle_log2-moves.tsv",
                 "Count\tOpen ms\tClose ms\r\n1\t200\t190\r\n"
                 "9\t200\t190\r\n2\t999999999\t190\r\n");
    const Report report = BuildReport({"twice", "twice/", "./twice", "twice/cycle_log1.txt"});
    ASSERT_EQ(report.folders.size(), 1u);
    std::vector<std::string> files;
    for (const RunFigures& run : report.runs) files.push_back(run.file);
    EXPECT_EQ(files,
              (std::vector<std::string>{"cycle_log01.txt", "cycle_log1.txt", "cycle_log2.txt"}));
    const RunFigures& noisy = report.runs[2];
    EXPECT_EQ(noisy.cycles, 2);
    EXPECT_EQ(noisy.badLines, 2);
    EXPECT_EQ(noisy.movesLeftOut, 2);
    ASSERT_TRUE(noisy.openMs);
    EXPECT_EQ(noisy.openMs->max, 200);
    std::string said;
    for (const ReportProblem& p : report.problems) said += p.problem + "\n";
    for (const char* expected :
         {"twice/cycle_log1.txt carries the same number as twice/cycle_log01.txt (a copy?)",
          "twice/cycle_log2.txt has 2 lines that are not a row in its place, the first at line 7 "
          "(1 row whose Count is not the one after the row before)",
          "The move times beside twice/cycle_log2.txt hold 2 rows that are not of this log's"}) {
        EXPECT_NE(said.find(expected), std::string::npos) << expected << "\n---\n" << said;
    }
    EXPECT_NE(ReportTable(report).find("Problem: twice/cycle_log2.txt has 2 lines"),
              std::string::npos);
}

#ifndef _WIN32
// A FIFO swapped in under a log's name between the look at it and the open:
// never waited on, however the race falls.
TEST(Report, AFifoSwappedInNeverHangsTheReader) {
    WorkingFolder folder;
    const std::string log = "Shutter Cycle Test\r\nStarted on 12/8/2026 at 3:07:09 PM\r\n\r\n" +
                            std::string(kLogColumns) + "\r\n1\tSUCCESS\t3:07:14 PM\tNONE\r\n";
    folder.Write("plain.txt", log);
    ASSERT_EQ(::mkfifo("pipe", 0600), 0);
    std::atomic<bool> stop{false};
    std::thread swapper([&] {
        while (!stop) {
            std::filesystem::copy_file("plain.txt", "next.txt",
                                       std::filesystem::copy_options::overwrite_existing);
            std::rename("next.txt", "cycle_log1.txt");
            ::unlink("pipe2");
            ::mkfifo("pipe2", 0600);
            std::rename("pipe2", "cycle_log1.txt");
        }
    });
    auto reading = std::async(std::launch::async, [] {
        int runs = 0;
        for (int i = 0; i < 2000; ++i) runs += static_cast<int>(BuildReport({"."}).runs.size());
        return runs;
    });
    const bool done = reading.wait_for(std::chrono::seconds(60)) == std::future_status::ready;
    stop = true;
    swapper.join();
    if (!done) {
        // Release a reader stuck in a FIFO's open, so that the test can end.
        for (int i = 0; i < 100 && reading.wait_for(std::chrono::milliseconds(10)) !=
                                       std::future_status::ready;
             ++i) {
            const int fd = ::open("cycle_log1.txt", O_WRONLY | O_NONBLOCK);
            if (fd >= 0) ::close(fd);
        }
    }
    ASSERT_TRUE(done) << "the report hung on a FIFO";
    reading.get();
    // With the log back in place it is read as ever.
    std::filesystem::copy_file("plain.txt", "next.txt",
                               std::filesystem::copy_options::overwrite_existing);
    std::rename("next.txt", "cycle_log1.txt");
    EXPECT_EQ(BuildReport({"."}).runs.size(), 1u);
}
#endif

}  // namespace
}  // namespace varnholt

namespace varnholt {
namespace {

// A followed log that changes under the reader: replaced by rename (another
// run, or a longer copy), or a torn row cut back and written over with a
// FAILURE row. The figures are those of the file as it now is.
TEST(Report, AFollowedLogReplacedOrRewrittenIsReadAgain) {
    WorkingFolder folder;
    const std::string head = "Shutter Cycle Test\r\nStarted on 12/8/2026 at 3:07:09 PM\r\n\r\n" +
                             std::string(kLogColumns) + "\r\n";
    const auto rows = [](int from, int to, int failAt, const char* at = "3:08:00 PM") {
        std::string text;
        for (int i = from; i <= to; ++i) {
            text += std::to_string(i) + (i == failAt ? "\tFAILURE\t" : "\tSUCCESS\t") + at +
                    (i == failAt ? "\tJAM\r\n" : "\tNONE\r\n");
        }
        return text;
    };
    struct Case {
        const char* name;
        std::string before, after;
        bool byRename;
        int64_t cycles, failures;
    };
    const Case cases[] = {
        {"another run renamed over it", head + rows(1, 6, 0), head + rows(1, 4, 3), true, 4, 1},
        {"a longer run renamed over it", head + rows(1, 3, 0), head + rows(1, 6, 5, "4:10:00 PM"),
         true, 6, 1},
        {"a torn row written over", head + rows(1, 2, 0) + "3\tSUCC",
         head + rows(1, 2, 0) + rows(3, 3, 3), false, 3, 1},
    };
    // Each case also with the run kept as its figures alone in between, as
    // the Runs window keeps finished logs.
    for (const bool compacted : {false, true})
        for (const Case& c : cases) {
            folder.Write("cycle_log1.txt", c.before);
            RunFile run(".", "cycle_log1.txt");
            ASSERT_TRUE(run.Refresh()) << c.name;
            if (compacted) run.Compact();
            if (c.byRename) {
                folder.Write("new.txt", c.after);
                std::filesystem::rename("new.txt", "cycle_log1.txt");
            } else {
                folder.Write("cycle_log1.txt", c.after);
            }
            ASSERT_TRUE(run.Refresh()) << c.name;
            const RunFigures f = run.Figures();
            EXPECT_EQ(f.cycles, c.cycles) << c.name;
            EXPECT_EQ(f.failures, c.failures) << c.name;
            EXPECT_EQ(f.badLines, 0) << c.name;
        }
}

// A log kept as its figures: unchanged, the same figures without a look
// inside; its rows back when wanted again; a log that grows is kept whole.
TEST(Report, AFinishedLogIsKeptAsItsFigures) {
    WorkingFolder folder;
    std::string log = "Shutter Cycle Test\r\nStarted on 12/8/2026 at 3:07:09 PM\r\n\r\n" +
                      std::string(kLogColumns) + "\r\n";
    for (int i = 1; i <= 5; ++i)
        log += std::to_string(i) + "\tSUCCESS\t3:08:0" + std::to_string(i) + " PM\tNONE\r\n";
    folder.Write("cycle_log1.txt", log);
    RunFile run(".", "cycle_log1.txt");
    ASSERT_TRUE(run.Refresh());
    EXPECT_FALSE(run.Grew());
    const auto before = run.SharedFigures();
    run.Compact();
    ASSERT_TRUE(run.Compacted());
    EXPECT_TRUE(run.series().intervals.empty());
    ASSERT_TRUE(run.Refresh());
    EXPECT_EQ(run.SharedFigures(), before);  // not read again
    run.Warm();
    ASSERT_TRUE(run.Refresh());
    EXPECT_EQ(run.series().intervals.size(), 5u);
    EXPECT_EQ(run.Figures().cycles, 5);
    EXPECT_EQ(run.Figures().cycleSeconds->median, before->cycleSeconds->median);
    // Growing while followed: more rows read on from where it stood.
    std::ofstream(folder.path() + "/cycle_log1.txt", std::ios::app | std::ios::binary)
        << "6\tSUCCESS\t3:08:06 PM\tNONE\r\n";
    ASSERT_TRUE(run.Refresh());
    EXPECT_TRUE(run.Grew());
    EXPECT_EQ(run.Figures().cycles, 6);
}

// A log's series is given room for as many rows as its bytes can hold and
// little more: the shortest rows (an empty error, LF only, 1:00:00 AM) fill
// it to the row across Counts of one to seven digits, and ordinary rows
// leave no more than a quarter more. Also that stamps taken by a
// watcher that let go of the log are those the file shows until it changes.
TEST(Report, ALogsSeriesHasRoomForItsRowsAndLittleMore) {
    WorkingFolder folder;
    const std::string head = "Shutter Cycle Test\r\nStarted on 12/8/2026 at 3:07:09 PM\r\n\r\n" +
                             std::string(kLogColumns) + "\r\n";
    for (const int rows : {9, 10, 99, 100, 12345, 1000001}) {
        for (const bool shortest : {true, false}) {
            std::string log = head;
            for (int i = 1; i <= rows; ++i) {
                log += std::to_string(i) +
                       (shortest ? "\tSUCCESS\t1:00:00 AM\t\n" : "\tSUCCESS\t3:08:01 PM\tNONE\r\n");
            }
            folder.Write("cycle_log1.txt", log);
            RunFile run(".", "cycle_log1.txt");
            ASSERT_TRUE(run.Refresh());
            ASSERT_EQ(run.series().intervals.size(), static_cast<size_t>(rows));
            const size_t room = run.series().intervals.capacity();
            EXPECT_LE(room, rows + 4 + (shortest ? 0 : rows / 4)) << rows << " " << shortest;
            EXPECT_EQ(run.Stamps(), RunFile::StampsNow("cycle_log1.txt"));
        }
    }
    RunFile run(".", "cycle_log1.txt");
    ASSERT_TRUE(run.Refresh());
    const RunStamps before = run.Stamps();
    folder.Write(RunRecordName("cycle_log1.txt"), "{}");
    EXPECT_NE(RunFile::StampsNow("cycle_log1.txt"), before);
}

}  // namespace
}  // namespace varnholt
