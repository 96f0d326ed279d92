#include "instruments/shutter.h"

#include "instruments/line_exchange.h"

namespace varnholt {
namespace {

// The controller's wire rules: 9600 baud, no parity, 8 data bits, 1 stop bit;
// a command ends with CR alone. A reply is complete when it ends "RDY" CR and
// succeeds when it starts with "RDY"; anything before that is the fault.
constexpr char kPortSettings[] = "9600,N,8,1";
constexpr int kBaud = 9600;
constexpr char kCommandEnd[] = "\r";
constexpr int32_t kReplyLimitTicks = 100;
constexpr char kTimeout[] = "-1 Timed out waiting for shutter response";
constexpr char kReady[] = "RDY";
constexpr char kReadyEnd[] = "RDY\r";

bool EndsWithReady(const std::string& reply) {
    return reply.size() >= 4 && reply.compare(reply.size() - 4, 4, kReadyEnd) == 0;
}

bool StartsWithReady(const std::string& reply) { return reply.compare(0, 3, kReady) == 0; }

constexpr ReplyRules kRules{EndsWithReady, kReplyLimitTicks, kTimeout};

Link link;
bool shutterEnabled = false;

std::string ShutterCommand(const std::string& command) {
    return Exchange(link, command + kCommandEnd, kRules);
}

int32_t lastMoveMs = -1;

bool Move(const char* command, std::string& errorText) {
    lastMoveMs = -1;
    if (!shutterEnabled) {
        errorText.clear();
        return true;
    }
    errorText = ShutterCommand(command);
    if (StartsWithReady(errorText)) {
        errorText.clear();
        lastMoveMs = link.lastReplyMs;
        return true;
    }
    return false;
}

}  // namespace

void BindShutterPort(SerialPort* serialPort) {
    link.port = serialPort;
    link.baud = kBaud;
}

int32_t LastMoveMilliseconds() { return lastMoveMs; }

bool ShutterInit(int16_t portNumber, std::string& errorText, OpenFailure* openFailure) {
    errorText.clear();
    if (portNumber == 0) {
        shutterEnabled = false;
        return true;
    }
    shutterEnabled = true;
    link.number = portNumber;
    link.timedOut = false;
    SerialPort* port = link.port;
    if (port == nullptr) {
        errorText = "No serial port is bound for the shutter";
        return false;
    }
    port->CommPort(portNumber);
    port->Settings(kPortSettings);
    port->InputLen(0);
    OpenFailure failure;
    if (port->PortOpen(true, failure)) return true;
    errorText = OpenFailureText("the shutter", portNumber, failure);
    if (openFailure != nullptr) *openFailure = failure;
    return false;
}

bool OpenShutter(std::string& errorText) { return Move("OPEN", errorText); }

bool CloseShutter(std::string& errorText) { return Move("CLOSE", errorText); }

void ShutterSend(const std::string& command) {
    if (shutterEnabled) SendLine(link, command + kCommandEnd);
}

}  // namespace varnholt
