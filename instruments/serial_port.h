#pragma once

#include <cstdint>
#include <string>

namespace varnholt {

// The six properties of a serial control that the device links use. A port is
// set up in the order CommPort, Settings, InputLen, PortOpen, once per run.
class SerialPort {
public:
    virtual ~SerialPort() = default;

    virtual void CommPort(int16_t portNumber) = 0;
    // "baud,parity,data,stop", for example "9600,N,8,2".
    virtual void Settings(const std::string& settings) = 0;
    // 0: a read returns everything received so far.
    virtual void InputLen(int length) = 0;
    // Opening can fail (no such device, busy, no permission); errorText then
    // holds a sentence for the operator.
    virtual bool PortOpen(bool open, std::string& errorText) = 0;
    // Queues the text and returns at once.
    virtual void Output(const std::string& text) = 0;
    // Everything received and not yet read; never waits.
    virtual std::string Input() = 0;
};

}  // namespace varnholt
