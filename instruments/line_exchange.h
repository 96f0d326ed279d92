#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "instruments/serial_port.h"

namespace varnholt {

// A device that floods the line without ever ending a reply must not grow it
// without limit: past this size the head (what a reply is judged by) and the
// tail (what ends it) are kept.
constexpr size_t kMaxReplyLength = 4096;
constexpr size_t kReplyTailKept = 16;
void AppendBounded(std::string& reply, const std::string& more);

// How one link's replies end and how long it waits for them.
struct ReplyRules {
    bool (*complete)(const std::string& reply);
    int32_t limitTicks;       // gives up once limit + 1 ticks have been counted
    const char* timeoutText;  // begins "-1 " so a caller reads it as a failure
};

// Queues text on the port; nothing once the window is closing.
void SendLine(SerialPort* port, const std::string& text);

// Empties the input, sends line and collects the reply by the rules. Returns
// the reply, or the time-out text (also at once when no port is bound, and
// when the window closes mid-wait).
std::string Exchange(SerialPort* port, const std::string& line, const ReplyRules& rules);

// "Cannot open serial port 3 (/dev/ttyS2) for the shutter: <reason>." The
// configuration's own wording, which names the key to change, replaces it at
// start-up.
std::string OpenFailureText(const char* instrument, int portNumber, const OpenFailure& failure);

}  // namespace varnholt
