#include "instruments/shutter.h"

#include "instruments/reply_buffer.h"
#include "sequencing/clock.h"

namespace varnholt {
namespace {

constexpr int kReplyLimitTicks = 100;
constexpr char kReady[] = "RDY";
constexpr char kReadyEnd[] = "RDY\r";

SerialPort* port = nullptr;
bool shutterEnabled = false;

void Send(const std::string& command) {
    if (port != nullptr && !ShutdownRequested()) port->Output(command + "\r");
}

bool EndsWithReady(const std::string& reply) {
    return reply.size() >= 4 && reply.compare(reply.size() - 4, 4, kReadyEnd) == 0;
}

std::string ShutterCommand(const std::string& command) {
    const int64_t start = AppTicks();
    // Whatever the controller said earlier (the answer to a ShutterSend, say)
    // is not part of this command's reply.
    port->Input();
    Send(command);
    std::string reply;
    for (;;) {
        if (EndsWithReady(reply)) return reply;
        AppendBounded(reply, port->Input());
        ProcessPendingEvents();
        if (AppTicks() > start + kReplyLimitTicks || ShutdownRequested()) {
            return "-1 Timed out waiting for shutter response";
        }
    }
}

bool Move(const char* command, std::string& errorText) {
    if (!shutterEnabled || port == nullptr) {
        errorText.clear();
        return true;
    }
    errorText = ShutterCommand(command);
    if (errorText.compare(0, 3, kReady) == 0) {
        errorText.clear();
        return true;
    }
    return false;
}

}  // namespace

void BindShutterPort(SerialPort* serialPort) { port = serialPort; }

bool ShutterInit(int16_t portNumber, std::string& errorText) {
    errorText.clear();
    if (portNumber == 0) {
        shutterEnabled = false;
        return true;
    }
    shutterEnabled = true;
    if (port == nullptr) {
        errorText = "No serial port is bound for the shutter";
        return false;
    }
    port->CommPort(portNumber);
    port->Settings("9600,N,8,1");
    port->InputLen(0);
    return port->PortOpen(true, errorText);
}

bool OpenShutter(std::string& errorText) { return Move("OPEN", errorText); }

bool CloseShutter(std::string& errorText) { return Move("CLOSE", errorText); }

void ShutterSend(const std::string& command) {
    if (shutterEnabled) Send(command);
}

}  // namespace varnholt
