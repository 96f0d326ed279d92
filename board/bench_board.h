#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace varnholt {

// One bench as the board shows it: the page, /api/benches and /metrics.
struct BenchView {
    std::string topic, bench, host;
    std::string state;  // running, idle, failed, offline, stalled
    std::string test;   // cycle, powercut, or empty while no test runs
    std::string unit, lot, log;
    int64_t cycle = 0, failures = 0;
    int64_t shutterFailures = 0, benchFaults = 0;       // rows of the current log seen here
    int64_t lastRowMs = 0, updatedMs = 0, sinceMs = 0;  // Unix ms; 0: never
    double cyclesPerHour = 0;
    std::string lastFailure;
};

// A call of the alert command: EVENT BENCH UNIT TEXT.
struct Alert {
    std::string event, bench, unit, text;
};

struct BoardLimits {
    size_t benches = 1000;
    size_t payloadBytes = 16 * 1024;
    int64_t offlineMs = 3 * 60 * 1000;  // three heartbeats without a status
    int64_t stallMs = 10 * 60 * 1000;
};

// Every bench heard on the broker, from its status, rows and events. All of
// it is untrusted: anyone who may publish can publish a fake bench, so a
// message of the wrong shape is ignored with one sentence per topic and
// cause, and the number of benches is bounded. Safe from any thread.
class BenchBoard {
public:
    explicit BenchBoard(BoardLimits limits = BoardLimits()) : limits_(limits) {}

    // A message as it came, at nowMs (Unix ms). Topics are told by their
    // ends: .../status, .../rows, .../events; others are passed over.
    void Take(const std::string& topic, std::string_view payload, int64_t nowMs);
    // Marks benches offline (no status for three heartbeats) or stalled
    // (running, no row for the stall time or ten median cycles, whichever
    // is longer). Called about once a second.
    void Tick(int64_t nowMs);

    std::vector<BenchView> Benches() const;  // by bench name, then topic
    std::vector<Alert> TakeAlerts();
    std::vector<std::string> TakeSentences();
    uint64_t Version() const;  // goes up with every change the page shows

private:
    struct Bench {
        BenchView view;
        std::string rawState = "idle";
        std::string lastEnd;
        int64_t lastStatusMs = 0;
        std::deque<int64_t> intervals;  // the last row intervals, ms
        std::set<std::string> causes;   // alerts sent and not yet cleared
        bool down = false;              // offline or stalled since it last ran
    };
    void Status(Bench& b, const std::string& payload, int64_t nowMs);
    void Row(Bench& b, const std::string& payload, int64_t nowMs);
    void Event(Bench& b, const std::string& payload, int64_t nowMs);
    void SetState(Bench& b, const std::string& state, int64_t nowMs);
    void Raise(Bench& b, const std::string& cause, const std::string& event,
               const std::string& text);
    void Ignore(const std::string& topic, const std::string& why);
    Bench* Find(const std::string& root, int64_t nowMs);
    int64_t StallMs(const Bench& b) const;

    BoardLimits limits_;
    mutable std::mutex mutex_;
    std::map<std::string, Bench> benches_;  // by root topic
    std::vector<Alert> alerts_;
    std::vector<std::string> sentences_;
    std::set<std::string> told_;
    bool toldFull_ = false;
    uint64_t version_ = 0;
};

}  // namespace varnholt
