#include "settings/kestrane_ini.h"

#include <limits>

namespace varnholt {
namespace {

struct Key {
    const char* section;
    const char* name;
    const char* advice;
};

constexpr Key kSampleTime{"TestPeriods", "SampleTimePeriod", "give the period in whole seconds"};
constexpr Key kPowerOff{"TestPeriods", "PowerOffPeriod", "give the period in whole seconds"};
constexpr Key kPowerSupplyPort{"Communications", "PowerSupplyPort",
                               "give the serial port number, 0 for no power supply"};
constexpr Key kShutterPort{"Communications", "ShutterPort",
                           "give the serial port number, 0 for no shutter"};

std::string Describe(const Key& key, const std::string& value) {
    return std::string(kConfigurationFile) + ": [" + key.section + "] " + key.name + " = '" +
           value + "'";
}

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// Plain decimal whole numbers only: blanks around it and a sign allowed.
std::optional<int64_t> WholeNumber(const std::string& text) {
    size_t begin = 0, end = text.size();
    while (begin < end && IsBlank(text[begin])) ++begin;
    while (end > begin && IsBlank(text[end - 1])) --end;
    size_t i = begin;
    bool negative = false;
    if (i < end && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    if (i == end) return std::nullopt;
    int64_t value = 0;
    for (; i < end; ++i) {
        const char c = text[i];
        if (c < '0' || c > '9') return std::nullopt;
        // Clamp huge values; the range checks below reject them with a sentence.
        if (value < 1'000'000'000'000'000) value = value * 10 + (c - '0');
    }
    return negative ? -value : value;
}

// Missing: the default. Present: a whole number, or nullopt with the sentence.
std::optional<int64_t> Lookup(const IniFile& ini, const Key& key, int64_t defaultValue, bool& given,
                              std::string& errorText) {
    given = ini.Has(key.section, key.name);
    if (!given) return defaultValue;
    const std::string text = ini.Get(key.section, key.name);
    const auto value = WholeNumber(text);
    if (!value) errorText = Describe(key, text) + " is not a whole number; " + key.advice + ".";
    return value;
}

std::optional<int32_t> Period(const IniFile& ini, const Key& key, std::string& errorText) {
    bool given = false;
    const auto seconds = Lookup(ini, key, kDefaultPeriodSeconds, given, errorText);
    if (!seconds) return std::nullopt;
    const std::string text = ini.Get(key.section, key.name);
    if (*seconds < 0) {
        errorText = Describe(key, text) + " is negative; " + key.advice + " (0 or more).";
        return std::nullopt;
    }
    constexpr int64_t kMaxSeconds = std::numeric_limits<int32_t>::max() / kTicksPerSecond;
    if (*seconds > kMaxSeconds) {
        errorText = Describe(key, text) + " is too long; " + key.advice + ", at most " +
                    std::to_string(kMaxSeconds) + ".";
        return std::nullopt;
    }
    return static_cast<int32_t>(*seconds * kTicksPerSecond);
}

std::optional<int16_t> Port(const IniFile& ini, const Key& key, bool& given,
                            std::string& errorText) {
    const auto number = Lookup(ini, key, kDefaultPort, given, errorText);
    if (!number) return std::nullopt;
    if (*number < std::numeric_limits<int16_t>::min() ||
        *number > std::numeric_limits<int16_t>::max()) {
        errorText = Describe(key, ini.Get(key.section, key.name)) + " is outside -32768..32767; " +
                    key.advice + ".";
        return std::nullopt;
    }
    return static_cast<int16_t>(*number);
}

}  // namespace

std::optional<BenchSettings> ReadBenchSettings(const IniFile& ini, std::string& errorText) {
    BenchSettings settings;
    const auto sample = Period(ini, kSampleTime, errorText);
    if (!sample) return std::nullopt;
    const auto powerOff = Period(ini, kPowerOff, errorText);
    if (!powerOff) return std::nullopt;
    const auto supply = Port(ini, kPowerSupplyPort, settings.powerSupplyPortGiven, errorText);
    if (!supply) return std::nullopt;
    const auto shutter = Port(ini, kShutterPort, settings.shutterPortGiven, errorText);
    if (!shutter) return std::nullopt;
    settings.sampleTimeTicks = *sample;
    settings.powerOffTicks = *powerOff;
    settings.powerSupplyPort = *supply;
    settings.shutterPort = *shutter;
    settings.traceFile = ini.Get("Diagnostics", "TraceFile");
    return settings;
}

}  // namespace varnholt
