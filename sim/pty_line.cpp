#include "sim/pty_line.h"

#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>
#include <iostream>

namespace varnholt::sim {

std::string Visible(const std::string& bytes) {
    std::string out;
    for (unsigned char c : bytes) {
        if (c == '\r')
            out += "<CR>";
        else if (c == '\n')
            out += "<LF>";
        else if (c < 32 || c > 126) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "<%02X>", c);
            out += hex;
        } else
            out += static_cast<char>(c);
    }
    return out;
}

Transcript::Transcript(const std::string& path) {
    if (!path.empty()) file_.open(path, std::ios::app);
}

void Transcript::Line(const std::string& text) {
    const auto now = std::chrono::system_clock::now();
    const std::time_t t = std::chrono::system_clock::to_time_t(now);
    const auto us =
        std::chrono::duration_cast<std::chrono::microseconds>(now.time_since_epoch()).count() %
        1000000;
    std::tm local{};
    localtime_r(&t, &local);
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "%02d:%02d:%02d.%06d ", local.tm_hour, local.tm_min,
                  local.tm_sec, static_cast<int>(us));
    std::ostream& out = file_.is_open() ? static_cast<std::ostream&>(file_) : std::cout;
    out << stamp << text << std::endl;
}

bool Line::Open() {
    char buffer[128];
    termios raw{};
    cfmakeraw(&raw);
    if (openpty(&master, &slave, buffer, &raw, nullptr) != 0) return false;
    path = buffer;
    fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
    if (!link.empty()) {
        ::unlink(link.c_str());
        if (::symlink(path.c_str(), link.c_str()) != 0) return false;
    }
    return true;
}

void Line::Unplug(int replugAfterMs) {
    GoAway();
    if (!link.empty()) ::unlink(link.c_str());
    unplugged = true;
    replugAt = Clock::now() + std::chrono::milliseconds(replugAfterMs);
}

bool Line::Replug() {
    unplugged = false;
    gone = false;
    pending.clear();
    return Open();
}

void Line::GoAway() {
    if (gone) return;
    gone = true;
    ::close(master);
    ::close(slave);
    master = slave = -1;
}

}  // namespace varnholt::sim
