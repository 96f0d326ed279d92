#pragma once

#include <cstdint>
#include <string>

#include "sequencing/status_line.h"

namespace varnholt {

void BindStatusLine(StatusLine* statusLine);
// Reports through the bound status line; nothing when none is bound.
void ShowStatus(const std::string& text);

// Reads kestrane.ini from the working directory, then brings up the power
// supply and, only once it is up, the shutter.
bool LoadConfiguration(std::string& errorText);

bool& CycleTestRunning();
bool& PowerCutTestRunning();
int32_t SampleTimeTicks();
int32_t PowerOffTicks();

enum class SerialRole { Shutter, PowerSupply };

// The device behind a port number: Port<N> of [SerialDevices] in kestrane.ini,
// otherwise the machine's N-th serial port. Empty when N names no device.
std::string SerialDevicePath(int portNumber);
// The operator's sentence for a port that could not be opened; reason is the
// system's, empty when the number maps to no device at all.
std::string SerialOpenFailure(SerialRole role, int portNumber, const std::string& devicePath,
                              const std::string& reason);

}  // namespace varnholt
