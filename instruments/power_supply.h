#pragma once

#include <cstdint>
#include <string>

#include "instruments/serial_port.h"

namespace varnholt {

void BindPowerSupplyPort(SerialPort* port);
// portNumber 0 means no power supply: every later call succeeds at once.
bool PowerSupplyInit(int16_t portNumber, std::string& errorText);
bool PowerOn(std::string& errorText);
bool PowerOff(std::string& errorText);

}  // namespace varnholt
