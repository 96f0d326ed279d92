#pragma once

#include <string>

#include "instruments/serial_port.h"
#include "settings/ini_file.h"

namespace varnholt {

// Where the install puts a commented kestrane.ini.
extern const char kExampleIni[];

enum class SerialRole { Shutter, PowerSupply };

// Takes the [SerialDevices] mapping of the file just read.
void UseSerialDevices(const IniFile& ini);

// The device behind a port number: Port<N> of [SerialDevices] in kestrane.ini,
// otherwise the machine's N-th serial port. Empty when N names no device.
std::string SerialDevicePath(int portNumber);

// The machine's own name for port N (N from 1): /dev/ttyS<N-1>, or COM<N>
// on Windows.
std::string DefaultSerialDevice(int portNumber);

// The operator's sentence for a port that could not be opened: which key of
// which file to change. reason is the system's; devicePath is empty when the
// number maps to no device at all.
std::string SerialOpenFailure(SerialRole role, int portNumber, const std::string& devicePath,
                              const std::string& reason);
std::string SerialOpenFailure(SerialRole role, int portNumber, const OpenFailure& failure);

}  // namespace varnholt
