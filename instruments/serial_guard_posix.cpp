// The adapter's system calls on POSIX systems.
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>

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

std::intptr_t LockDevice(const std::string& device, bool& inUse) {
    inUse = false;
    // Non-blocking: a modem line without carrier would hold the open.
    const int fd = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        // A terminal in exclusive mode refuses every opener but root.
        inUse = errno == EBUSY;
        return kNoLock;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        inUse = true;
        // A plain close: another opener holds the device, so this is not its
        // last close and changes none of its modes.
        ::close(fd);
        return kNoLock;
    }
    return fd;
}

void UnlockDevice(std::intptr_t lock) {
    if (lock != kNoLock) ::close(static_cast<int>(lock));
}

bool MayOpen(const std::string& device) { return ::access(device.c_str(), R_OK | W_OK) == 0; }

}  // namespace varnholt
