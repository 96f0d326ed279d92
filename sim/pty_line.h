#pragma once
// One simulated instrument's line: a pseudo-terminal the program opens as a
// serial device, and the timestamped transcript both lines write to.

#include <chrono>
#include <fstream>
#include <string>

namespace varnholt::sim {

using Clock = std::chrono::steady_clock;

// Bytes with control characters shown: "OPEN<CR>".
std::string Visible(const std::string& bytes);

class Transcript {
public:
    explicit Transcript(const std::string& path);
    void Line(const std::string& text);

private:
    std::ofstream file_;
};

// One pseudo-terminal: the program opens `path`, we hold the master.
struct Line {
    std::string name;
    int master = -1;
    int slave = -1;  // held so the line stays up between the program's opens
    std::string path;
    std::string link;  // the stable name, as /dev/serial/by-id gives a USB adapter
    std::string pending;
    bool gone = false;
    bool unplugged = false;
    bool unplugAfterReply = false;
    bool pullPending = false;
    Clock::time_point pullAt;
    Clock::time_point replugAt;

    bool Open();
    // Pulled: the program's side hangs up and the stable name disappears.
    void Unplug(int replugAfterMs);
    bool Replug();
    void GoAway();
};

}  // namespace varnholt::sim
