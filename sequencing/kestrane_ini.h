#pragma once

#include <cstdint>
#include <optional>
#include <string>

class INIReader;

namespace varnholt {

constexpr char kConfigurationFile[] = "kestrane.ini";

// The values of kestrane.ini once checked; missing keys hold their defaults.
struct BenchSettings {
    int32_t sampleTimeTicks = 20;
    int32_t powerOffTicks = 20;
    int16_t powerSupplyPort = -1;
    int16_t shutterPort = -1;
    bool powerSupplyPortGiven = false;
    bool shutterPortGiven = false;
};

// Checks every value before anything is opened. A value that is present but
// not a whole number, or out of range, gives a sentence naming file, section,
// key and value.
std::optional<BenchSettings> ReadBenchSettings(const INIReader& ini, std::string& errorText);

// "Port<N>" of [SerialDevices], or empty when the file does not map N.
std::string MappedSerialDevice(const INIReader& ini, int portNumber);

}  // namespace varnholt
