#include "instruments/line_exchange.h"

#include "sequencing/clock.h"

namespace varnholt {

void AppendBounded(std::string& reply, const std::string& more) {
    reply += more;
    if (reply.size() > kMaxReplyLength) {
        const std::string tail = reply.substr(reply.size() - kReplyTailKept);
        reply.resize(kMaxReplyLength - kReplyTailKept);
        reply += tail;
    }
}

void SendLine(SerialPort* port, const std::string& text) {
    if (port != nullptr && !ShutdownRequested()) port->Output(text);
}

std::string Exchange(SerialPort* port, const std::string& line, const ReplyRules& rules) {
    if (port == nullptr) return rules.timeoutText;
    const int64_t start = AppTicks();
    // What the device said earlier (a late reply to an exchange that timed
    // out, the answer to a send without waiting) is not this exchange's reply.
    port->Input();
    SendLine(port, line);
    std::string reply;
    // The order of a pass is what the tick-exact tests pin: the completion
    // test comes only at the top, so bytes read after a complete reply keep
    // the exchange going, and the deadline comes after the events, so a reply
    // completed by the read of the last pass is not returned.
    for (;;) {
        if (rules.complete(reply)) return reply;
        AppendBounded(reply, port->Input());
        ProcessPendingEvents();
        if (AppTicks() > start + rules.limitTicks || ShutdownRequested()) return rules.timeoutText;
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
