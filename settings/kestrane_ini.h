#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "settings/ini_file.h"
#include "timing/clock.h"

namespace varnholt {

constexpr char kConfigurationFile[] = "kestrane.ini";

// What a missing file, section or key gives.
constexpr int32_t kDefaultPeriodSeconds = 2;
constexpr int16_t kDefaultPort = -1;

// The values of kestrane.ini once checked; missing keys hold their defaults.
struct BenchSettings {
    int32_t sampleTimeTicks = kDefaultPeriodSeconds * kTicksPerSecond;
    int32_t powerOffTicks = kDefaultPeriodSeconds * kTicksPerSecond;
    int16_t powerSupplyPort = kDefaultPort;
    int16_t shutterPort = kDefaultPort;
    // [Diagnostics] TraceFile: where to record the wire, empty for no trace.
    std::string traceFile;
    bool powerSupplyPortGiven = false;
    bool shutterPortGiven = false;
};

// Checks every value before anything is opened. A value that is present but
// not a whole number, or out of range, gives a sentence naming file, section,
// key and value.
std::optional<BenchSettings> ReadBenchSettings(const IniFile& ini, std::string& errorText);

}  // namespace varnholt
