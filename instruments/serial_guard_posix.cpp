// The adapter's system calls on POSIX systems.
#include <poll.h>
#include <sys/file.h>
#include <termios.h>
#include <unistd.h>

#include "instruments/serial_guard.h"

namespace varnholt {

void DiscardPendingBytes(std::intptr_t handle) { ::tcflush(static_cast<int>(handle), TCIOFLUSH); }

LineState PollLine(std::intptr_t handle) {
    pollfd fd{static_cast<int>(handle), POLLIN, 0};
    LineState state;
    if (::poll(&fd, 1, 0) <= 0) return state;
    state.readable = (fd.revents & POLLIN) != 0;
    // A hung-up tty reports POLLHUP (and reads 0 bytes or EIO) for ever.
    state.hungUp = (fd.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
    return state;
}

bool HoldExclusively(std::intptr_t handle) {
    return ::flock(static_cast<int>(handle), LOCK_EX | LOCK_NB) == 0;
}

bool MayOpen(const std::string& device) { return ::access(device.c_str(), R_OK | W_OK) == 0; }

}  // namespace varnholt
