#include "tests/qt/pty_pair.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>

namespace varnholt::testing {

PtyPair::PtyPair() {
    char name[128];
    termios raw{};
    cfmakeraw(&raw);
    if (openpty(&master, &slave_, name, &raw, nullptr) != 0) throw std::runtime_error("openpty");
    slavePath = name;
}

PtyPair::~PtyPair() {
    if (master >= 0) ::close(master);
    if (slave_ >= 0) ::close(slave_);
}

void PtyPair::Hangup() {
    ::close(master);
    ::close(slave_);
    master = slave_ = -1;
}

void PtyPair::Write(const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(master, bytes.data() + done, bytes.size() - done);
        if (n <= 0) throw std::runtime_error("pty write");
        done += static_cast<size_t>(n);
    }
}

std::string PtyPair::Read(size_t count, int timeoutMs) {
    std::string out;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (out.size() < count) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            end - std::chrono::steady_clock::now());
        if (left.count() <= 0) break;
        pollfd fd{master, POLLIN, 0};
        if (::poll(&fd, 1, static_cast<int>(left.count())) <= 0) break;
        char buffer[4096];
        const ssize_t n = ::read(master, buffer, sizeof buffer);
        if (n <= 0) break;
        out.append(buffer, static_cast<size_t>(n));
    }
    return out;
}

}  // namespace varnholt::testing
