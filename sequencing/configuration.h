#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace varnholt {

// Clears the run flags, reads kestrane.ini from the working directory, then
// brings up the power supply and, only once it is up, the shutter.
bool LoadConfiguration(std::string& errorText);

// Called during LoadConfiguration, before any port opens, with the file
// named by [Diagnostics] TraceFile when kestrane.ini gives one. Returns false
// with a sentence when the trace cannot be started.
using TraceStarter = std::function<bool(const std::string& file, std::string& errorText)>;
void OnTraceFile(TraceStarter start);

// Called during LoadConfiguration, once every value of kestrane.ini has been
// checked and before any port opens, with the [Monitoring] settings.
struct MonitoringSettings;
using MonitoringStarter = std::function<void(const MonitoringSettings& settings)>;
void OnMonitoring(MonitoringStarter start);

// The test periods read at start-up, in ticks.
int32_t SampleTimeTicks();
int32_t PowerOffTicks();

}  // namespace varnholt
