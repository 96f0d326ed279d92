#include "instruments/power_supply.h"

#include "instruments/leading_number.h"
#include "instruments/line_exchange.h"
#include "timing/clock.h"

namespace varnholt {
namespace {

// The supply's wire rules: 9600 baud, no parity, 8 data bits, 2 stop bits;
// every line ends with CR LF, and so does every reply. A command carries the
// error-queue query and succeeds only when the reply's leading number is 0.
constexpr char kPortSettings[] = "9600,N,8,2";
constexpr int kBaud = 9600;
constexpr char kLineEnd[] = "\r\n";
constexpr char kErrorQuery[] = ";SYST:ERR?";
constexpr int32_t kReplyLimitTicks = 20;
constexpr char kCommandTimeout[] = "-1 Timed out waiting for power supply";
constexpr char kQueryTimeout[] = "-1 Timed out waiting for response";
constexpr char kMaker[] = "HEWLETT-PACKARD";
// The supply needs a moment in remote mode before it takes the reset.
constexpr int kRemoteSettleMilliseconds = 200;

bool EndsWithLineEnd(const std::string& text) {
    return text.size() >= 2 && text.compare(text.size() - 2, 2, kLineEnd) == 0;
}

bool ReportsNoError(const std::string& reply) { return LeadingNumber(reply) == 0.0; }

constexpr ReplyRules kCommandRules{EndsWithLineEnd, kReplyLimitTicks, kCommandTimeout};
constexpr ReplyRules kQueryRules{EndsWithLineEnd, kReplyLimitTicks, kQueryTimeout};

Link link;
bool powerSupplyEnabled = false;

// Also what a reopened line gets: a supply may fall back to local control
// when its line drops. Nothing more is sent then: a reset or the output
// programming would change the output under a running bench. Written to the
// port directly, as SendLine would try to reopen the line it is reopening.
void EnterRemoteMode(Link& line) {
    if (line.port != nullptr && !ShutdownRequested()) {
        line.port->Output(std::string("SYST:REM") + kLineEnd);
    }
    Sleep(kRemoteSettleMilliseconds);
}

std::string PowerSupplyCommand(const std::string& command) {
    return Exchange(link, command + kErrorQuery + kLineEnd, kCommandRules);
}

std::string PowerSupplyQuery(const std::string& command) {
    return Exchange(link, command + kLineEnd, kQueryRules);
}

bool PowerSupplyReset(std::string& errorText) {
    EnterRemoteMode(link);
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

void BindPowerSupplyPort(SerialPort* serialPort) {
    link.port = serialPort;
    link.reopened = EnterRemoteMode;
    link.baud = kBaud;
}

bool PowerSupplyInit(int16_t portNumber, std::string& errorText, OpenFailure* openFailure) {
    if (portNumber == 0) {
        powerSupplyEnabled = false;
        errorText.clear();
        return true;
    }
    powerSupplyEnabled = true;
    link.number = portNumber;
    link.timedOut = false;
    SerialPort* port = link.port;
    if (port == nullptr) {
        errorText = "No serial port is bound for the power supply";
        return false;
    }
    port->CommPort(portNumber);
    port->Settings(kPortSettings);
    port->InputLen(0);
    OpenFailure failure;
    if (!port->PortOpen(true, failure)) {
        errorText = OpenFailureText("the power supply", portNumber, failure);
        if (openFailure != nullptr) *openFailure = failure;
        return false;
    }

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
