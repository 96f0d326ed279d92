#include "sequencing/configuration.h"

#include <INIReader.h>

#include <filesystem>
#include <memory>

#include "instruments/power_supply.h"
#include "instruments/shutter.h"
#include "sequencing/kestrane_ini.h"
#include "sequencing/working_directory.h"

namespace varnholt {
namespace {

StatusLine* statusLine = nullptr;
bool cycleTestRunning = false;
bool powerCutTestRunning = false;
int32_t sampleTimeTicks = 20;
int32_t powerOffTicks = 20;
std::unique_ptr<INIReader> ini;

bool IniFileFound() { return ini && ini->ParseError() != -1; }

}  // namespace

void BindStatusLine(StatusLine* line) { statusLine = line; }

void ShowStatus(const std::string& text) {
    if (statusLine != nullptr) statusLine->SetText(text);
}

bool& CycleTestRunning() { return cycleTestRunning; }
bool& PowerCutTestRunning() { return powerCutTestRunning; }
int32_t SampleTimeTicks() { return sampleTimeTicks; }
int32_t PowerOffTicks() { return powerOffTicks; }

bool LoadConfiguration(std::string& errorText) {
    cycleTestRunning = false;
    powerCutTestRunning = false;

    ini = std::make_unique<INIReader>(kConfigurationFile);
    const auto settings = ReadBenchSettings(*ini, errorText);
    if (!settings) return false;
    sampleTimeTicks = settings->sampleTimeTicks;
    powerOffTicks = settings->powerOffTicks;

    if (!PowerSupplyInit(settings->powerSupplyPort, errorText)) return false;
    if (!ShutterInit(settings->shutterPort, errorText)) return false;
    errorText.clear();
    return true;
}

std::string SerialDevicePath(int portNumber) {
    if (ini) {
        std::string mapped = MappedSerialDevice(*ini, portNumber);
        if (!mapped.empty()) return mapped;
    }
    if (portNumber < 1) return {};
#ifdef _WIN32
    return "COM" + std::to_string(portNumber);
#else
    return "/dev/ttyS" + std::to_string(portNumber - 1);
#endif
}

std::string SerialOpenFailure(SerialRole role, int portNumber, const std::string& devicePath,
                              const std::string& reason) {
    const bool supply = role == SerialRole::PowerSupply;
    const std::string device = supply ? "the power supply" : "the shutter";
    const std::string key = supply ? "PowerSupplyPort" : "ShutterPort";
    const std::string off = supply ? "0 = no power supply" : "0 = no shutter";
    const std::string number = std::to_string(portNumber);

    std::string text = "Cannot open serial port " + number;
    if (devicePath.empty()) {
        text += " for " + device + ": set " + key + " in [Communications] of " +
                kConfigurationFile + " (" + off + ")";
    } else {
        text += " (" + devicePath + ") for " + device + ": " + reason + ". Check " + key +
                " in [Communications] of " + kConfigurationFile + ", or map the port in " +
                "[SerialDevices] as Port" + number + "=/dev/...";
    }
    if (!IniFileFound()) {
        text += "; there is no " + std::string(kConfigurationFile) + " in " + WorkingDirectory();
    }
    return text + ".";
}

}  // namespace varnholt
