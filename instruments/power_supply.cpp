#include "instruments/power_supply.h"

#include "instruments/leading_number.h"
#include "instruments/reply_buffer.h"
#include "sequencing/clock.h"

namespace varnholt {
namespace {

constexpr int kReplyLimitTicks = 20;
constexpr char kLineEnd[] = "\r\n";
constexpr char kErrorQuery[] = ";SYST:ERR?";
constexpr char kMaker[] = "HEWLETT-PACKARD";

SerialPort* port = nullptr;
bool powerSupplyEnabled = false;

bool EndsWithLineEnd(const std::string& text) {
    return text.size() >= 2 && text.compare(text.size() - 2, 2, kLineEnd) == 0;
}

void Send(const std::string& line) {
    if (port != nullptr && !ShutdownRequested()) port->Output(line);
}

std::string Exchange(const std::string& line, const char* timeoutText) {
    const int64_t start = AppTicks();
    // A late reply to an exchange that timed out would otherwise be taken as
    // the answer to this one, and a stale "+0" turns a rejected command into
    // a success.
    if (port != nullptr) port->Input();
    Send(line);
    std::string reply;
    for (;;) {
        if (EndsWithLineEnd(reply)) return reply;
        if (port != nullptr) AppendBounded(reply, port->Input());
        ProcessPendingEvents();
        if (AppTicks() > start + kReplyLimitTicks || ShutdownRequested()) return timeoutText;
    }
}

std::string PowerSupplyCommand(const std::string& command) {
    return Exchange(command + kErrorQuery + kLineEnd, "-1 Timed out waiting for power supply");
}

std::string PowerSupplyQuery(const std::string& command) {
    return Exchange(command + kLineEnd, "-1 Timed out waiting for response");
}

bool ReportsNoError(const std::string& reply) { return LeadingNumber(reply) == 0.0; }

bool PowerSupplyReset(std::string& errorText) {
    Send(std::string("SYST:REM") + kLineEnd);
    // The supply needs a moment in remote mode before it takes the reset.
    Sleep(200);
    errorText = PowerSupplyCommand("*RST;*CLS");
    return ReportsNoError(errorText);
}

bool PowerSupplyIdentify(std::string& errorText) {
    errorText = PowerSupplyQuery("*IDN?");
    if (errorText.compare(0, sizeof(kMaker) - 1, kMaker) == 0) return true;
    errorText = "Bad ID: " + errorText;
    return false;
}

bool PowerSupplyApply(std::string& errorText) {
    errorText = PowerSupplyCommand("APPL P25V, 12.0, 1.0");
    return ReportsNoError(errorText);
}

bool SwitchOutput(const char* command, std::string& errorText) {
    if (!powerSupplyEnabled) {
        errorText.clear();
        return true;
    }
    errorText = PowerSupplyCommand(command);
    return ReportsNoError(errorText);
}

}  // namespace

void BindPowerSupplyPort(SerialPort* serialPort) { port = serialPort; }

bool PowerSupplyInit(int16_t portNumber, std::string& errorText) {
    if (portNumber == 0) {
        powerSupplyEnabled = false;
        errorText.clear();
        return true;
    }
    powerSupplyEnabled = true;
    if (port == nullptr) {
        errorText = "No serial port is bound for the power supply";
        return false;
    }
    port->CommPort(portNumber);
    port->Settings("9600,N,8,2");
    port->InputLen(0);
    if (!port->PortOpen(true, errorText)) return false;

    if (PowerSupplyReset(errorText) && PowerSupplyIdentify(errorText) &&
        PowerSupplyApply(errorText)) {
        errorText.clear();
        return true;
    }
    return false;
}

bool PowerOn(std::string& errorText) { return SwitchOutput("OUTP ON", errorText); }

bool PowerOff(std::string& errorText) { return SwitchOutput("OUTP OFF", errorText); }

}  // namespace varnholt
