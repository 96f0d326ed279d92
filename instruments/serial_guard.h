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
// Qt's handle is an int descriptor on POSIX and a HANDLE on Windows.
inline std::intptr_t NativeHandle(int handle) { return handle; }
inline std::intptr_t NativeHandle(void* handle) { return reinterpret_cast<std::intptr_t>(handle); }

// Takes the device for this program before Qt opens it, so that a refused
// second opener never runs Qt's open and close on it (which switch the
// terminal's exclusive mode off under the first). A second opener, whatever
// path it takes to the same device (a /dev/serial/by-id link), is refused:
// kNoLock with inUse set. kNoLock with inUse clear: the device could not be
// opened at all, and Qt's open will say why.
constexpr std::intptr_t kNoLock = -1;
std::intptr_t LockDevice(const std::string& device, bool& inUse);
void UnlockDevice(std::intptr_t lock);
// Whether this user may open the device for reading and writing at all.
bool MayOpen(const std::string& device);

}  // namespace varnholt
