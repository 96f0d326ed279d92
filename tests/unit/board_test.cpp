#include <gtest/gtest.h>

#include <string>

#include "board/bench_board.h"
#include "board/board_page.h"
#include "runlog/json.h"

namespace varnholt {
namespace {

const std::string kStatus =
    R"({"state": "cycle", "log": "cycle_log1.txt", "unit": "SN-1", "lot": "L7", "cycle": 5,
        "failures": 0, "since": "2026-12-10T02:00:00", "version": "1.3.1", "bench": "bench-1",
        "host": "pc1", "updated": "2026-12-10T02:50:00Z", "last_end": null})";

std::string Row(int64_t count, const std::string& status = "SUCCESS",
                const std::string& error = "") {
    return JsonText({{"log", "cycle_log1.txt"},
                     {"unit", "SN-1"},
                     {"count", count},
                     {"status", status},
                     {"time", "2026-12-10T02:00:00"},
                     {"error", error}});
}

std::string Events(const std::vector<Alert>& alerts) {
    std::string out;
    for (const Alert& a : alerts) out += (out.empty() ? "" : " ") + a.event;
    return out;
}

TEST(BenchBoard, MessagesOfTheWrongShapeAreIgnoredWithOneSentenceEach) {
    struct Case {
        const char* topic;
        std::string payload;
        const char* said;
    } cases[] = {
        {"varnholt/a/status", std::string(17 * 1024, ' '), "larger than 16 KiB"},
        {"varnholt/a/status", "not json", "not a JSON object"},
        {"varnholt/a/rows", "[1, 2]", "not a JSON object"},
        {"varnholt/a/status", R"({"state": "cycle", "cycle": "12"})",
         "\"cycle\" is not a whole number"},
        {"varnholt/a/status", R"({"state": "cycle", "cycle": -3})",
         "\"cycle\" is not a whole number"},
        {"varnholt/a/status", R"({"state": "dancing"})", "none of cycle, powercut"},
        {"varnholt/a/status", R"({"state": "idle", "unit": 7})", "\"unit\" is not text"},
        {"varnholt/a/events", R"({"event": "failure", "text": null})", "\"text\" is not text"},
    };
    for (const Case& c : cases) {
        BenchBoard board;
        board.Take(c.topic, c.payload, 1000);
        board.Take(c.topic, c.payload, 2000);  // the same cause again: said once
        const auto said = board.TakeSentences();
        ASSERT_EQ(said.size(), 1u) << c.payload.substr(0, 40);
        EXPECT_NE(said[0].find(c.said), std::string::npos) << said[0];
        for (const BenchView& b : board.Benches()) {
            EXPECT_EQ(b.cycle, 0) << c.payload;
            EXPECT_EQ(b.state, "idle") << c.payload;
        }
    }
    BenchBoard board;
    board.Take("varnholt/a/other", "not json", 0);  // not a bench's topic: passed over
    EXPECT_TRUE(board.TakeSentences().empty());
    EXPECT_TRUE(board.Benches().empty());
}

TEST(BenchBoard, StatesAndEachAlertOnceUntilItClears) {
    BoardLimits limits;
    limits.stallMs = 60000;
    limits.offlineMs = 180000;
    BenchBoard board(limits);
    int64_t t = 1'000'000;
    board.Take("varnholt/pc1/b1/status", kStatus, t);
    for (int i = 6; i <= 10; ++i) board.Take("varnholt/pc1/b1/rows", Row(i), t += 1000);
    ASSERT_EQ(board.Benches().size(), 1u);
    BenchView b = board.Benches()[0];
    EXPECT_EQ(b.state, "running");
    EXPECT_EQ(b.cycle, 10);
    EXPECT_DOUBLE_EQ(b.cyclesPerHour, 3600);
    EXPECT_EQ(Events(board.TakeAlerts()), "");

    board.Tick(t + 59000);  // under the stall time
    EXPECT_EQ(board.Benches()[0].state, "running");
    board.Tick(t + 61000);
    board.Tick(t + 62000);
    EXPECT_EQ(board.Benches()[0].state, "stalled");
    EXPECT_EQ(Events(board.TakeAlerts()), "stalled");
    board.Take("varnholt/pc1/b1/rows", Row(11), t += 63000);
    EXPECT_EQ(board.Benches()[0].state, "running");
    EXPECT_EQ(Events(board.TakeAlerts()), "back");

    board.Take("varnholt/pc1/b1/rows",
               Row(12, "FAILURE", "PowerOff Error: -1 Timed out waiting for power supply"),
               t += 1000);
    board.Take("varnholt/pc1/b1/rows",
               Row(13, "FAILURE", "PowerOff Error: -1 Timed out waiting for power supply"),
               t += 1000);
    board.Take("varnholt/pc1/b1/events", R"({"event": "failure", "log": "cycle_log1.txt",
        "text": "Shutter did not open"})",
               t);
    EXPECT_EQ(Events(board.TakeAlerts()), "bench_fault failure");
    EXPECT_EQ(board.Benches()[0].benchFaults, 2);
    EXPECT_EQ(board.Benches()[0].lastFailure, "Shutter did not open");

    std::string idle = kStatus;
    idle.replace(idle.find("\"cycle\","), 8, "\"idle\",");
    idle.replace(idle.find("null"), 4, "\"failure\"");
    board.Take("varnholt/pc1/b1/status", idle, t += 1000);
    EXPECT_EQ(board.Benches()[0].state, "failed");

    // The Last Will, then a bench silent for three heartbeats.
    board.Take("varnholt/pc1/b1/status",
               R"({"state": "offline", "bench": "bench-1", "host": "pc1"})", t += 1000);
    board.Take("varnholt/pc1/b1/status",
               R"({"state": "offline", "bench": "bench-1", "host": "pc1"})", t += 1000);
    EXPECT_EQ(board.Benches()[0].state, "offline");
    board.Take("varnholt/pc2/b2/status", idle, t);
    board.Tick(t + 179000);
    EXPECT_EQ(Events(board.TakeAlerts()), "offline");
    board.Tick(t + 181000);
    board.Tick(t + 182000);
    EXPECT_EQ(Events(board.TakeAlerts()), "offline");
    board.Take("varnholt/pc2/b2/status", idle, t + 183000);  // back, not running: no call
    EXPECT_EQ(board.Benches()[1].state, "failed");
    board.Take("varnholt/pc2/b2/status", kStatus, t + 184000);
    EXPECT_EQ(Events(board.TakeAlerts()), "back");
}

TEST(BenchBoard, HoldsAtMostItsLimitDroppingTheOldestOfflineFirst) {
    BoardLimits limits;
    limits.benches = 3;
    BenchBoard board(limits);
    board.Take("v/a/status", kStatus, 1);
    board.Take("v/b/status", R"({"state": "offline"})", 2);
    board.Take("v/c/status", R"({"state": "offline"})", 3);
    board.Take("v/d/status", kStatus, 4);
    board.Take("v/e/status", kStatus, 5);
    std::string topics;
    for (const BenchView& b : board.Benches()) topics += b.topic + " ";
    EXPECT_EQ(topics, "v/a v/d v/e ");
    EXPECT_EQ(board.TakeSentences().size(), 1u);
}

TEST(BoardPage, NamesAreTextNeverMarkup) {
    BenchView b;
    b.topic = "v/x";
    b.bench = "bench \"3\"\\\n";
    b.host = "<script>alert(1)</script>";
    b.unit = "<img src=x onerror=alert(1)>";
    b.lot = "L&7'";
    b.state = "running";
    b.lastFailure = "a\x01<b>";
    const std::string html = BenchesHtml({b}, 0);
    EXPECT_EQ(html.find("<img"), std::string::npos) << html;
    EXPECT_EQ(html.find("<script"), std::string::npos) << html;
    EXPECT_EQ(html.find("<b>"), std::string::npos) << html;
    EXPECT_NE(html.find("&lt;img src=x onerror=alert(1)&gt;"), std::string::npos);
    EXPECT_NE(html.find("L&amp;7&#39;"), std::string::npos);
    EXPECT_EQ(html.find('\x01'), std::string::npos);

    const std::string metrics = MetricsText({b});
    EXPECT_NE(metrics.find(R"(bench="bench \"3\"\\\n")"), std::string::npos) << metrics;
    EXPECT_NE(metrics.find("# TYPE varnholt_cycles_total counter"), std::string::npos);

    const Json api = Json::parse(BenchesJson({b}));
    for (const char* key : {"bench", "host", "topic", "state", "test", "unit", "lot", "log",
                            "cycle", "failures", "last_row_utc", "updated_utc", "since_utc"}) {
        EXPECT_TRUE(api[0].contains(key)) << key;
    }
    EXPECT_EQ(api[0]["unit"], b.unit);
}

}  // namespace
}  // namespace varnholt
