#include "board/bench_board.h"

#include <algorithm>

#include "runlog/failure_class.h"
#include "runlog/json.h"
#include "runlog/run_record.h"
#include "runlog/utf8_text.h"

namespace varnholt {
namespace {

constexpr size_t kIntervalsKept = 32;

// A field of the expected type, or the reason it is not.
bool Text(const Json& j, const char* key, std::string& out, std::string& why, bool nullable) {
    const auto it = j.find(key);
    if (it == j.end() || (nullable && it->is_null())) return true;
    if (!it->is_string()) {
        why = std::string("its field \"") + key + "\" is not text";
        return false;
    }
    out = it->get<std::string>();
    return true;
}

bool Count(const Json& j, const char* key, int64_t& out, std::string& why) {
    const auto it = j.find(key);
    if (it == j.end()) return true;
    if (!it->is_number_integer() || it->get<int64_t>() < 0) {
        why = std::string("its field \"") + key + "\" is not a whole number of 0 or more";
        return false;
    }
    out = it->get<int64_t>();
    return true;
}

int64_t Median(std::deque<int64_t> values) {
    if (values.empty()) return 0;
    auto middle = values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2);
    std::nth_element(values.begin(), middle, values.end());
    return *middle;
}

}  // namespace

void BenchBoard::Ignore(const std::string& topic, const std::string& why) {
    if (told_.size() < 10000 && told_.insert(topic + "\n" + why).second) {
        sentences_.push_back("a message on " + PrintableName(topic, 200) + " was ignored: " + why +
                             "; the board shows only what Varnholt benches publish.");
    }
}

BenchBoard::Bench* BenchBoard::Find(const std::string& root, int64_t nowMs) {
    auto it = benches_.find(root);
    if (it != benches_.end()) return &it->second;
    if (benches_.size() >= limits_.benches) {
        // The oldest offline one goes first; with none offline, the one
        // heard from longest ago.
        auto victim = benches_.end();
        for (auto b = benches_.begin(); b != benches_.end(); ++b) {
            const auto key = [](const Bench& x) {
                return std::make_pair(x.view.state != "offline", x.lastStatusMs);
            };
            if (victim == benches_.end() || key(b->second) < key(victim->second)) victim = b;
        }
        if (!toldFull_) {
            toldFull_ = true;
            sentences_.push_back("more than " + std::to_string(limits_.benches) +
                                 " benches publish on the broker; the oldest offline ones are "
                                 "dropped from the board to make room.");
        }
        benches_.erase(victim);
    }
    Bench& b = benches_[root];
    b.view.topic = root;
    b.view.state = "idle";
    b.view.sinceMs = nowMs;
    b.lastStatusMs = nowMs;
    return &b;
}

void BenchBoard::Take(const std::string& topic, std::string_view payload, int64_t nowMs) {
    std::lock_guard<std::mutex> lock(mutex_);
    const size_t slash = topic.rfind('/');
    if (slash == std::string::npos || slash == 0) return;
    const std::string end = topic.substr(slash + 1);
    if (end != "status" && end != "rows" && end != "events") return;
    if (payload.size() > limits_.payloadBytes) {
        return Ignore(topic,
                      "it is larger than " + std::to_string(limits_.payloadBytes / 1024) + " KiB");
    }
    const std::string text(payload);
    const Json j = Json::parse(text, nullptr, false);
    if (j.is_discarded() || !j.is_object()) return Ignore(topic, "it is not a JSON object");
    Bench* b = Find(topic.substr(0, slash), nowMs);
    ++version_;
    if (end == "status") {
        Status(*b, text, nowMs);
    } else if (end == "rows") {
        Row(*b, text, nowMs);
    } else {
        Event(*b, text, nowMs);
    }
}

void BenchBoard::SetState(Bench& b, const std::string& state, int64_t nowMs) {
    if (b.view.state == state) return;
    b.view.state = state;
    b.view.sinceMs = nowMs;
}

void BenchBoard::Raise(Bench& b, const std::string& cause, const std::string& event,
                       const std::string& text) {
    if (b.causes.insert(cause).second) {
        alerts_.push_back(
            {event, b.view.bench.empty() ? b.view.topic : b.view.bench, b.view.unit, text});
    }
}

void BenchBoard::Status(Bench& b, const std::string& payload, int64_t nowMs) {
    const Json j = Json::parse(payload);
    BenchView v = b.view;
    std::string state, lastEnd, updated, why;
    int64_t cycle = v.cycle, failures = v.failures;
    const bool ok = Text(j, "state", state, why, false) && Text(j, "bench", v.bench, why, false) &&
                    Text(j, "host", v.host, why, false) && Text(j, "unit", v.unit, why, false) &&
                    Text(j, "lot", v.lot, why, false) && Text(j, "log", v.log, why, true) &&
                    Text(j, "last_end", lastEnd, why, true) &&
                    Text(j, "updated", updated, why, false) && Count(j, "cycle", cycle, why) &&
                    Count(j, "failures", failures, why);
    if (!ok) return Ignore(b.view.topic + "/status", why);
    if (state != "cycle" && state != "powercut" && state != "idle" && state != "offline") {
        return Ignore(b.view.topic + "/status",
                      "its state is none of cycle, powercut, idle, offline");
    }
    const std::string name = v.bench.empty() ? v.topic : v.bench;
    if (v.log != b.view.log) v.shutterFailures = v.benchFaults = 0;
    v.cycle = cycle;
    v.failures = failures;
    int64_t seconds = 0;
    v.updatedMs = !updated.empty() && ParseUtcText(updated, seconds) ? seconds * 1000 : nowMs;
    b.view = v;
    b.rawState = state;
    b.lastStatusMs = nowMs;
    if (j.contains("last_end")) b.lastEnd = lastEnd;
    if (state == "offline") {
        SetState(b, "offline", nowMs);
        b.down = true;
        b.causes.erase("stalled");
        Raise(b, "offline", "offline",
              "The bench " + name + " went offline (its Last Will or its end).");
        return;
    }
    b.causes.erase("offline");
    const bool running = state == "cycle" || state == "powercut";
    b.view.test = running ? state : "";
    if (running) {
        if (b.view.state != "stalled") SetState(b, "running", nowMs);
        if (b.down && b.view.state == "running") {
            b.down = false;
            alerts_.push_back({"back", name, v.unit, "The bench " + name + " is running again."});
        }
    } else {
        SetState(b, b.lastEnd == "failure" ? "failed" : "idle", nowMs);
        b.causes.erase("stalled");
    }
}

void BenchBoard::Row(Bench& b, const std::string& payload, int64_t nowMs) {
    const Json j = Json::parse(payload);
    std::string log, unit, status, error, why;
    int64_t count = 0;
    const bool ok = Text(j, "log", log, why, false) && Text(j, "unit", unit, why, false) &&
                    Text(j, "status", status, why, false) && Text(j, "error", error, why, false) &&
                    Count(j, "count", count, why);
    if (!ok) return Ignore(b.view.topic + "/rows", why);
    if (log != b.view.log) {
        b.view.log = log;
        b.view.shutterFailures = b.view.benchFaults = 0;
        b.intervals.clear();
        b.causes.erase("bench_fault");
    }
    b.view.cycle = count;
    if (b.view.lastRowMs > 0 && nowMs >= b.view.lastRowMs) {
        b.intervals.push_back(nowMs - b.view.lastRowMs);
        if (b.intervals.size() > kIntervalsKept) b.intervals.pop_front();
    }
    b.view.lastRowMs = nowMs;
    const int64_t median = Median(b.intervals);
    b.view.cyclesPerHour = median > 0 ? 3600000.0 / static_cast<double>(median) : 0;
    const bool failed = status == "FAILURE" || (b.view.test == "powercut" && !error.empty());
    const std::string name = b.view.bench.empty() ? b.view.topic : b.view.bench;
    if (failed && ClassOfFailure(error) == FailureClass::Shutter) {
        ++b.view.shutterFailures;
    } else if (failed) {
        ++b.view.benchFaults;
        Raise(
            b, "bench_fault", "bench_fault",
            "The bench " + name + " had a fault at cycle " + std::to_string(count) + ": " + error);
    }
    if (b.view.state == "stalled" || b.view.state == "offline") {
        SetState(b, "running", nowMs);
        b.causes.erase("stalled");
        b.causes.erase("offline");
        if (b.down) {
            b.down = false;
            alerts_.push_back(
                {"back", name, b.view.unit, "The bench " + name + " is running again."});
        }
    }
}

void BenchBoard::Event(Bench& b, const std::string& payload, int64_t) {
    const Json j = Json::parse(payload);
    std::string event, text, log, why;
    if (!Text(j, "event", event, why, false) || !Text(j, "text", text, why, false) ||
        !Text(j, "log", log, why, true)) {
        return Ignore(b.view.topic + "/events", why);
    }
    if (event == "failure") {
        b.view.lastFailure = text;
        Raise(b, "failure:" + log, "failure", text);
    } else if (event == "line_dropped") {
        Raise(b, "bench_fault", "bench_fault", text);
    } else if (event == "line_back" || event == "started") {
        b.causes.erase("bench_fault");
    }
}

int64_t BenchBoard::StallMs(const Bench& b) const {
    return std::max(limits_.stallMs, 10 * Median(b.intervals));
}

void BenchBoard::Tick(int64_t nowMs) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto& [root, b] : benches_) {
        const std::string name = b.view.bench.empty() ? root : b.view.bench;
        if (b.view.state != "offline" && nowMs - b.lastStatusMs > limits_.offlineMs) {
            SetState(b, "offline", nowMs);
            b.down = true;
            ++version_;
            Raise(b, "offline", "offline",
                  "The bench " + name + " has sent no status for " +
                      std::to_string((nowMs - b.lastStatusMs) / 60000) + " minutes.");
        } else if (b.view.state == "running") {
            const int64_t last = std::max(b.view.lastRowMs, b.view.sinceMs);
            if (nowMs - last > StallMs(b)) {
                SetState(b, "stalled", nowMs);
                b.down = true;
                ++version_;
                Raise(b, "stalled", "stalled",
                      "The bench " + name + " is running but has written no row for " +
                          std::to_string((nowMs - last) / 60000) + " minutes.");
            }
        }
    }
}

std::vector<BenchView> BenchBoard::Benches() const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<BenchView> out;
    out.reserve(benches_.size());
    for (const auto& [root, b] : benches_) out.push_back(b.view);
    std::sort(out.begin(), out.end(), [](const BenchView& a, const BenchView& b) {
        return std::tie(a.bench, a.topic) < std::tie(b.bench, b.topic);
    });
    return out;
}

std::vector<Alert> BenchBoard::TakeAlerts() {
    std::lock_guard<std::mutex> lock(mutex_);
    return std::exchange(alerts_, {});
}

std::vector<std::string> BenchBoard::TakeSentences() {
    std::lock_guard<std::mutex> lock(mutex_);
    return std::exchange(sentences_, {});
}

uint64_t BenchBoard::Version() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return version_;
}

}  // namespace varnholt
