#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

#include "sequencing/run_events.h"

namespace varnholt {

// One message for the broker: a topic under the bench's own, its JSON, and
// whether the broker keeps it for late subscribers.
struct MonitorMessage {
    std::string subtopic;  // "status", "rows", "events"
    std::string payload;
    bool retain = false;
};

// A run's events as the monitoring's messages: the bench's status (retained),
// every row, and the events; and the calls of the notify command. Kept free
// of any MQTT library: it only hands messages on.
class MonitorFeed : public RunObserver {
public:
    using Send = std::function<void(const MonitorMessage&)>;
    using Notify =
        std::function<void(const std::string& event, const std::string& log, int64_t count,
                           const std::string& text, const std::string& unit)>;
    // bench and host name the bench on a lab's board (BenchName, the PC).
    MonitorFeed(std::string version, Send send, Notify notify, std::string bench = "",
                std::string host = "");

    // The status as it stands, with the count of messages dropped so far,
    // stamped with the time it is made ("updated", UTC).
    std::string StatusPayload(uint64_t droppedSoFar) const;
    // The Last Will, and the status of a clean end.
    std::string OfflinePayload() const;

    void OnRunStarted(const RunStarted& event) override;
    void OnRowWritten(const RowWritten& event) override;
    void OnRunEnded(const RunEnded& event) override;
    void OnLineChanged(const LineChanged& event) override;

    // Set by the sender: how many messages the queue has dropped.
    std::function<uint64_t()> dropped = [] { return uint64_t{0}; };

private:
    void Status();
    void Event(const char* event, const std::string& text);

    std::string version_;
    std::string bench_, host_;
    Send send_;
    // The link's thread reads the status when it (re)connects.
    mutable std::mutex mutex_;
    Notify notify_;
    std::string state_ = "idle";
    std::string log_;  // empty: null
    std::string unit_, lot_;
    int64_t cycle_ = 0, failures_ = 0;
    int64_t since_ = 0;
    std::string lastEnd_;  // how the last run ended, as its record says; empty: none yet
    TestLogKind kind_ = TestLogKind::CycleTest;
};

}  // namespace varnholt
