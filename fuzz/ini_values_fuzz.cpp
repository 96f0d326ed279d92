#include <cstdint>
#include <cstdlib>
#include <string>

#include "settings/ini_file.h"
#include "settings/kestrane_ini.h"
#include "settings/serial_devices.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const varnholt::IniFile ini =
        varnholt::ParseIniText(std::string(reinterpret_cast<const char*>(data), size));
    std::string errorText;
    const auto settings = varnholt::ReadBenchSettings(ini, errorText);
    if (settings) {
        // Accepted values are always usable as they stand.
        if (settings->sampleTimeTicks < 0 || settings->powerOffTicks < 0) std::abort();
        if (settings->sampleTimeTicks % 10 != 0 || settings->powerOffTicks % 10 != 0) std::abort();
    } else if (errorText.rfind("kestrane.ini: [", 0) != 0) {
        std::abort();  // every refusal names the file and the section
    }
    varnholt::UseSerialDevices(ini);
    for (int port : {-1, 0, 1, 3, 32767}) varnholt::SerialDevicePath(port);
    return 0;
}
