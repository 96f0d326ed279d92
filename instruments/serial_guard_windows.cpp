// The adapter's guards on Windows: the Linux faults they work around do not
// arise there, and a COM port is exclusive to the program that opened it.
#include "instruments/serial_guard.h"

namespace varnholt {

void DiscardPendingBytes(std::intptr_t) {}

// Qt reports a pulled USB adapter as a ResourceError on Windows.
LineState PollLine(std::intptr_t) { return {}; }

// The system refuses a second opener of a COM port by itself.
std::intptr_t LockDevice(const std::string&, bool& inUse) {
    inUse = false;
    return 0;
}

void UnlockDevice(std::intptr_t) {}

// A COM port that cannot be opened is busy, not forbidden.
bool MayOpen(const std::string&) { return true; }

}  // namespace varnholt
