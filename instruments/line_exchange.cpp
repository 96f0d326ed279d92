#include "instruments/line_exchange.h"

#include <chrono>

#include "timing/clock.h"

namespace varnholt {

namespace {
LineWatcher lineWatcher = nullptr;
}  // namespace

void WatchLines(LineWatcher watcher) { lineWatcher = watcher; }

void AppendBounded(std::string& reply, const std::string& more) {
    reply += more;
    if (reply.size() > kMaxReplyLength) {
        const std::string tail = reply.substr(reply.size() - kReplyTailKept);
        reply.resize(kMaxReplyLength - kReplyTailKept);
        reply += tail;
    }
}

namespace {

void TellGone(Link& link, const std::string& device) {
    if (link.goneTold) return;
    link.goneTold = true;
    if (lineWatcher != nullptr) lineWatcher(false, link.number, device);
}

std::string Disconnected(Link& link, const std::string& device) {
    TellGone(link, device);
    return "-1 Serial port " + std::to_string(link.number) + " (" + device + ") was disconnected";
}

// One tick without a byte arriving, or the deadline.
bool WaitForQuiet(Link& link, int64_t deadline, std::string& ended) {
    link.port->Input();
    int64_t quietSince = AppTicks();
    while (AppTicks() < quietSince + 1) {
        ProcessPendingEvents();
        if (!link.port->Input().empty()) quietSince = AppTicks();
        const std::string gone = link.port->GoneDevice();
        if (!gone.empty()) {
            ended = Disconnected(link, gone);
            return false;
        }
        if (AppTicks() > deadline || ShutdownRequested()) return false;
    }
    return true;
}

}  // namespace

std::string ReopenIfGone(Link& link) {
    if (link.port == nullptr) return {};
    const std::string gone = link.port->GoneDevice();
    if (gone.empty()) return {};
    OpenFailure failure;
    if (!link.port->PortOpen(true, failure)) {
        // Back, but another program took it meanwhile.
        if (failure.cause == OpenFailure::Cause::InUse) {
            TellGone(link, gone);
            return "-1 Serial port " + std::to_string(link.number) + " (" + gone +
                   ") is in use by another program";
        }
        return Disconnected(link, gone);
    }
    link.timedOut = false;
    if (link.goneTold) {
        link.goneTold = false;
        if (lineWatcher != nullptr) lineWatcher(true, link.number, gone);
    }
    if (link.reopened != nullptr) link.reopened(link);
    return {};
}

void SendLine(Link& link, const std::string& text) {
    if (link.port == nullptr || ShutdownRequested()) return;
    if (ReopenIfGone(link).empty()) link.port->Output(text);
}

std::string Exchange(Link& link, const std::string& line, const ReplyRules& rules) {
    link.lastReplyMs = -1;
    if (link.port == nullptr) return rules.timeoutText;
    const int64_t start = AppTicks();
    const int64_t deadline = start + rules.limitTicks;
    std::string ended = ReopenIfGone(link);
    if (!ended.empty()) return ended;
    if (link.timedOut && !WaitForQuiet(link, deadline, ended)) {
        return ended.empty() ? rules.timeoutText : ended;
    }
    // What the device said earlier (the answer to a send without waiting, a
    // late reply, idle babble) is not this exchange's reply.
    link.port->DiscardInput();
    SendLine(link, line);
    // The bytes leave the driver at the line's speed: 10 bits each.
    const auto lastByteOnWire =
        std::chrono::steady_clock::now() +
        std::chrono::microseconds(int64_t{10'000'000} * static_cast<int64_t>(line.size()) /
                                  link.baud);
    std::string reply;
    // The order of a pass is what the tick-exact tests pin: the completion
    // test comes only at the top, so bytes read after a complete reply keep
    // the exchange going, and the deadline comes after the events, so a reply
    // completed by the read of the last pass is not returned.
    for (;;) {
        if (rules.complete(reply)) {
            link.timedOut = false;
            const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(
                std::chrono::steady_clock::now() - lastByteOnWire);
            link.lastReplyMs = static_cast<int32_t>(took.count() < 0 ? 0 : took.count());
            return reply;
        }
        AppendBounded(reply, link.port->Input());
        ProcessPendingEvents();
        // A reply completed by the read that also saw the line go is still
        // the device's answer.
        const std::string gone = link.port->GoneDevice();
        if (!gone.empty()) {
            AppendBounded(reply, link.port->Input());
            if (!rules.complete(reply)) return Disconnected(link, gone);
        }
        if (AppTicks() > deadline || ShutdownRequested()) {
            link.timedOut = true;
            return rules.timeoutText;
        }
    }
}

std::string OpenFailureText(const char* instrument, int portNumber, const OpenFailure& failure) {
    std::string text = "Cannot open serial port " + std::to_string(portNumber);
    if (!failure.device.empty()) text += " (" + failure.device + ")";
    text += std::string(" for ") + instrument;
    if (!failure.reason.empty()) text += ": " + failure.reason;
    return text + ".";
}

}  // namespace varnholt
