#include "settings/serial_devices.h"

namespace varnholt {

// Qt SerialPort opens COM10 and above by these names too.
std::string DefaultSerialDevice(int portNumber) { return "COM" + std::to_string(portNumber); }

}  // namespace varnholt
