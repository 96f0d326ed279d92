#pragma once

#include <cstdint>
#include <string>

namespace varnholt {

// What the Qt adapter needs from the system beneath Qt SerialPort, on the
// descriptor (or handle) Qt opened: the guards for Qt 6.4's faults on Linux,
// and an exclusive hold on the device.
struct LineState {
    bool readable = false;  // bytes are waiting
    bool hungUp = false;    // the device went away (USB adapter pulled)
};

// Drops whatever the driver holds from before the open.
void DiscardPendingBytes(std::intptr_t handle);
LineState PollLine(std::intptr_t handle);
// Holds the device for this open only: a second opener, whatever path it
// takes to the same device (a /dev/serial/by-id link), is refused. False when
// another program holds it.
bool HoldExclusively(std::intptr_t handle);
// Whether this user may open the device for reading and writing at all.
bool MayOpen(const std::string& device);

}  // namespace varnholt
