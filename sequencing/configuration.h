#pragma once

#include <cstdint>
#include <string>

namespace varnholt {

// Clears the run flags, reads kestrane.ini from the working directory, then
// brings up the power supply and, only once it is up, the shutter.
bool LoadConfiguration(std::string& errorText);

// The test periods read at start-up, in ticks.
int32_t SampleTimeTicks();
int32_t PowerOffTicks();

}  // namespace varnholt
