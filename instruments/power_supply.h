#pragma once

#include <cstdint>
#include <string>

#include "instruments/serial_port.h"

namespace varnholt {

void BindPowerSupplyPort(SerialPort* port);
// portNumber 0 means no power supply: every later call succeeds at once.
// A port that cannot be opened fails with a plain sentence; openFailure,
// when given, receives the cause for the caller's own wording.
bool PowerSupplyInit(int16_t portNumber, std::string& errorText,
                     OpenFailure* openFailure = nullptr);
bool PowerOn(std::string& errorText);
bool PowerOff(std::string& errorText);

}  // namespace varnholt
