#include "settings/serial_devices.h"

#include <map>

#include "runlog/working_directory.h"
#include "settings/kestrane_ini.h"

namespace varnholt {

const char kExampleIni[] = VARNHOLT_EXAMPLE_INI;

namespace {

std::map<std::string, std::string> mapped;  // "port3" -> "/dev/ttyUSB0"
bool iniFileFound = false;

}  // namespace

void UseSerialDevices(const IniFile& ini) {
    mapped = ini.Section("SerialDevices");
    iniFileFound = ini.found;
}

std::string SerialDevicePath(int portNumber) {
    // 0 switches a device off and -1 is the default of a missing key: neither
    // names a port, whatever [SerialDevices] says.
    if (portNumber < 1) return {};
    const auto it = mapped.find("port" + std::to_string(portNumber));
    if (it != mapped.end() && !it->second.empty()) return it->second;
    return DefaultSerialDevice(portNumber);
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
    if (!iniFileFound) {
        text += "; there is no " + std::string(kConfigurationFile) + " in " + WorkingDirectory() +
                ": copy the commented example " + kExampleIni + " there";
    }
    return text + ".";
}

std::string SerialOpenFailure(SerialRole role, int portNumber, const OpenFailure& failure) {
    const std::string device = role == SerialRole::PowerSupply ? "the power supply" : "the shutter";
    const std::string line = "Cannot open serial port " + std::to_string(portNumber) + " (" +
                             failure.device + ") for " + device + ": ";
    switch (failure.cause) {
        case OpenFailure::Cause::InUse:
            return line + "it is in use by another program. Close the other program (another " +
                   "copy of Varnholt?) or give each program its own port.";
        case OpenFailure::Cause::NoPermission:
            return line + failure.reason + ". Add the user to the dialout group (sudo adduser " +
                   "$USER dialout, then log in again).";
        default:
            return SerialOpenFailure(role, portNumber, failure.device, failure.reason);
    }
}

}  // namespace varnholt
