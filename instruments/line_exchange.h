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

// One link's hold on its line.
struct Link {
    SerialPort* port = nullptr;
    int16_t number = 0;  // the configured port number, for messages
    // The last exchange gave up: the tail of its reply may still be arriving.
    bool timedOut = false;
    // Run after the line was opened again (the supply leaves remote mode when
    // its line drops).
    void (*reopened)(Link& link) = nullptr;
    // The line's speed, for the time a command's bytes take on the wire.
    int baud = 9600;
    // The last exchange's milliseconds from the command's last byte on the
    // wire to its completed reply; -1 when it did not complete.
    int32_t lastReplyMs = -1;
    bool goneTold = false;  // the drop was told to the line watcher
};

// Told once when a line is found gone and once when it is opened again;
// nothing is sent from inside it.
using LineWatcher = void (*)(bool back, int16_t portNumber, const std::string& device);
void WatchLines(LineWatcher watcher);

// An empty text while the line is usable. If its device went away, opens it
// again (same device name and settings); if that fails, the text that ends the
// operation: "-1 Serial port 3 (/dev/...) was disconnected".
std::string ReopenIfGone(Link& link);

// Queues text on the port (opening a line that went away first, if it is
// back); nothing once the window is closing.
void SendLine(Link& link, const std::string& text);

// Empties the input, sends line and collects the reply by the rules. Returns
// the reply, or the time-out text (also at once when no port is bound, and
// when the window closes mid-wait), or the disconnected text when the line
// goes away (within a pass of the event loop) or is gone and not back.
// After a time-out the line must first be quiet for a tick (what arrives is
// discarded) before anything is sent, within the same limit.
std::string Exchange(Link& link, const std::string& line, const ReplyRules& rules);

// "Cannot open serial port 3 (/dev/ttyS2) for the shutter: <reason>." The
// configuration's own wording, which names the key to change, replaces it at
// start-up.
std::string OpenFailureText(const char* instrument, int portNumber, const OpenFailure& failure);

}  // namespace varnholt
