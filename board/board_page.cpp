#include "board/board_page.h"

#include <cmath>
#include <cstdio>

#include "report/report.h"
#include "runlog/json.h"
#include "runlog/run_record.h"

namespace varnholt {
namespace {

Json UtcOrNull(int64_t ms) { return ms > 0 ? Json(UtcText(ms / 1000)) : Json(nullptr); }

std::string Age(int64_t ms) {
    const int64_t s = std::max<int64_t>(0, ms / 1000);
    if (s < 120) return std::to_string(s) + " s";
    if (s < 7200) return std::to_string(s / 60) + " min";
    return std::to_string(s / 3600) + " h";
}

// A label value: backslash, quote and line feed escaped.
std::string Label(const std::string& text) {
    std::string out;
    for (const char c : text) {
        if (c == '\\' || c == '"') out += '\\';
        if (c == '\n') {
            out += "\\n";
            continue;
        }
        out += c;
    }
    return out;
}

}  // namespace

std::string HtmlText(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        switch (c) {
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '&':
                out += "&amp;";
                break;
            case '"':
                out += "&quot;";
                break;
            case '\'':
                out += "&#39;";
                break;
            default:
                out +=
                    byte < 0x20 || byte == 0x7F ? std::string("\xEF\xBF\xBD") : std::string(1, c);
        }
    }
    return out;
}

std::string BenchesJson(const std::vector<BenchView>& benches) {
    Json list = Json::array();
    for (const BenchView& b : benches) {
        list.push_back({{"bench", b.bench},
                        {"host", b.host},
                        {"topic", b.topic},
                        {"state", b.state},
                        {"test", b.test.empty() ? Json(nullptr) : Json(b.test)},
                        {"unit", b.unit},
                        {"lot", b.lot},
                        {"log", b.log.empty() ? Json(nullptr) : Json(b.log)},
                        {"cycle", b.cycle},
                        {"failures", b.failures},
                        {"shutter_failures", b.shutterFailures},
                        {"bench_faults", b.benchFaults},
                        {"cycles_per_hour", std::round(b.cyclesPerHour)},
                        {"last_failure", b.lastFailure},
                        {"last_row_utc", UtcOrNull(b.lastRowMs)},
                        {"updated_utc", UtcOrNull(b.updatedMs)},
                        {"since_utc", UtcOrNull(b.sinceMs)}});
    }
    return JsonText(list) + "\n";
}

std::string MetricsText(const std::vector<BenchView>& benches) {
    struct Family {
        const char *name, *type, *help;
        double (*value)(const BenchView&);
    };
    static const Family families[] = {
        {"varnholt_bench_up", "gauge", "Whether the bench is heard from (1) or offline (0).",
         [](const BenchView& b) { return b.state == "offline" ? 0.0 : 1.0; }},
        {"varnholt_bench_running", "gauge", "Whether the bench runs a test (stalled counts).",
         [](const BenchView& b) {
             return b.state == "running" || b.state == "stalled" ? 1.0 : 0.0;
         }},
        {"varnholt_cycles_total", "counter", "Cycles of the bench's current run.",
         [](const BenchView& b) { return static_cast<double>(b.cycle); }},
        {"varnholt_shutter_failures_total", "counter",
         "Shutter failures in the rows of the current run seen by the board.",
         [](const BenchView& b) { return static_cast<double>(b.shutterFailures); }},
        {"varnholt_bench_faults_total", "counter",
         "Bench faults in the rows of the current run seen by the board.",
         [](const BenchView& b) { return static_cast<double>(b.benchFaults); }},
        {"varnholt_last_row_timestamp_seconds", "gauge", "When the board got the bench's last row.",
         [](const BenchView& b) { return static_cast<double>(b.lastRowMs) / 1000.0; }},
    };
    std::string out;
    for (const Family& f : families) {
        out += std::string("# HELP ") + f.name + " " + f.help + "\n# TYPE " + f.name + " " +
               f.type + "\n";
        for (const BenchView& b : benches) {
            char value[64];
            std::snprintf(value, sizeof value, "%.17g", f.value(b));
            out += std::string(f.name) + "{bench=\"" + Label(b.bench) + "\",host=\"" +
                   Label(b.host) + "\",topic=\"" + Label(b.topic) + "\",unit=\"" + Label(b.unit) +
                   "\",lot=\"" + Label(b.lot) + "\"} " + value + "\n";
        }
    }
    return out;
}

std::string BenchesHtml(const std::vector<BenchView>& benches, int64_t nowMs) {
    if (benches.empty()) return "<p class=\"none\">No bench heard from yet.</p>\n";
    std::string out;
    for (const BenchView& b : benches) {
        std::string state = b.state;
        if (b.state == "running")
            state = b.test == "powercut" ? "running a power-cut test" : "running a cycle test";
        if (b.state == "failed") state = "ended by a failure";
        if (b.state == "offline" || b.state == "stalled") {
            state += " since " + UtcText(b.sinceMs / 1000).substr(11, 5) + " UTC";
        }
        out += "<div class=\"tile " + b.state + "\"><h2>" +
               HtmlText(b.bench.empty() ? b.topic : b.bench) + " <small>" + HtmlText(b.host) +
               "</small></h2>\n<p class=\"state\">" + HtmlText(state) + "</p>\n<dl>";
        const auto item = [&out](const char* term, const std::string& value) {
            out += std::string("<dt>") + term + "</dt><dd>" + HtmlText(value) + "</dd>";
        };
        item("Unit", b.unit.empty() ? "none" : b.unit);
        item("Lot", b.lot.empty() ? "none" : b.lot);
        item("Cycle", Thousands(b.cycle));
        item("Cycles/h", b.cyclesPerHour > 0 ? Thousands(std::llround(b.cyclesPerHour)) : "–");
        item("Last row", b.lastRowMs > 0 ? Age(nowMs - b.lastRowMs) + " ago" : "none yet");
        item("Failures", Thousands(b.failures));
        out += "</dl>\n";
        if (!b.lastFailure.empty())
            out += "<p class=\"failure\">" + HtmlText(b.lastFailure) + "</p>\n";
        out += "</div>\n";
    }
    return out;
}

std::string PageHtml(const std::string& benchesHtml, const std::string& lotsHtml) {
    return R"(<!DOCTYPE html>
<html lang="en"><head><meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>Varnholt lab board</title>
<style>
body{font-family:"DejaVu Sans",sans-serif;margin:1em;background:#f4f4f2;color:#222;font-size:clamp(14px,1.2vw,22px)}
h1{font-size:1.4em;margin:.2em 0 .6em}
#benches{display:grid;grid-template-columns:repeat(auto-fill,minmax(16em,1fr));gap:.8em}
.tile{background:#fff;border-left:.5em solid #999;padding:.5em .8em;border-radius:4px}
.tile h2{font-size:1.15em;margin:.1em 0}.tile small{color:#666;font-weight:normal}
.running{border-color:#2a8f3a}.idle{border-color:#888}.failed{border-color:#c0392b}
.offline{border-color:#555;background:#e6e6e6}.stalled{border-color:#e67e22;background:#fdf1e4}
.state{font-weight:bold;margin:.2em 0}
dl{display:grid;grid-template-columns:auto 1fr;gap:0 .8em;margin:.3em 0}dt{color:#666}dd{margin:0}
.failure{color:#c0392b;margin:.2em 0}
.lot{background:#fff;padding:.6em .8em;margin-top:1em;border-radius:4px}
.lot img{max-width:100%;height:auto}
table{border-collapse:collapse}td,th{padding:.1em .6em;text-align:left}
</style></head><body>
<h1>Varnholt lab board</h1>
<div id="benches">)" +
           benchesHtml + R"(</div>
<div id="lots">)" +
           lotsHtml +
           R"(</div>
<script>
"use strict";
async function refresh(id, path) {
  try {
    const r = await fetch(path, {cache: "no-store"});
    if (r.ok) document.getElementById(id).innerHTML = await r.text();
  } catch (e) {}
}
setInterval(() => refresh("benches", "/benches.html"), 1000);
setInterval(() => refresh("lots", "/lots.html"), 10000);
</script>
</body></html>
)";
}

}  // namespace varnholt
