#include "sequencing/configuration.h"

#include "instruments/power_supply.h"
#include "instruments/shutter.h"
#include "sequencing/run_flags.h"
#include "settings/ini_file.h"
#include "settings/kestrane_ini.h"
#include "settings/monitoring_settings.h"
#include "settings/serial_devices.h"
#include "settings/trace_file.h"

namespace varnholt {
namespace {

TraceStarter traceStarter;
MonitoringStarter monitoringStarter;
int32_t sampleTimeTicks = BenchSettings{}.sampleTimeTicks;
int32_t powerOffTicks = BenchSettings{}.powerOffTicks;

}  // namespace

void OnTraceFile(TraceStarter start) { traceStarter = std::move(start); }
void OnMonitoring(MonitoringStarter start) { monitoringStarter = std::move(start); }

int32_t SampleTimeTicks() { return sampleTimeTicks; }
int32_t PowerOffTicks() { return powerOffTicks; }

bool LoadConfiguration(std::string& errorText) {
    CycleTestRunning() = false;
    PowerCutTestRunning() = false;

    IniFile ini;
    if (!ReadIniFile(kConfigurationFile, ini, errorText)) return false;
    UseSerialDevices(ini);
    const auto settings = ReadBenchSettings(ini, errorText);
    if (!settings) return false;
    sampleTimeTicks = settings->sampleTimeTicks;
    powerOffTicks = settings->powerOffTicks;
    const auto monitoring = ReadMonitoringSettings(ini, errorText);
    if (!monitoring) return false;
    if (!settings->traceFile.empty() &&
        (!CheckTraceFile(settings->traceFile, errorText) ||
         (traceStarter && !traceStarter(settings->traceFile, errorText)))) {
        return false;
    }

    if (monitoringStarter) monitoringStarter(*monitoring);

    OpenFailure failure;
    if (!PowerSupplyInit(settings->powerSupplyPort, errorText, &failure)) {
        if (failure.cause != OpenFailure::Cause::None) {
            errorText =
                SerialOpenFailure(SerialRole::PowerSupply, settings->powerSupplyPort, failure);
        }
        return false;
    }
    if (!ShutterInit(settings->shutterPort, errorText, &failure)) {
        if (failure.cause != OpenFailure::Cause::None) {
            errorText = SerialOpenFailure(SerialRole::Shutter, settings->shutterPort, failure);
        }
        return false;
    }
    errorText.clear();
    return true;
}

}  // namespace varnholt
