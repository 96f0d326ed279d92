#pragma once

#include <cstdint>
#include <string>

namespace varnholt {

// Why a port could not be opened, in the serial layer's terms; the caller
// words it for the operator, since only it knows which setting chose the port.
struct OpenFailure {
    enum class Cause {
        None,
        NoDevice,      // the number maps to no device at all
        Missing,       // the device does not exist (unplugged, wrong name)
        InUse,         // another program holds it
        NoPermission,  // the user may not open it
        BadSettings,   // the line settings are not valid or not taken
        Other,
    };
    Cause cause = Cause::None;
    std::string device;  // the device tried; empty for NoDevice
    std::string reason;  // the system's own words
};

// The properties of a serial control that the device links use. A port is
// set up in the order CommPort, Settings, InputLen, PortOpen.
class SerialPort {
public:
    virtual ~SerialPort() = default;

    virtual void CommPort(int16_t portNumber) = 0;
    // "baud,parity,data,stop", for example "9600,N,8,2".
    virtual void Settings(const std::string& settings) = 0;
    // 0: a read returns everything received so far.
    virtual void InputLen(int length) = 0;
    // Opening can fail (no such device, busy, no permission); failure then
    // says why.
    virtual bool PortOpen(bool open, OpenFailure& failure) = 0;
    // Queues the text and returns at once.
    virtual void Output(const std::string& text) = 0;
    // Everything received and not yet read; never waits.
    virtual std::string Input() = 0;
    // Throws away everything received so far, the system's buffer included:
    // before a command nothing received belongs to its reply.
    virtual void DiscardInput() { Input(); }

    // The device that was open and has gone away (a USB adapter pulled, a
    // hub reset), or empty while the line is usable or was never opened. A
    // gone line is closed and stays quiet until PortOpen opens it again with
    // the same number and settings.
    virtual std::string GoneDevice() const { return {}; }
};

}  // namespace varnholt
