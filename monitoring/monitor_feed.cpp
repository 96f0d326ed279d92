#include "monitoring/monitor_feed.h"

#include <cstdio>
#include <ctime>
#include <utility>

#include "runlog/json.h"
#include "runlog/log_file.h"
#include "runlog/run_record.h"
#include "runlog/utf8_text.h"

namespace varnholt {
namespace {

int64_t Now() { return LocalSecondsOf(LocalTimeNow()); }
Json LogName(const std::string& log) { return log.empty() ? Json(nullptr) : Json(log); }

}  // namespace

MonitorFeed::MonitorFeed(std::string version, Send send, Notify notify, std::string bench,
                         std::string host)
    : version_(std::move(version)),
      bench_(std::move(bench)),
      host_(std::move(host)),
      send_(std::move(send)),
      notify_(std::move(notify)),
      since_(Now()) {}

std::string MonitorFeed::StatusPayload(uint64_t droppedSoFar) const {
    std::lock_guard<std::mutex> lock(mutex_);
    Json status = {{"state", state_},
                   {"log", LogName(log_)},
                   {"unit", unit_},
                   {"lot", lot_},
                   {"cycle", cycle_},
                   {"failures", failures_},
                   {"since", IsoLocalText(since_)},
                   {"version", version_}};
    // After the fields dashboards already read, so they keep their places.
    status["bench"] = bench_;
    status["host"] = host_;
    status["updated"] = UtcText(static_cast<int64_t>(std::time(nullptr)));
    status["last_end"] = lastEnd_.empty() ? Json(nullptr) : Json(lastEnd_);
    if (droppedSoFar > 0) status["dropped"] = droppedSoFar;
    return JsonText(status);
}

std::string MonitorFeed::OfflinePayload() const {
    return JsonText(JsonObject({{"state", "offline"}, {"bench", bench_}, {"host", host_}}));
}

void MonitorFeed::Status() { send_({"status", StatusPayload(dropped()), true}); }

void MonitorFeed::Event(const char* event, const std::string& text) {
    send_({"events", JsonText({{"event", event}, {"log", LogName(log_)}, {"text", text}}), false});
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
           JsonText({{"log", e.log},
                     {"unit", e.unit},
                     {"count", e.count},
                     {"status", e.failure ? kLogFailure : kLogSuccess},
                     {"time", IsoLocalText(e.when)},
                     {"error", e.error}}),
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
        lastEnd_ = e.ended;
    }
    Status();
}

void MonitorFeed::OnLineChanged(const LineChanged& e) {
    Event(e.back ? "line_back" : "line_dropped", e.text);
    if (!e.back && notify_) notify_("line_dropped", log_, cycle_, e.text, unit_);
}

}  // namespace varnholt
