#include "monitoring/monitor_feed.h"

#include <cstdio>
#include <utility>

#include "runlog/log_file.h"
#include "runlog/utf8_text.h"

namespace varnholt {
namespace {

int64_t Now() { return LocalSecondsOf(LocalTimeNow()); }

}  // namespace

MonitorFeed::MonitorFeed(std::string version, Send send, Notify notify)
    : version_(std::move(version)),
      send_(std::move(send)),
      notify_(std::move(notify)),
      since_(Now()) {}

std::string MonitorFeed::StatusPayload(uint64_t droppedSoFar) const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::string json = "{\"state\": \"" + state_ +
                       "\", \"log\": " + (log_.empty() ? std::string("null") : JsonString(log_)) +
                       ", \"unit\": " + JsonString(unit_) + ", \"lot\": " + JsonString(lot_) +
                       ", \"cycle\": " + std::to_string(cycle_) +
                       ", \"failures\": " + std::to_string(failures_) + ", \"since\": \"" +
                       IsoLocalText(since_) + "\", \"version\": " + JsonString(version_);
    if (droppedSoFar > 0) json += ", \"dropped\": " + std::to_string(droppedSoFar);
    return json + "}";
}

std::string MonitorFeed::OfflinePayload() { return "{\"state\": \"offline\"}"; }

void MonitorFeed::Status() { send_({"status", StatusPayload(dropped()), true}); }

void MonitorFeed::Event(const char* event, const std::string& text) {
    send_({"events",
           std::string("{\"event\": \"") + event +
               "\", \"log\": " + (log_.empty() ? std::string("null") : JsonString(log_)) +
               ", \"text\": " + JsonString(text) + "}",
           false});
}

void MonitorFeed::OnRunStarted(const RunStarted& e) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        kind_ = e.kind;
        state_ = NamesOf(e.kind).json;
        log_ = e.log;
        unit_ = e.unit;
        lot_ = e.lot;
        cycle_ = 0;
        failures_ = 0;
        since_ = e.started;
    }
    Status();
    Event("started",
          std::string("The ") + NamesOf(e.kind).description + " started, writing " + e.log + ".");
}

void MonitorFeed::OnRowWritten(const RowWritten& e) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        cycle_ = e.count;
        if (e.failure || (e.kind == TestLogKind::PowerCutTest && !e.error.empty())) ++failures_;
    }
    send_({"rows",
           "{\"log\": " + JsonString(e.log) + ", \"unit\": " + JsonString(e.unit) +
               ", \"count\": " + std::to_string(e.count) + ", \"status\": \"" +
               (e.failure ? kLogFailure : kLogSuccess) + "\", \"time\": \"" + IsoLocalText(e.when) +
               "\", \"error\": " + JsonString(e.error) + "}",
           false});
    Status();
}

void MonitorFeed::OnRunEnded(const RunEnded& e) {
    if (e.byFailure) {
        Event("failure", e.text);
        if (notify_) notify_("failure", e.log, e.lastCount, e.text, e.unit);
    }
    Event("ended", e.text);
    if (notify_) notify_("ended", e.log, e.lastCount, e.text, e.unit);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        state_ = "idle";
        since_ = Now();
    }
    Status();
}

void MonitorFeed::OnLineChanged(const LineChanged& e) {
    Event(e.back ? "line_back" : "line_dropped", e.text);
    if (!e.back && notify_) notify_("line_dropped", log_, cycle_, e.text, unit_);
}

}  // namespace varnholt
