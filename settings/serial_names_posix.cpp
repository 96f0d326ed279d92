#include "settings/serial_devices.h"

namespace varnholt {

// Port 1 is the first serial port, /dev/ttyS0.
std::string DefaultSerialDevice(int portNumber) {
    return "/dev/ttyS" + std::to_string(portNumber - 1);
}

}  // namespace varnholt
